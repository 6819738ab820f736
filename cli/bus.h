#pragma once
// What is on the bus, as the commands that look before they talk need it: the Talkgate's
// configuration interfaces and the bootstrap loaders (2047:0200). Enumeration sends nothing.

#include <cstdint>
#include <vector>

#include "device/hid_port.h"
#include "device/transport.h"

namespace talkgate::cli {

inline constexpr std::uint16_t kLoaderProductId = 0x0200;

// The configuration interfaces (interface 1) of every Talkgate on the port.
inline std::vector<hid::DeviceInfo> talkgateConfigInterfaces(hid::Port& port) {
  std::vector<hid::DeviceInfo> found;
  for (auto& info : port.enumerate(static_cast<std::uint16_t>(kVendorId),
                                   static_cast<std::uint16_t>(kProductId))) {
    if (info.interfaceNumber == kConfigInterface) found.push_back(std::move(info));
  }
  return found;
}

// Every bootstrap loader interface on the port.
inline std::vector<hid::DeviceInfo> loaderInterfaces(hid::Port& port) {
  return port.enumerate(static_cast<std::uint16_t>(kVendorId), kLoaderProductId);
}

}  // namespace talkgate::cli
