// The hidraw interfaces read from a sysfs tree built here as the kernel lays it out: a Talkgate's
// two interfaces, a Bluetooth device, a bus hidapi does not list, and devices that left the bus
// while being listed (HID device's uevent unreadable, class link dangling), which are left out.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "device/hidraw_sysfs.h"

namespace talkgate::hid {
namespace {

namespace fs = std::filesystem;

class HidrawSysfsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(root / "class" / "hidraw");
    const fs::path usb = root / "devices" / "usb1" / "1-1";
    write(usb / "idVendor", "2047\n");
    write(usb / "manufacturer", "Talkgate Inc\n");
    write(usb / "product", "Talkgate\n");
    node("hidraw2", usb / "1-1:1.0" / "0003:2047:0922.0001", "0003:00002047:00000922", "00");
    node("hidraw10", usb / "1-1:1.1" / "0003:2047:0922.0002", "0003:00002047:00000922", "01");
    node("hidraw3", root / "devices" / "bt" / "0005:046D:B01A.0003", "0005:0000046D:0000B01A");
    node("hidraw4", root / "devices" / "virtual" / "0006:1234:5678.0004", "0006:00001234:00005678");
    node("hidraw5", usb / "1-1:1.2" / "0003:2047:0922.0005", "0003:00002047:00000922", "02");
    fs::remove(usb / "1-1:1.2" / "0003:2047:0922.0005" / "uevent");  // going off the bus
    fs::create_directory_symlink(root / "devices" / "nowhere",
                                 root / "class" / "hidraw" / "hidraw6");
  }
  void TearDown() override { fs::remove_all(root); }
  static void write(const fs::path& file, const std::string& text) {
    fs::create_directories(file.parent_path());
    std::ofstream(file) << text;
  }
  void node(const std::string& name, const fs::path& hid, const std::string& id,
            const std::string& interfaceNumber = "") {
    if (!interfaceNumber.empty())
      write(hid.parent_path() / "bInterfaceNumber", interfaceNumber + "\n");
    write(hid / "uevent", "DRIVER=hid-generic\nHID_ID=" + id + "\nHID_NAME=Name " + name +
                              "\nHID_PHYS=usb-1\nHID_UNIQ=TG26\nMODALIAS=hid:x\n");
    fs::create_directories(hid / "hidraw" / name);
    fs::create_directory_symlink(hid, hid / "hidraw" / name / "device");
    fs::create_directory_symlink(hid / "hidraw" / name, root / "class" / "hidraw" / name);
  }
  const fs::path root =
      fs::temp_directory_path() / ("talkgate-sysfs-" + std::to_string(::getpid()));
};

TEST_F(HidrawSysfsTest, ListsWhatIsStillThereInNodeOrder) {
  const struct {
    std::uint16_t vendorId, productId;
    std::vector<std::string> paths;
  } cases[] = {
      {0x2047, 0x0922, {"/dev/hidraw2", "/dev/hidraw10"}},
      {0, 0, {"/dev/hidraw2", "/dev/hidraw3", "/dev/hidraw10"}},
      {0x2047, 0x0200, {}},
  };
  for (const auto& c : cases) {
    std::vector<std::string> paths;
    for (const auto& info : enumerateHidraw(root.string(), c.vendorId, c.productId)) {
      paths.push_back(info.path);
    }
    EXPECT_EQ(paths, c.paths) << c.vendorId << ":" << c.productId;
  }
}

TEST_F(HidrawSysfsTest, ReadsIdentityAndStringsPerBus) {
  const auto talkgate = enumerateHidraw(root.string(), 0x2047, 0x0922);
  ASSERT_EQ(talkgate.size(), 2u);
  EXPECT_EQ(talkgate[1].interfaceNumber, 1);
  EXPECT_EQ(talkgate[1].manufacturer, L"Talkgate Inc");
  EXPECT_EQ(talkgate[1].product, L"Talkgate");
  EXPECT_EQ(talkgate[1].serialNumber, L"TG26");
  const auto bluetooth = readHidrawInterface((root / "class" / "hidraw" / "hidraw3").string());
  ASSERT_TRUE(bluetooth.has_value());
  EXPECT_EQ(bluetooth->interfaceNumber, -1);
  EXPECT_EQ(bluetooth->manufacturer, L"");
  EXPECT_EQ(bluetooth->product, L"Name hidraw3");
  EXPECT_FALSE(readHidrawInterface((root / "class" / "hidraw" / "hidraw5").string()));
}

}  // namespace
}  // namespace talkgate::hid
