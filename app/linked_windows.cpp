// Hand-over points to the libraries that own the other windows.

#include "app/linked_windows.h"

#include <QDir>
#include <algorithm>

#include "app/main_window.h"
#include "app/process_state.h"
#include "config/config_ui.h"
#include "device/commands.h"
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
      &window, [&window](DeviceStatus& out) { return readStatusThroughWindow(window, out); },
      [] { return storeDefaults(hid_handle); });
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
  auto* test = new dorrin_usb_encoder::self_test(&window);
  test->setPicture(talkgate::ui::unitPicturePath());
  test->move(window.pos());
  test->show();
  return test;
}

void takeUpgradeSnapshot(const UpgradeSnapshot& snapshot) {
  KeyTable keyCodes{};
  std::copy(snapshot.keyCodes.begin(), snapshot.keyCodes.end(), keyCodes.begin());
  dorrin_usb_encoder::firmware_upgrade::setSettingsSnapshot(
      snapshot.keypadType, keyCodes, snapshot.serialNumber, snapshot.symbolBrightness,
      snapshot.ambientConfig);
}

void showUpgradeWindow(dorrin_usb_encoder::Form1& window) {
  auto* upgrade = new dorrin_usb_encoder::firmware_upgrade(&window);
  upgrade->move(window.pos());
  upgrade->show();
}

QWidget* openUpgradeWindow(const dorrin_usb_encoder::Form1& window) {
  const auto upgrades = window.findChildren<dorrin_usb_encoder::firmware_upgrade*>(
      QString(), Qt::FindDirectChildrenOnly);
  for (auto* upgrade : upgrades) {
    if (upgrade->isVisible()) return upgrade;
  }
  return nullptr;
}

void bringForward(QWidget* window) {
  window->setWindowState((window->windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
  window->show();
  window->raise();
  window->activateWindow();
}

bool upgradeRunning(const dorrin_usb_encoder::Form1& window) {
  const auto upgrades = window.findChildren<dorrin_usb_encoder::firmware_upgrade*>(
      QString(), Qt::FindDirectChildrenOnly);
  return std::any_of(upgrades.begin(), upgrades.end(),
                     [](const auto* upgrade) { return upgrade->upgradeRunning(); });
}

QString upgradeRunningText() {
  return QString::fromLatin1(dorrin_usb_encoder::firmware_upgrade::kUpgradeRunningText);
}

bool closeSecondaryWindows(dorrin_usb_encoder::Form1& window) {
  QList<QWidget*> owned;
  for (QObject* child : window.children()) {
    auto* widget = qobject_cast<QWidget*>(child);
    if (widget != nullptr && widget->isWindow() && widget->isVisible()) owned << widget;
  }
  // Newest first, so a window opened from another one goes before it.
  for (auto it = owned.rbegin(); it != owned.rend(); ++it) {
    if (!(*it)->close()) return false;
  }
  return true;
}

}  // namespace talkgate::app
