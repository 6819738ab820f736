#pragma once
// Where the main window hands over to the configuration file, the key code editor, the self
// test and the firmware upgrade, each of which lives in its own library. Windows opened from the
// main window are owned by it: they stay above it and leave with it.

#include <QWidget>

#include "app/upgrade_snapshot.h"

namespace dorrin_usb_encoder {
class Form1;
}

namespace talkgate::app {

// Locates the configuration file and creates it on the first run; never fails start-up.
void locateConfigFile();
// Save Changes: reads the status, writes it beside the file, makes the device store its
// settings as its defaults, then puts the file in place.
void saveToConfigFile(dorrin_usb_encoder::Form1& window);
// Sends the file's settings to the device; true when every request was accepted.
bool restoreFromConfigFile(dorrin_usb_encoder::Form1& window);
// "File" menu: copies the configuration file from or to a folder the operator picks.
void importConfigFile(dorrin_usb_encoder::Form1& window);
void exportConfigFile(dorrin_usb_encoder::Form1& window);
// Opens the key code editor with its own status read and checks.
void openKeyCodeEditor(dorrin_usb_encoder::Form1& window);
// Creates the self test window with its picture, at the main window's position, shown.
QWidget* openSelfTestWindow(dorrin_usb_encoder::Form1& window);
// Hands the settings just read to the upgrade windows, which write them back after programming.
void takeUpgradeSnapshot(const UpgradeSnapshot& snapshot);
// Creates and shows the firmware upgrade window, at the main window's position.
void showUpgradeWindow(dorrin_usb_encoder::Form1& window);
// The upgrade window opened from the main window that is still open, or nullptr: there is
// only ever one, since one device can take one upgrade at a time.
QWidget* openUpgradeWindow(const dorrin_usb_encoder::Form1& window);
// Shows a window that may be hidden behind others or minimised in front, and activates it.
void bringForward(QWidget* window);
// True while an upgrade window opened from the main window is programming or writing back.
bool upgradeRunning(const dorrin_usb_encoder::Form1& window);
// What the operator is told when leaving would cut an upgrade short.
QString upgradeRunningText();
// Closes the windows opened from the main window, newest first, each doing its own closing
// work; false when one of them stays open.
bool closeSecondaryWindows(dorrin_usb_encoder::Form1& window);

}  // namespace talkgate::app
