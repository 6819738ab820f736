// The USB port of a hidraw node, from a sysfs tree built in a temporary folder as the kernel lays
// it out: class/hidraw/hidraw0/device links to the HID device, which sits under its USB interface
// and USB device, or elsewhere for HID that is not on USB.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <tuple>

#include "device/usb_location_linux.h"

namespace talkgate::hid {
namespace {

namespace fs = std::filesystem;

TEST(HidrawLocation, FollowsTheNodeToItsUsbDevice) {
  const fs::path sys = fs::temp_directory_path() / ("tg-sysfs-" + std::to_string(::getpid()));
  const fs::path node = sys / "class" / "hidraw" / "hidraw0";
  // The HID device under devices/ ("": no node), whether it is there, the port expected.
  const std::vector<std::tuple<std::string, bool, std::string>> table{
      {"pci0000:00/0000:00:14.0/usb1/1-1/1-1:1.1/0003:2047:0922.0002", true, "1-1"},
      {"platform/dummy_hcd.1/usb2/2-1/2-1:1.0/0003:2047:0200.0003", true, "2-1"},
      {"usb3/3-1/3-1.4/3-1.4.2/3-1.4.2:1.1/0003:2047:0922.0004", true, "3-1.4.2"},  // two hubs
      {"virtual/misc/uhid/0003:2047:0922.0005", true, ""},
      {"usb1/1-7/1-7:1.0/bluetooth/hci0/hci0:256/0005:046D:B342.0006", true, ""},
      {"i2c-1/i2c-ELAN0001:00/0018:04F3:3147.0007", true, ""},
      {"usb1/1-1/1-1:1.1/0003:2047:0922.0008", false, ""},  // a dangling link
      {"", false, ""},
  };
  for (const auto& [hid, present, expected] : table) {
    fs::remove_all(sys);
    if (!hid.empty()) {
      if (present) fs::create_directories(sys / "devices" / hid);
      fs::create_directories(node);
      fs::create_directory_symlink(sys / "devices" / hid, node / "device");
    }
    EXPECT_EQ(usbLocationOfHidraw("/dev/hidraw0", sys.string()), expected) << hid;
  }
  fs::remove_all(sys);
}

}  // namespace
}  // namespace talkgate::hid
