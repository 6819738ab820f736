// The hidapi port on this machine (no Talkgate attached): open failures are told apart, and the
// active-port switch falls back to hidapi.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "device/hid_port.h"

namespace talkgate::hid {
namespace {

namespace fs = std::filesystem;

class HidapiPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() /
          ("talkgate-hidapi-" + std::to_string(::getpid()) + "-" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir);
    ASSERT_EQ(hidapiPort().init(), 0);
  }
  void TearDown() override {
    hidapiPort().exit();
    fs::remove_all(dir);
  }
  fs::path dir;
};

TEST_F(HidapiPortTest, MissingNodeIsNotFound) {
  OpenError error = OpenError::None;
  EXPECT_EQ(hidapiPort().open((dir / "hidraw99").string(), &error), nullptr);
  EXPECT_EQ(error, OpenError::NotFound);
}

TEST_F(HidapiPortTest, NodeThatIsNotAHidDeviceIsOtherError) {
  const fs::path file = dir / "hidraw0";
  std::ofstream(file) << "x";
  OpenError error = OpenError::None;
  EXPECT_EQ(hidapiPort().open(file.string(), &error), nullptr);
  EXPECT_EQ(error, OpenError::Other);
}

TEST_F(HidapiPortTest, UnreadableNodeIsPermissionDenied) {
  if (::geteuid() == 0) GTEST_SKIP() << "root opens any file";
  const fs::path file = dir / "hidraw1";
  std::ofstream(file) << "x";
  ASSERT_EQ(::chmod(file.c_str(), 0), 0);
  OpenError error = OpenError::None;
  EXPECT_EQ(hidapiPort().open(file.string(), &error), nullptr);
  EXPECT_EQ(error, OpenError::PermissionDenied);
}

TEST(ActivePort, DefaultsToHidapiAndCanBeSwitched) {
  EXPECT_EQ(&activePort(), &hidapiPort());
  class NullPort : public Port {
    int init() override { return -1; }
    std::vector<DeviceInfo> enumerate(std::uint16_t, std::uint16_t) override { return {}; }
    std::unique_ptr<Device> open(const std::string&, OpenError*) override { return nullptr; }
    int exit() override { return 0; }
  } other;
  setActivePort(&other);
  EXPECT_EQ(&activePort(), &other);
  setActivePort(nullptr);
  EXPECT_EQ(&activePort(), &hidapiPort());
}

}  // namespace
}  // namespace talkgate::hid
