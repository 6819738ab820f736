// Hand-over points to the libraries that own the other windows. Each library is compiled in
// when it is part of the build (TALKGATE_HAVE_...); without it the main window does its own part
// of the work and stops at these functions.

#include "app/linked_windows.h"

#include <QDir>
#include <algorithm>

#include "app/main_window.h"
#include "app/process_state.h"
#include "device/transport.h"

#ifdef TALKGATE_HAVE_CONFIG_UI
#include "config/config_ui.h"
#endif
#ifdef TALKGATE_HAVE_KEYCODES_UI
#include "keycodes/my4way_layout.h"
#endif
#ifdef TALKGATE_HAVE_DEVTEST
#include "devtest/self_test.h"
#endif

namespace talkgate::app {

#ifdef TALKGATE_HAVE_CONFIG_UI
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
#endif

void locateConfigFile() {
#ifdef TALKGATE_HAVE_CONFIG_UI
  config::locateAndCreateConfigFile();
#endif
}

void saveToConfigFile(dorrin_usb_encoder::Form1& window) {
#ifdef TALKGATE_HAVE_CONFIG_UI
  config::SaveToConfigFile(
      &window, [&window](DeviceStatus& out) { return readStatusThroughWindow(window, out); });
#else
  (void)window;
#endif
}

bool restoreFromConfigFile(dorrin_usb_encoder::Form1& window) {
#ifdef TALKGATE_HAVE_CONFIG_UI
  return config::restoreFromConfigFile(&window, hid_handle);
#else
  (void)window;
  return false;
#endif
}

void importConfigFile(dorrin_usb_encoder::Form1& window) {
#ifdef TALKGATE_HAVE_CONFIG_UI
  config::importConfigFile(&window);
#else
  (void)window;
#endif
}

void exportConfigFile(dorrin_usb_encoder::Form1& window) {
#ifdef TALKGATE_HAVE_CONFIG_UI
  config::exportConfigFile(&window);
#else
  (void)window;
#endif
}

void openKeyCodeEditor(dorrin_usb_encoder::Form1& window) {
#ifdef TALKGATE_HAVE_KEYCODES_UI
  dorrin_usb_encoder::openKeyCodeEditor(&window);
#else
  (void)window;
#endif
}

QWidget* openSelfTestWindow(dorrin_usb_encoder::Form1& window) {
#ifdef TALKGATE_HAVE_DEVTEST
  auto* test = new dorrin_usb_encoder::self_test();
  test->setPicture(QDir::currentPath() + QStringLiteral("/Lumesk.jpg"));
  test->move(window.pos());
  test->show();
  return test;
#else
  (void)window;
  return nullptr;
#endif
}

void showUpgradeWindow(dorrin_usb_encoder::Form1& window, const UpgradeSnapshot& snapshot) {
  // The firmware upgrade window is created and shown here once its library is in the build.
  (void)window;
  (void)snapshot;
}

}  // namespace talkgate::app
