// talkgatectl before a Talkgate that passes for real hardware (the simulated one behind a port
// that does not say it is simulated): without the product's loader images neither 'upgrade' nor
// 'enter-loader' sends anything; with them in --loader-dir the upgrade runs.

#include <gtest/gtest.h>

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
  RunResult runOnHardware(const std::vector<std::string>& args) {
    Environment environment;
    environment.usbPort = &hardware_;
    return run(args, environment);
  }

  sim::SimWorld world_{bus_, {readFile(sim::demoImagesDir() + "/talkgate_fw_1.0.4.txt")}};
  talkgate::testing::RecordingPort hardware_{bus_, true};
  firmware::test::ScopedLoaderImageSources standard_{{"/nonexistent/talkgate-utility/loader"}};
};

TEST_F(HardwareUpgrade, WithoutProductImagesUpgradeAndEnterLoaderExitTwoAndSendNothing) {
  const std::string refusal = firmware::loaderImagesRefusal(hardware_, standard_.sources()) + "\n";
  ASSERT_NE(refusal, "\n");
  EXPECT_EQ(runOnHardware({"upgrade", kImage, "--yes"}).err, refusal);
  EXPECT_EQ(runOnHardware({"enter-loader"}).code, kExitBadInput);
  world_.talkgate().unplug();  // nor does a loader already waiting on the bus get anything
  world_.loader().plugIn();
  const RunResult r = runOnHardware({"upgrade", kImage, "--yes"});
  EXPECT_EQ(r.code, kExitBadInput);
  EXPECT_EQ(r.err, refusal);
  EXPECT_TRUE(hardware_.log->attempts.empty());
  EXPECT_TRUE(world_.talkgate().requests().empty());
  EXPECT_EQ(world_.loader().reportsReceived(), 0);
}

TEST_F(HardwareUpgrade, ProductImagesInLoaderDirAreUsedForTheWholeUpgrade) {
  firmware::test::writeLoaderImages(path("loader"), firmware::test::madeUpPassword(),
                                    firmware::test::kMadeUpRamLoader);
  const RunResult r = runOnHardware({"--loader-dir", path("loader"), "upgrade", kImage, "--yes"});
  ASSERT_EQ(r.code, kExitOk) << r.err << r.out;
  EXPECT_EQ(world_.talkgate().state().firmwareVersion, "1.1.0");
}

}  // namespace
