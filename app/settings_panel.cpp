// The main window's settings lists and action buttons.

#include <QDir>

#include "app/linked_windows.h"
#include "app/main_window.h"
#include "app/process_state.h"
#include "app/setting_combo_box.h"
#include "app/status_lines.h"
#include "device/commands.h"
#include "device/transport.h"
#include "firmware/firmware_upgrade.h"
#include "firmware/loader_images.h"
#include "ui/dialogs.h"

namespace dorrin_usb_encoder {

using talkgate::app::LineStyle;
using talkgate::ui::Answer;
using talkgate::ui::Buttons;
using talkgate::ui::Icon;

namespace {

const QString kCaptionTalkgate = QStringLiteral("Velkor Talkgate");
const QString kBrightnessRefused = QStringLiteral("Unable to set the LED Brightness..");
const QString kKeypadTypeRefused = QStringLiteral("Unable to set Keypad Type..");

// A list position as the one payload byte; positions come from the list, so they fit.
std::uint8_t payloadByte(int index) {
  return static_cast<std::uint8_t>(index);
}

}  // namespace

bool Form1::applySetting(talkgate::app::SettingComboBox* list, int index, int& remembered,
                         int (*send)(talkgate::DeviceHandle, std::uint8_t),
                         const QString& failure) {
  if (index >= 0 && send(talkgate::hid_handle, payloadByte(index)) == 0) {
    remembered = index;
    return true;
  }
  warn(failure, kCaptionTalkgate);
  list->selectEntry(remembered);
  return false;
}

void Form1::changeSymbolBrightness(int index) {
  applySetting(led2BrightnessJOCbox, index, prev_symbolBrightness_index,
               &talkgate::setSymbolBrightness, kBrightnessRefused);
}

void Form1::changeAmbientConfig(int index) {
  applySetting(led1BrightnessJOCbox, index, prev_ambient_cfg_index, &talkgate::setAmbientConfig,
               kBrightnessRefused);
}

void Form1::changeKeypadType(int index) {
  if (applySetting(keypadTypeCbox, index, prev_keypadType_index, &talkgate::setKeypadType,
                   kKeypadTypeRefused)) {
    showConnectedLines(LineStyle::Normal);
  }
}

void Form1::saveChanges() {
  talkgate::app::saveToConfigFile(*this);
}

void Form1::resetToFactoryDefault() {
  // The device answers nothing worth showing; the lists refresh at the next scan.
  (void)talkgate::factoryReset(talkgate::hid_handle);
}

void Form1::resetFromConfigFile() {
  if (!talkgate::app::restoreFromConfigFile(*this)) return;
  if (GetDeviceStatusMessage() == 0) {
    EnableDisableFunctionButtons(true);
    selectRememberedEntries();
    showConnectedLines(LineStyle::Restored);
  } else {
    keypadTypeCbox->setDisplayText(QStringLiteral("Keypad - Layout"));
    led1BrightnessJOCbox->setDisplayText(QStringLiteral("ZONE1 Brightness"));
    led2BrightnessJOCbox->setDisplayText(QStringLiteral("ZONE2 Brightness"));
    showDisconnectedLine();
    EnableDisableFunctionButtons(false);
  }
}

void Form1::customiseCodeTable() {
  talkgate::app::openKeyCodeEditor(*this);
}

void Form1::openSelfTest() {
  if (GetDeviceStatusMessage() != 0) {
    warn(QStringLiteral("Unable to get device message..Please click on Scan for and try again.."),
         kCaptionTalkgate);
    return;
  }
  selfTestFrm = talkgate::app::openSelfTestWindow(*this);
}

void Form1::updateFirmware() {
  // One upgrade window at a time. While it programs or writes back, it only comes forward and
  // nothing is sent; otherwise the device is sent to its loader as usual and the open window,
  // which counts loaders as they come, takes over instead of a second one.
  QWidget* open = talkgate::app::openUpgradeWindow(*this);
  if (open != nullptr && talkgate::app::upgradeRunning(*this)) {
    talkgate::app::bringForward(open);
    return;
  }
  // Refused before the device is even asked for its status: in its loader, a real Talkgate
  // could get nothing but our stand-ins, and those would cost it its firmware.
  const std::string refusal = talkgate::firmware::loaderImagesRefusal(
      talkgate::hid::activePort(), talkgate::firmware::loaderImageSources());
  if (!refusal.empty()) {
    warn(QString::fromStdString(refusal), QStringLiteral("Firmware Upgrade"));
    return;
  }
  talkgate::app::UpgradeSnapshot snapshot;
  if (GetDeviceStatusMessage() == 0) {
    snapshot.keypadType = prev_keypadType_index;
    snapshot.symbolBrightness = prev_symbolBrightness_index;
    snapshot.ambientConfig = prev_ambient_cfg_index;
    std::copy_n(keyCodeArray.begin(), snapshot.keyCodes.size(), snapshot.keyCodes.begin());
    snapshot.serialNumber = serialNumber;
    snapshot.fromDevice = true;
    // Taken now, whatever the answer below: the upgrade window always holds the last settings
    // read from the device.
    talkgate::app::takeUpgradeSnapshot(snapshot);
  } else {
    warn(QStringLiteral("Unable to get device status information"), kCaptionTalkgate);
  }
  const Answer answer = talkgate::ui::dialogs().message(
      this, QStringLiteral("Are you sure you want to upgrade the firmware?\n"),
      QStringLiteral("Firmware Upgrade"), Buttons::YesNo, Icon::Question);
  if (answer != Answer::Yes) return;
  // Its port is read while it is still on the bus: its loader must appear on the same one.
  const std::string location =
      talkgate::configInterfaceLocation(talkgate::kVendorId, talkgate::kProductId);
  if (talkgate::enterLoader(talkgate::hid_handle) != 0) EnableDisableFunctionButtons(false);
  // The window then programs the loader this Talkgate starts without asking again.
  firmware_upgrade::openerStartedLoader = snapshot.fromDevice;
  firmware_upgrade::openerTalkgateLocation = snapshot.fromDevice ? location : std::string();
  emit upgradeWindowRequested(snapshot);
  if (open != nullptr) {
    talkgate::app::bringForward(open);
  } else {
    talkgate::app::showUpgradeWindow(*this);
  }
}

}  // namespace dorrin_usb_encoder
