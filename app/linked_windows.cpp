// Hand-over points to the libraries that own the other windows.

#include "app/linked_windows.h"

#include <QDir>
#include <algorithm>

#include "app/main_window.h"
#include "app/process_state.h"
#include "config/config_ui.h"
#include "device/transport.h"
#include "devtest/self_test.h"
#include "firmware/firmware_upgrade.h"
#include "keycodes/my4way_layout.h"
#include "ui/unit_picture.h"

namespace talkgate::app {
namespace {

// The status read the configuration file is written from: the main window's own, so that the
// window's fields follow the device as well.
int readStatusThroughWindow(dorrin_usb_encoder::Form1& window, DeviceStatus& out) {
  if (window.GetDeviceStatusMessage() != 0) return -1;
  out.symbolBrightness = static_cast<std::uint8_t>(window.prev_symbolBrightness_index);
  out.ambientConfig = static_cast<std::uint8_t>(window.prev_ambient_cfg_index);
  out.keypadType = static_cast<std::uint8_t>(window.prev_keypadType_index);
  std::copy_n(dorrin_usb_encoder::keyCodeArray.begin(), out.keyTable.size(), out.keyTable.begin());
  out.firmwareVersion = window.firmwareVersion.toLatin1().toStdString();
  out.serialNumber = window.serialNumber.toLatin1().toStdString();
  out.temperature = window.temperature.toLatin1().toStdString();
  return 0;
}

}  // namespace

void locateConfigFile() {
  config::locateAndCreateConfigFile();
}

void saveToConfigFile(dorrin_usb_encoder::Form1& window) {
  config::SaveToConfigFile(
      &window, [&window](DeviceStatus& out) { return readStatusThroughWindow(window, out); });
}

bool restoreFromConfigFile(dorrin_usb_encoder::Form1& window) {
  return config::restoreFromConfigFile(&window, hid_handle);
}

void importConfigFile(dorrin_usb_encoder::Form1& window) {
  config::importConfigFile(&window);
}

void exportConfigFile(dorrin_usb_encoder::Form1& window) {
  config::exportConfigFile(&window);
}

void openKeyCodeEditor(dorrin_usb_encoder::Form1& window) {
  dorrin_usb_encoder::openKeyCodeEditor(&window);
}

QWidget* openSelfTestWindow(dorrin_usb_encoder::Form1& window) {
  auto* test = new dorrin_usb_encoder::self_test();
  test->setPicture(talkgate::ui::unitPicturePath());
  test->move(window.pos());
  test->show();
  return test;
}

void showUpgradeWindow(dorrin_usb_encoder::Form1& window, const UpgradeSnapshot& snapshot) {
  using dorrin_usb_encoder::firmware_upgrade;
  // Without a fresh status read the window keeps the snapshot it already holds.
  if (snapshot.fromDevice) {
    KeyTable keyCodes{};
    std::copy(snapshot.keyCodes.begin(), snapshot.keyCodes.end(), keyCodes.begin());
    firmware_upgrade::setSettingsSnapshot(snapshot.keypadType, keyCodes, snapshot.serialNumber,
                                          snapshot.symbolBrightness, snapshot.ambientConfig);
  }
  auto* upgrade = new firmware_upgrade();
  upgrade->move(window.pos());
  upgrade->show();
}

}  // namespace talkgate::app
