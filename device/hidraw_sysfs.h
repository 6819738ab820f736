#pragma once
// The hidraw interfaces of a Linux system as sysfs describes them, read with plain file reads.
// The hidapi port lists interfaces and reads their strings with this instead of hidapi's own
// udev code: hidapi 0.13's hidraw back end dereferences a null pointer when a HID device's
// "uevent" attribute cannot be read, which is what a device unplugged between being listed and
// being read looks like. Here every read may fail, and an interface whose files are gone is
// simply left out.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "device/hid_port.h"

namespace talkgate::hid {

// One hidraw class directory (SYSFS/class/hidraw/hidrawN, or SYSFS/dev/char/MAJ:MIN) read as
// enumeration reports it, path "/dev/hidrawN"; nothing when the device has gone or is on a bus
// other than USB, Bluetooth, I2C or SPI.
std::optional<DeviceInfo> readHidrawInterface(const std::string& classDirectory);

// The hidraw interfaces under SYSFS (normally "/sys") with the given identifiers (0 and 0:
// every one), in node order.
std::vector<DeviceInfo> enumerateHidraw(const std::string& sysfs, std::uint16_t vendorId,
                                        std::uint16_t productId);

}  // namespace talkgate::hid
