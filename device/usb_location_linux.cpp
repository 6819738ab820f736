#include "device/usb_location_linux.h"

#include <filesystem>
#include <system_error>

namespace talkgate::hid {
namespace {

bool isDigit(char c) {
  return c >= '0' && c <= '9';
}

// "1-1", "3-1.4.2": a bus number, then port numbers joined by '.'. Root hubs ("usb1") and
// interfaces ("1-1:1.0") are not USB devices on a port.
bool isUsbPortName(const std::string& name) {
  const std::size_t dash = name.find('-');
  if (dash == 0 || dash == std::string::npos || dash + 1 == name.size()) return false;
  for (std::size_t i = 0; i < dash; ++i) {
    if (!isDigit(name[i])) return false;
  }
  bool digitBefore = false;
  for (std::size_t i = dash + 1; i < name.size(); ++i) {
    if (isDigit(name[i])) {
      digitBefore = true;
    } else if (name[i] == '.' && digitBefore) {
      digitBefore = false;
    } else {
      return false;
    }
  }
  return digitBefore;
}

}  // namespace

std::string usbLocationOfHidraw(const std::string& devicePath, const std::string& sysRoot) {
  namespace fs = std::filesystem;
  const std::string node = fs::path(devicePath).filename().string();
  if (node.rfind("hidraw", 0) != 0 || node.size() == 6) return {};
  for (std::size_t i = 6; i < node.size(); ++i) {
    if (!isDigit(node[i])) return {};
  }
  std::error_code error;
  // The HID device (0003:2047:0922.0001) sits right under its USB interface (1-1:1.1), which
  // sits under the USB device (1-1). HID elsewhere (Bluetooth, I2C, uhid) has no USB interface
  // as its parent, even where its adapter is itself on USB.
  const fs::path hid =
      fs::canonical(fs::path(sysRoot) / "class" / "hidraw" / node / "device", error);
  if (error) return {};
  const fs::path usbInterface = hid.parent_path();
  const std::string device = usbInterface.parent_path().filename().string();
  if (isUsbPortName(device) && usbInterface.filename().string().rfind(device + ":", 0) == 0) {
    return device;
  }
  return {};
}

}  // namespace talkgate::hid
