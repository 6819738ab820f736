// The hidraw interfaces from sysfs (see hidraw_sysfs.h).

#include "device/hidraw_sysfs.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace talkgate::hid {
namespace {

namespace fs = std::filesystem;

// The bus types of HID_ID that hidapi lists too.
constexpr unsigned kBusUsb = 0x03;
constexpr unsigned kBusBluetooth = 0x05;
constexpr unsigned kBusI2c = 0x18;
constexpr unsigned kBusSpi = 0x1C;

// A sysfs attribute without its final newline; nothing when it cannot be read (gone).
std::optional<std::string> readAttribute(const fs::path& file) {
  std::ifstream in(file);
  if (!in) return std::nullopt;
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) return std::nullopt;
  std::string value = text.str();
  if (!value.empty() && value.back() == '\n') value.pop_back();
  return value;
}

// Text decoded as hidapi decodes device strings (the C library's multibyte conversion); empty
// when it does not convert.
std::wstring widen(const std::string& text) {
  const std::size_t length = std::mbstowcs(nullptr, text.c_str(), 0);
  if (length == static_cast<std::size_t>(-1)) return {};
  std::wstring wide(length, L'\0');
  std::mbstowcs(wide.data(), text.c_str(), length);
  return wide;
}

// A device string attribute; empty when missing.
std::wstring wideAttribute(const fs::path& file) {
  const auto text = readAttribute(file);
  return text ? widen(*text) : std::wstring();
}

struct Uevent {
  unsigned bus = 0;
  unsigned vendorId = 0;
  unsigned productId = 0;
  std::string name;
  std::string uniq;
};

// HID_ID, HID_NAME and HID_UNIQ of a HID device's uevent; nothing when one is missing.
std::optional<Uevent> parseUevent(const std::string& text) {
  Uevent uevent;
  bool haveId = false, haveName = false, haveUniq = false;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    const auto equals = line.find('=');
    if (equals == std::string::npos) continue;
    const std::string key = line.substr(0, equals), value = line.substr(equals + 1);
    if (key == "HID_ID") {
      haveId = std::sscanf(value.c_str(), "%x:%x:%x", &uevent.bus, &uevent.vendorId,
                           &uevent.productId) == 3 &&
               uevent.vendorId <= 0xFFFF && uevent.productId <= 0xFFFF;
    } else if (key == "HID_NAME") {
      uevent.name = value;
      haveName = true;
    } else if (key == "HID_UNIQ") {
      uevent.uniq = value;
      haveUniq = true;
    }
  }
  if (!haveId || !haveName || !haveUniq) return std::nullopt;
  return uevent;
}

}  // namespace

std::optional<DeviceInfo> readHidrawInterface(const std::string& classDirectory) {
  std::error_code error;
  const fs::path node = fs::canonical(classDirectory, error);
  if (error) return std::nullopt;
  const fs::path hidDevice = fs::canonical(node / "device", error);
  if (error) return std::nullopt;
  const auto uevent = readAttribute(hidDevice / "uevent");
  const auto fields = uevent ? parseUevent(*uevent) : std::nullopt;
  if (!fields) return std::nullopt;
  if (fields->bus != kBusUsb && fields->bus != kBusBluetooth && fields->bus != kBusI2c &&
      fields->bus != kBusSpi) {
    return std::nullopt;
  }

  DeviceInfo info;
  info.path = "/dev/" + node.filename().string();
  info.vendorId = static_cast<std::uint16_t>(fields->vendorId);
  info.productId = static_cast<std::uint16_t>(fields->productId);
  info.serialNumber = widen(fields->uniq);
  info.product = widen(fields->name);
  // A USB HID device sits on its USB interface, that on its USB device; a virtual one (uhid)
  // has neither and keeps the HID name as its product, as other buses do.
  const fs::path usbInterface = hidDevice.parent_path();
  const fs::path usbDevice = usbInterface.parent_path();
  if (fields->bus == kBusUsb && fs::exists(usbDevice / "idVendor", error)) {
    info.manufacturer = wideAttribute(usbDevice / "manufacturer");
    info.product = wideAttribute(usbDevice / "product");
    if (const auto number = readAttribute(usbInterface / "bInterfaceNumber")) {
      char* end = nullptr;
      const long value = std::strtol(number->c_str(), &end, 16);
      if (end != number->c_str()) info.interfaceNumber = static_cast<int>(value);
    }
  }
  return info;
}

std::vector<DeviceInfo> enumerateHidraw(const std::string& sysfs, std::uint16_t vendorId,
                                        std::uint16_t productId) {
  std::vector<std::string> nodes;
  std::error_code error;
  for (fs::directory_iterator it(fs::path(sysfs) / "class" / "hidraw", error), end;
       !error && it != end; it.increment(error)) {
    nodes.push_back(it->path().filename().string());
  }
  // hidraw2 before hidraw10.
  std::sort(nodes.begin(), nodes.end(), [](const std::string& a, const std::string& b) {
    return a.size() != b.size() ? a.size() < b.size() : a < b;
  });
  std::vector<DeviceInfo> result;
  for (const auto& name : nodes) {
    auto info = readHidrawInterface((fs::path(sysfs) / "class" / "hidraw" / name).string());
    if (!info) continue;  // gone since it was listed, or not a bus we speak to
    if (vendorId != 0 && info->vendorId != vendorId) continue;
    if (productId != 0 && info->productId != productId) continue;
    result.push_back(std::move(*info));
  }
  return result;
}

}  // namespace talkgate::hid
