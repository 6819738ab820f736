// Finding, opening and closing the device through the active port.

#include <gtest/gtest.h>

#include <cstring>

#include "device/transport.h"
#include "tests/device/scripted_port.h"

namespace talkgate::testing {
namespace {

class ScanTest : public ::testing::Test {
 protected:
  DeviceHandle scan(std::size_t bufferSize = kDeviceStringBuffer, hid::OpenError* error = nullptr) {
    std::memset(manufacturer, 'X', sizeof manufacturer);
    std::memset(product, 'X', sizeof product);
    return ScanForUSBDevice_a(kVendorId, kProductId, manufacturer, product, bufferSize, error);
  }

  ScriptedPort port;
  ScopedPort scopedPort{port};
  char manufacturer[300] = {};
  char product[300] = {};
};

TEST_F(ScanTest, OpensFirstInterfaceOneInEnumerationOrder) {
  port.add("dev/a0", 0);
  port.add("dev/other", 1, 0x2047, 0x0200);  // the loader, other product
  port.add("dev/a1", 1);
  port.add("dev/b0", 0);
  port.add("dev/b1", 1);  // a second Talkgate
  DeviceHandle handle = scan();
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(port.opened, std::vector<std::string>{"dev/a1"});
  EXPECT_EQ(port.inits, 1);
  EXPECT_TRUE(port.log.nonBlocking);
  EXPECT_STREQ(manufacturer, "Velkor");
  EXPECT_STREQ(product, "Talkgate");
  hid_exit_safely(handle);
}

TEST_F(ScanTest, NothingFoundFillsNoneAndReportsNotFound) {
  port.add("dev/a0", 0);  // only the keyboard interface
  hid::OpenError error = hid::OpenError::None;
  EXPECT_EQ(scan(kDeviceStringBuffer, &error), nullptr);
  EXPECT_STREQ(manufacturer, "None");
  EXPECT_STREQ(product, "None");
  EXPECT_EQ(error, hid::OpenError::NotFound);
  EXPECT_TRUE(port.opened.empty());
}

TEST_F(ScanTest, FailedOpenFillsNoneAndTellsWhy) {
  port.add("dev/a1", 1);
  port.deniedPath = "dev/a1";
  hid::OpenError error = hid::OpenError::None;
  EXPECT_EQ(scan(kDeviceStringBuffer, &error), nullptr);
  EXPECT_EQ(error, hid::OpenError::PermissionDenied);
  EXPECT_STREQ(manufacturer, "None");
  EXPECT_STREQ(product, "None");
}

TEST_F(ScanTest, UnreadableStringsGiveUnableToFindAndStillOpen) {
  port.add("dev/a1", 1);
  port.manufacturer.reset();
  DeviceHandle handle = scan();
  ASSERT_NE(handle, nullptr);
  EXPECT_STREQ(manufacturer, "Unable To Find");
  EXPECT_STREQ(product, "Talkgate");
  hid_exit_safely(handle);

  port.manufacturer = L"Velkor";
  port.product.reset();
  handle = scan();
  ASSERT_NE(handle, nullptr);
  EXPECT_STREQ(manufacturer, "Velkor");
  EXPECT_STREQ(product, "Unable To Find");
  hid_exit_safely(handle);
}

TEST_F(ScanTest, LongStringsAreCutToTheBufferAndTerminated) {
  port.add("dev/a1", 1);
  port.manufacturer = std::wstring(254, L'M');
  port.product = std::wstring(100, L'P');
  DeviceHandle handle = scan();
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(std::string(manufacturer), std::string(47, 'M'));
  EXPECT_EQ(std::string(product), std::string(47, 'P'));
  EXPECT_EQ(manufacturer[48], 'X') << "nothing written past the 48-byte buffer";
  EXPECT_EQ(product[48], 'X');
  hid_exit_safely(handle);
}

TEST_F(ScanTest, FixedTextsAreCutToSmallBuffers) {
  port.add("dev/a1", 1);
  port.manufacturer.reset();
  DeviceHandle handle = scan(6);
  ASSERT_NE(handle, nullptr);
  EXPECT_STREQ(manufacturer, "Unabl");
  EXPECT_STREQ(product, "Talkg");
  EXPECT_EQ(manufacturer[6], 'X');
  hid_exit_safely(handle);

  port.interfaces.clear();
  EXPECT_EQ(scan(3), nullptr);
  EXPECT_STREQ(manufacturer, "No");
  EXPECT_EQ(product[3], 'X');
}

TEST_F(ScanTest, WideCharactersKeepTheirLowEightBits) {
  port.add("dev/a1", 1);
  port.manufacturer = std::wstring{L'V', wchar_t(0x0165), L'k'};  // t with caron: 0x65 'e'
  DeviceHandle handle = scan();
  ASSERT_NE(handle, nullptr);
  EXPECT_STREQ(manufacturer, "Vek");
  hid_exit_safely(handle);
}

TEST_F(ScanTest, ExitSafelyClosesTheDeviceAndShutsTheLibraryDown) {
  port.add("dev/a1", 1);
  DeviceHandle handle = scan();
  ASSERT_NE(handle, nullptr);
  EXPECT_FALSE(port.log.closed);
  hid_exit_safely(handle);
  EXPECT_TRUE(port.log.closed);
  EXPECT_EQ(port.exits, 1);
  hid_exit_safely(nullptr);  // without a handle the library is still shut down
  EXPECT_EQ(port.exits, 2);
}

}  // namespace
}  // namespace talkgate::testing
