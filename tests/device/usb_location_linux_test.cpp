// The USB port of a hidraw node, read from a sysfs tree built in a temporary folder the way the
// kernel lays it out: class/hidraw/hidrawN/device links to the HID device, which sits under its
// USB interface and USB device, or elsewhere for HID that is not on USB.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "device/usb_location_linux.h"

namespace talkgate::hid {
namespace {

namespace fs = std::filesystem;

struct LocationCase {
  const char* name;
  const char* hidDevice;  // under devices/, where hidraw0's device link points; "" for no node
  const char* expected;
  bool dangling = false;  // the link points at a folder that is not there
};

void PrintTo(const LocationCase& c, std::ostream* os) {
  *os << c.name;
}

class HidrawLocationTest : public ::testing::TestWithParam<LocationCase> {};

TEST_P(HidrawLocationTest, FollowsTheNodeToItsUsbDevice) {
  const LocationCase& c = GetParam();
  const fs::path sys = fs::temp_directory_path() /
                       ("talkgate-sysfs-" + std::to_string(::getpid()) + "-" + c.name);
  fs::remove_all(sys);
  const fs::path node = sys / "class" / "hidraw" / "hidraw0";
  if (*c.hidDevice != '\0') {
    const fs::path hid = sys / "devices" / c.hidDevice;
    if (!c.dangling) fs::create_directories(hid / "hidraw" / "hidraw0");
    fs::create_directories(node);
    fs::create_directory_symlink(hid, node / "device");
  }
  EXPECT_EQ(usbLocationOfHidraw("/dev/hidraw0", sys.string()), c.expected);
  fs::remove_all(sys);
}

INSTANTIATE_TEST_SUITE_P(
    Trees, HidrawLocationTest,
    ::testing::Values(
        LocationCase{"CompositeInterface",
                     "pci0000:00/0000:00:14.0/usb1/1-1/1-1:1.1/0003:2047:0922.0002", "1-1"},
        LocationCase{"SingleInterfaceLoader",
                     "pci0000:00/0000:00:14.0/usb1/1-1/1-1:1.0/0003:2047:0200.0003", "1-1"},
        LocationCase{"BehindTwoHubs",
                     "pci0000:00/0000:00:14.0/usb3/3-1/3-1.4/3-1.4.2/3-1.4.2:1.1/"
                     "0003:2047:0922.0004",
                     "3-1.4.2"},
        LocationCase{"DummyHcdSecondBus",
                     "platform/dummy_hcd.1/usb2/2-1/2-1:1.1/0003:2047:0922.0005", "2-1"},
        LocationCase{"Uhid", "virtual/misc/uhid/0003:2047:0922.0006", ""},
        LocationCase{"Bluetooth",
                     "pci0000:00/0000:00:14.0/usb1/1-7/1-7:1.0/bluetooth/hci0/hci0:256/"
                     "0005:046D:B342.0007",
                     ""},
        LocationCase{"I2c", "pci0000:00/0000:00:15.1/i2c_designware.1/i2c-1/i2c-ELAN0001:00/"
                            "0018:04F3:3147.0008",
                     ""},
        LocationCase{"MissingNode", "", ""},
        LocationCase{"DanglingLink", "platform/dummy_hcd.0/usb1/1-1/1-1:1.1/0003:2047:0922.0009",
                     "", true}),
    [](const ::testing::TestParamInfo<LocationCase>& info) { return std::string(info.param.name); });

TEST(HidrawLocation, OnlyHidrawNodesAreFollowed) {
  for (const char* path : {"", "/dev/hidraw", "/dev/ttyUSB0", "/dev/../sys"}) {
    EXPECT_EQ(usbLocationOfHidraw(path, "/sys"), "") << path;
  }
}

}  // namespace
}  // namespace talkgate::hid
