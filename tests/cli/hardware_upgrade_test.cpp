// talkgatectl in front of a Talkgate that passes for real hardware (the simulated one behind a
// port that does not say it is simulated): without the product's loader images neither
// 'upgrade' nor 'enter-loader' sends anything; with them in --loader-dir the upgrade runs.

#include <gtest/gtest.h>

#include <optional>

#include "cli_fixture.h"
#include "firmware/bsl_wire.h"
#include "firmware/loader_images.h"
#include "sim/sim_world.h"
#include "tests/device/recording_port.h"
#include "tests/firmware/loader_images_fixture.h"

using namespace talkgate;
using namespace talkgate::cli;
using talkgate::cli::testing::CliTest;
using talkgate::cli::testing::RunResult;

namespace {

std::string demoImage(const std::string& version) {
  return sim::demoImagesDir() + "/talkgate_fw_" + version + ".txt";
}

class HardwareUpgrade : public CliTest {
 protected:
  void SetUp() override {
    CliTest::SetUp();
    standard_.emplace(std::vector<std::string>{path("no images here")});
  }
  RunResult runOnHardware(const std::vector<std::string>& args) {
    Environment environment;
    environment.usbPort = &hardware_;
    return run(args, environment);
  }
  void expectNothingSent() {
    EXPECT_TRUE(hardware_.log->attempts.empty());
    EXPECT_EQ(bus_.reportsWritten(), 0u);
    EXPECT_TRUE(world_.talkgate().requests().empty());
    EXPECT_EQ(world_.loader().reportsReceived(), 0);
  }

  sim::SimWorld world_{bus_, [] {
                         sim::SimWorldOptions o;
                         o.initialImage = CliTest::readFile(demoImage("1.0.4"));
                         return o;
                       }()};
  talkgate::testing::RecordingPort hardware_{bus_, true};
  std::optional<firmware::test::ScopedLoaderImageSources> standard_;
};

TEST_F(HardwareUpgrade, WithoutProductImagesUpgradeAndEnterLoaderExitTwoAndSendNothing) {
  const std::string expected =
      firmware::missingLoaderImagesText(firmware::loaderImageSources(), {}) + "\n";
  RunResult r = runOnHardware({"upgrade", demoImage("1.1.0"), "--yes"});
  EXPECT_EQ(r.code, kExitBadInput);
  EXPECT_EQ(r.err, expected);
  r = runOnHardware({"enter-loader"});
  EXPECT_EQ(r.code, kExitBadInput);
  EXPECT_EQ(r.err, expected);
  // An empty --loader-dir is looked in first and named first.
  const std::string empty = path("empty");
  r = runOnHardware({"--loader-dir", empty, "enter-loader"});
  EXPECT_EQ(r.code, kExitBadInput);
  EXPECT_EQ(r.err,
            firmware::missingLoaderImagesText(firmware::loaderImageSources(empty), {}) + "\n");
  // A loader already waiting gets nothing either.
  world_.talkgate().unplug();
  world_.loader().plugIn();
  r = runOnHardware({"upgrade", demoImage("1.1.0"), "--yes"});
  EXPECT_EQ(r.code, kExitBadInput);
  EXPECT_EQ(r.err, expected);
  expectNothingSent();
}

TEST_F(HardwareUpgrade, ProductImagesInLoaderDirAreUsedForTheWholeUpgrade) {
  const std::string loaderDir = path("loader");
  firmware::test::writeLoaderImages(loaderDir, firmware::test::madeUpPassword(),
                                    firmware::test::madeUpRamLoader());
  const RunResult r =
      runOnHardware({"--loader-dir", loaderDir, "upgrade", demoImage("1.1.0"), "--yes"});
  ASSERT_EQ(r.code, kExitOk) << r.err << r.out;
  EXPECT_EQ(world_.talkgate().state().firmwareVersion, "1.1.0");
  // What went to the loader: the folder's password first, then its RAM loader at 0x2500.
  std::vector<std::uint8_t> password;
  std::vector<std::uint8_t> ramLoader;
  for (const auto& report : hardware_.log->attempts) {
    if (report[2] == firmware::bsl::kCmdRxPassword && password.empty())
      password.assign(&report[3], &report[35]);
    if (report[2] == firmware::bsl::kCmdRxDataBlockFast && report[3] == 0x00 && report[4] == 0x25 &&
        report[5] == 0x00) {
      ramLoader.assign(&report[6], &report[6 + report[1] - 4]);
    }
  }
  std::vector<std::uint8_t> madeUpPassword(32);
  for (std::size_t i = 0; i < 32; ++i) madeUpPassword[i] = static_cast<std::uint8_t>(0xA0 + i);
  EXPECT_EQ(password, madeUpPassword);
  EXPECT_EQ(ramLoader, (std::vector<std::uint8_t>{0x00, 0x06, 0x05, 0x34, 0x40, 0x31, 0x00, 0x44,
                                                  0xB0, 0x13, 0x10, 0x25, 0xFF, 0x3F}));
}

}  // namespace
