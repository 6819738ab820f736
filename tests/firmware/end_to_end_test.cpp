// The whole upgrade on the simulated hardware: the Talkgate enters its loader on command 9,
// the loader library upgrades it through the real protocol code, and the Talkgate comes back
// reporting the new firmware version over HID.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <fstream>

#include <unistd.h>

#include "device/commands.h"
#include "device/return_wait.h"
#include "device/transport.h"
#include "firmware/bsl_wire.h"
#include "tests/firmware/bsl_fixture.h"

namespace talkgate::firmware::test {
namespace {

class EndToEndTest : public ::testing::Test {
 protected:
  void TearDown() override {
    BSL_UnRegisterUSBDeviceNotification();
    BSL_close_BSL();
  }

  static sim::SimWorldOptions options() {
    sim::SimWorldOptions o;
    o.initialImage = readFile(demoImagePath("1.0.4"));
    o.talkgate.serialNumber = "TG990042";
    o.talkgate.working.symbolBrightness = 8;
    return o;
  }

  // Looks every 50 ms of the clock, as the windows do, until the part has re-enumerated as
  // vendorId:productId (at most 10 s).
  void awaitOnBus(int vendorId, int productId) {
    ReturnPoll poll;
    poll.timeout = std::chrono::milliseconds(10000);
    poll.interval = std::chrono::milliseconds(50);
    poll.gone = [] { return true; };
    poll.back = [this, vendorId, productId] {
      return !bus.enumerate(static_cast<std::uint16_t>(vendorId),
                            static_cast<std::uint16_t>(productId))
                  .empty();
    };
    waitForReturn(poll);
  }

  // Opens the Talkgate, reads its status and closes it again.
  ::testing::AssertionResult talkgateStatus(DeviceStatus& status) {
    awaitOnBus(kVendorId, kProductId);
    char manufacturer[kDeviceStringBuffer];
    char product[kDeviceStringBuffer];
    DeviceHandle handle = ScanForUSBDevice_a(kVendorId, kProductId, manufacturer, product);
    if (!handle) return ::testing::AssertionFailure() << "no Talkgate on the bus";
    const int result = readStatus(handle, status);
    hid_exit_safely(handle);
    if (result != kOk) return ::testing::AssertionFailure() << "status: " << result;
    return ::testing::AssertionSuccess();
  }

  // Sends command 9 to the Talkgate and lets go of it, as the main window does.
  void enterLoader() {
    awaitOnBus(kVendorId, kProductId);
    char manufacturer[kDeviceStringBuffer];
    char product[kDeviceStringBuffer];
    DeviceHandle handle = ScanForUSBDevice_a(kVendorId, kProductId, manufacturer, product);
    ASSERT_NE(handle, nullptr);
    talkgate::enterLoader(handle);  // the device leaves without answering
    hid_exit_safely(handle);
    awaitOnBus(bsl::kLoaderVendorId, bsl::kLoaderProductId);
  }

  bool upgrade(const std::string& path) {
    log.clear();
    return FirmwareProgrammer().CustomSelectedFirmware(
        path, [this](int, const std::string& message) { log += message; });
  }

  ManualClock clock;
  ScopedClock scopedClock{clock};
  sim::VirtualBus bus;
  PortGuard portGuard{bus};
  sim::SimWorld world{bus, options()};
  std::string log;
};

TEST_F(EndToEndTest, TalkgateIsUpgradedThroughItsLoaderAndReportsTheNewVersion) {
  DeviceStatus before;
  ASSERT_TRUE(talkgateStatus(before));
  EXPECT_EQ(before.firmwareVersion, "1.0.4");
  EXPECT_EQ(BSL_NumOfUSBDevices(bsl::kLoaderVendorId, bsl::kLoaderProductId), 0u);

  std::atomic<int> arrivals{0};
  std::atomic<int> removals{0};
  ASSERT_EQ(
      BSL_RegisterUSBDeviceNotification([&](bool arrived) { ++(arrived ? arrivals : removals); }),
      0);

  ASSERT_NO_FATAL_FAILURE(enterLoader());
  EXPECT_FALSE(world.talkgate().pluggedIn());
  EXPECT_EQ(BSL_NumOfUSBDevices(bsl::kLoaderVendorId, bsl::kLoaderProductId), 1u);
  EXPECT_EQ(arrivals.load(), 1);

  ASSERT_TRUE(upgrade(demoImagePath("1.1.0"))) << log;
  EXPECT_EQ(world.loader().massErases(), 0) << "the demo images share the product's password";
  // ROM loader in, RAM loader swap, loader out at the reset.
  EXPECT_EQ(arrivals.load(), 2);
  EXPECT_EQ(removals.load(), 2);
  EXPECT_EQ(BSL_NumOfUSBDevices(bsl::kLoaderVendorId, bsl::kLoaderProductId), 0u);

  DeviceStatus after;
  ASSERT_TRUE(talkgateStatus(after));
  EXPECT_EQ(world.upgrades(), 1);
  EXPECT_EQ(after.firmwareVersion, "1.1.0");
  EXPECT_EQ(after.serialNumber, "TG990042");
  EXPECT_EQ(after.symbolBrightness, sim::SimTalkgate::factoryState().working.symbolBrightness)
      << "new firmware starts with its own settings";
}

TEST_F(EndToEndTest, TalkgateCanBeUpgradedAgainAndBack) {
  ASSERT_NO_FATAL_FAILURE(enterLoader());
  ASSERT_TRUE(upgrade(demoImagePath("1.1.0"))) << log;
  ASSERT_NO_FATAL_FAILURE(enterLoader());
  ASSERT_TRUE(upgrade(demoImagePath("1.0.4"))) << log;
  DeviceStatus status;
  ASSERT_TRUE(talkgateStatus(status));
  EXPECT_EQ(status.firmwareVersion, "1.0.4");
  EXPECT_EQ(world.upgrades(), 2);
}

TEST_F(EndToEndTest, BadImageLeavesTheLoaderWaitingWithItsFirmwareIntact) {
  ASSERT_NO_FATAL_FAILURE(enterLoader());
  const auto flashBefore = world.loader().readMemory(0x4400, 0x1000);
  EXPECT_FALSE(upgrade(sim::demoImagesDir() + "/no_such_image.txt"));
  EXPECT_EQ(log.rfind("Firmware image refused: cannot open ", 0), 0u);
  EXPECT_TRUE(world.loader().pluggedIn());
  EXPECT_FALSE(world.loader().ramLoaderRunning());
  EXPECT_EQ(world.loader().readMemory(0x4400, 0x1000), flashBefore);
  EXPECT_TRUE(upgrade(demoImagePath("1.1.0"))) << log;
}

TEST_F(EndToEndTest, InterruptedUpgradeIsRecoveredFromTheLoader) {
  ASSERT_NO_FATAL_FAILURE(enterLoader());
  world.loader().unplugInPhase(sim::BslPhase::Program, 10);
  EXPECT_FALSE(upgrade(demoImagePath("1.1.0")));
  EXPECT_FALSE(world.talkgate().pluggedIn());
  // Power comes back with a part whose reset vector is erased: it waits in its loader.
  world.loader().plugIn();
  ASSERT_TRUE(upgrade(demoImagePath("1.1.0"))) << log;
  EXPECT_NE(log.find("Mass erase occured!\r\n"), std::string::npos)
      << "the half-written part no longer holds the product's password";
  DeviceStatus status;
  ASSERT_TRUE(talkgateStatus(status));
  EXPECT_EQ(status.firmwareVersion, "1.1.0");
}

TEST_F(EndToEndTest, ImageWithoutTheVersionMarkerNeverBringsTheTalkgateBack) {
  ASSERT_NO_FATAL_FAILURE(enterLoader());
  std::string image = readFile(demoImagePath("1.1.0"));
  const auto at = image.find("54 47 46 57 3A");  // "TGFW:"
  ASSERT_NE(at, std::string::npos);
  image.replace(at, 2, "00");
  const std::string path =
      ::testing::TempDir() + "/tg_fw_unmarked_" + std::to_string(::getpid()) + ".txt";
  { std::ofstream(path, std::ios::binary) << image; }
  EXPECT_TRUE(upgrade(path)) << log;
  awaitOnBus(kVendorId, kProductId);  // far longer than the part takes to come back
  EXPECT_FALSE(world.talkgate().pluggedIn());
  EXPECT_FALSE(world.loader().pluggedIn());
  std::remove(path.c_str());
}

}  // namespace
}  // namespace talkgate::firmware::test
