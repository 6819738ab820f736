#pragma once
// The USB port behind a Linux hidraw node, from sysfs. Linux only (built beside hidapi_port.cpp).

#include <string>

namespace talkgate::hid {

// The sysfs name of the USB device a hidraw node (/dev/hidrawN) belongs to: the bus and the
// chain of hub ports, "1-1" or "3-1.4", which stays the same when the part re-enumerates on the
// same port. Empty for a node that is not on USB (Bluetooth, I2C, uhid) or cannot be followed.
// sysRoot is "/sys" except in tests.
std::string usbLocationOfHidraw(const std::string& devicePath, const std::string& sysRoot = "/sys");

}  // namespace talkgate::hid
