#pragma once
// The main window: device connection, status lines, settings lists and the buttons that open
// the other windows.

#include <QMainWindow>
#include <QPointer>
#include <QString>
#include <cstdint>

#include "app/upgrade_snapshot.h"
#include "device/transport.h"

class QAction;
class QLabel;
class QMenu;
class QMenuBar;
class QStatusBar;
class QPlainTextEdit;
class QPushButton;

namespace talkgate::app {
class SettingComboBox;
enum class LineStyle;
}  // namespace talkgate::app

namespace dorrin_usb_encoder {

class Form1 : public QMainWindow {
  Q_OBJECT
 public:
  explicit Form1(QWidget* parent = nullptr);
  ~Form1() override;

  // Reads the device status into the fields below: 0 on success, -1 when the request failed
  // (the fields then keep their values). Shows nothing and touches no control.
  std::int8_t GetDeviceStatusMessage();
  // Enables or disables the eight device controls.
  void EnableDisableFunctionButtons(bool enable);

  // The device status as last read (the keypad type also as last accepted by the device).
  int prev_symbolBrightness_index = 0;
  int prev_ambient_cfg_index = 0;
  int prev_keypadType_index = 0;
  QString firmwareVersion;
  QString serialNumber;
  QString temperature;
  // The last self test window opened.
  QPointer<QWidget> selfTestFrm;

  // Controls, named as the operator's documentation names them.
  QLabel* label1 = nullptr;
  QPushButton* button11 = nullptr;
  QPlainTextEdit* richTextBox1 = nullptr;
  talkgate::app::SettingComboBox* keypadTypeCbox = nullptr;
  talkgate::app::SettingComboBox* led1BrightnessJOCbox = nullptr;
  talkgate::app::SettingComboBox* led2BrightnessJOCbox = nullptr;
  QPushButton* button1 = nullptr;
  QPushButton* button2 = nullptr;
  QPushButton* button3 = nullptr;
  QPushButton* button8 = nullptr;
  QPushButton* button9 = nullptr;
  QPushButton* btnLoadFirmware = nullptr;
  QPushButton* button10 = nullptr;
  QMenuBar* menuStrip1 = nullptr;
  QStatusBar* statusStrip1 = nullptr;
  QAction* importCfgAction = nullptr;
  QAction* exportCfgAction = nullptr;
  QAction* exitAction = nullptr;
  QAction* aboutAction = nullptr;

 public slots:
  // Opens the device and shows its status; runs once, when the window is first shown.
  void loadWindow();
  // "Scan For Device": reopens the device and refreshes the window.
  void scanForDevice();
  // "Exit", from the button, the menu or the window manager: closes the windows opened from
  // here, then the device, and asks the program to end. While a firmware upgrade runs it only
  // says so and everything stays open.
  void exitProgram();
  // Opens a new About window at this window's position.
  void showAbout();

  // Settings lists: the operator committed a choice of entry.
  void changeSymbolBrightness(int index);
  void changeAmbientConfig(int index);
  void changeKeypadType(int index);
  // "Save Changes", "Reset To Factory Default", "Reset From Configuration File".
  void saveChanges();
  void resetToFactoryDefault();
  void resetFromConfigFile();
  // "Customise Code Table", "Test", "Update Firmware".
  void customiseCodeTable();
  void openSelfTest();
  void updateFirmware();

 signals:
  // "Exit" was chosen, the other windows and the device are closed; the program should end now.
  void exitRequested();
  // The firmware upgrade window is due, with the settings to restore after programming.
  void upgradeWindowRequested(const talkgate::app::UpgradeSnapshot& snapshot);

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void buildControls();
  void buildMenus();
  // "Exit" keeps its place, but rises with the bottom edge of a short window so that the
  // status bar never covers it.
  void placeExitButton();
  // Opens hid_handle afresh, closing any previous handle first. A device on the bus that cannot
  // be opened leaves a permission hint in the status bar until an open succeeds.
  void reopenDevice();
  // Selects the three lists' entries at the remembered values.
  void selectRememberedEntries();
  // Writes the three status lines for the connected device.
  void showConnectedLines(talkgate::app::LineStyle style);
  // Writes the disconnected first line; lines 2 and 3 keep what they held.
  void showDisconnectedLine();
  void refreshStatusBox();
  // Shows a warning with one OK button.
  void warn(const QString& text, const QString& caption);
  // Commands after a list choice: send, remember or roll back.
  bool applySetting(talkgate::app::SettingComboBox* list, int index, int& remembered,
                    int (*send)(talkgate::DeviceHandle, std::uint8_t), const QString& failure);

  bool loaded_ = false;
  bool exiting_ = false;
};

}  // namespace dorrin_usb_encoder
