// talkgatectl in front of a Talkgate that passes for real hardware (the simulated one behind a
// port that does not say it is simulated): without the product's loader images neither
// 'upgrade' nor 'enter-loader' sends anything; with them in --loader-dir the upgrade runs.

#include <gtest/gtest.h>

#include <optional>

#include "cli_fixture.h"
#include "firmware/loader_images.h"
#include "sim/sim_world.h"
#include "tests/device/recording_port.h"
#include "tests/firmware/loader_images_fixture.h"

using namespace talkgate;
using namespace talkgate::cli;
using talkgate::cli::testing::CliTest;
using talkgate::cli::testing::RunResult;

namespace {

const std::string kImage = sim::demoImagesDir() + "/talkgate_fw_1.1.0.txt";

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

  sim::SimWorld world_{bus_, [] {
                         sim::SimWorldOptions o;
                         o.initialImage = readFile(sim::demoImagesDir() + "/talkgate_fw_1.0.4.txt");
                         return o;
                       }()};
  talkgate::testing::RecordingPort hardware_{bus_, true};
  std::optional<firmware::test::ScopedLoaderImageSources> standard_;
};

TEST_F(HardwareUpgrade, WithoutProductImagesUpgradeAndEnterLoaderExitTwoAndSendNothing) {
  const std::string refusal = firmware::loaderImagesRefusal(hardware_, standard_->sources());
  ASSERT_NE(refusal, "");
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"upgrade", kImage, "--yes"}, {"enter-loader"}}) {
    const RunResult r = runOnHardware(args);
    EXPECT_EQ(r.code, kExitBadInput) << args[0];
    EXPECT_EQ(r.err, refusal + "\n");
  }
  // Nor does a loader already waiting on the bus.
  world_.talkgate().unplug();
  world_.loader().plugIn();
  EXPECT_EQ(runOnHardware({"upgrade", kImage, "--yes"}).err, refusal + "\n");
  EXPECT_TRUE(hardware_.log->attempts.empty());
  EXPECT_TRUE(world_.talkgate().requests().empty());
  EXPECT_EQ(world_.loader().reportsReceived(), 0);
}

TEST_F(HardwareUpgrade, ProductImagesInLoaderDirAreUsedForTheWholeUpgrade) {
  const std::string loaderDir = path("loader");
  firmware::test::writeLoaderImages(loaderDir, firmware::test::madeUpPassword(),
                                    firmware::test::kMadeUpRamLoader);
  const RunResult r = runOnHardware({"--loader-dir", loaderDir, "upgrade", kImage, "--yes"});
  ASSERT_EQ(r.code, kExitOk) << r.err << r.out;
  EXPECT_EQ(world_.talkgate().state().firmwareVersion, "1.1.0");
  EXPECT_EQ(world_.loader().readMemory(0x2504, 2), (std::vector<std::uint8_t>{0x40, 0x31}))
      << "the RAM loader from the folder, not our stand-in";
}

}  // namespace
