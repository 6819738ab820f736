// talkgatectl upgrade on the simulated Talkgate and its loader, in-process with a manual clock:
// the requests around the programming, recovery from the loader, refused images, the questions
// and the output forms.

#include <gtest/gtest.h>

#include <algorithm>

#include "cli/upgrade_output.h"
#include "sim/sim_bsl_device.h"
#include "sim/sim_world.h"
#include "upgrade_fixture.h"

using namespace talkgate;
using namespace talkgate::cli;
using talkgate::cli::testing::CliTest;
using talkgate::cli::testing::RunResult;

namespace {

using talkgate::cli::testing::contains;
using talkgate::cli::testing::demoImage;
using talkgate::cli::testing::Json;
using talkgate::cli::testing::jsonAt;
using talkgate::cli::testing::jsonFalse;
using talkgate::cli::testing::jsonNull;
using talkgate::cli::testing::jsonStrings;
using talkgate::cli::testing::jsonTrue;
using talkgate::cli::testing::parseObject;
using talkgate::cli::testing::UpgradeTest;

std::vector<std::uint8_t> commandsOf(const std::vector<sim::ReceivedRequest>& requests) {
  std::vector<std::uint8_t> commands;
  for (const auto& r : requests) commands.push_back(r.command);
  return commands;
}

using UpgradeRuns = UpgradeTest;

TEST_F(UpgradeRuns, GoodUpgradeWritesBackSerialNumberAndSettingsInOrder) {
  const sim::TalkgateSettings before = world_.talkgate().state().working;
  const RunResult r = upgrade();
  ASSERT_EQ(r.code, kExitOk) << r.err << r.out;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(world_.upgrades(), 1);

  // Status snapshot, command 9, then after the restart: serial number, keypad type, table,
  // brightness, ambient, store as defaults, and the status read that reports the version.
  const auto requests = world_.talkgate().requests();
  EXPECT_EQ(commandsOf(requests),
            (std::vector<std::uint8_t>{kCmdStatus, kCmdEnterLoader, kCmdSetSerialNumber,
                                       kCmdSetKeypadType, kCmdSetKeyTable, kCmdSetSymbolBrightness,
                                       kCmdSetAmbientConfig, kCmdStoreDefaults, kCmdStatus}));
  ASSERT_EQ(requests.size(), 9u);
  EXPECT_EQ(requests[2].payload,
            (std::vector<std::uint8_t>{'T', 'G', '9', '9', '0', '0', '4', '2'}));
  EXPECT_EQ(requests[4].payload,
            std::vector<std::uint8_t>(before.keyTable.begin(), before.keyTable.end()));

  const sim::TalkgateState after = world_.talkgate().state();
  EXPECT_EQ(after.firmwareVersion, "1.1.0");
  EXPECT_EQ(after.working, before) << "the new firmware started on factory values";
  EXPECT_EQ(after.defaults, before) << "the restored settings are stored as defaults";

  // Plain output: the sequence's log lines, one a line, no bar.
  EXPECT_FALSE(contains(r.out, "\r")) << r.out;
  for (const char* line :
       {"Starting\n", "Password Sent Successfully\n", "Erasing memory segments \n",
        "Memory successfully verified\n", "Resetting Device...\nStarting application\n", "Done!\n",
        "The Talkgate runs firmware 1.1.0\n"}) {
    EXPECT_TRUE(contains(r.out, line)) << line << "\n" << r.out;
  }
  // Nothing waited in real time, and the waits for the loader and for the Talkgate ended with
  // them back, far from the polls' bounds (10 s and 6 s).
  EXPECT_LT(clock_.totalSlept(), std::chrono::milliseconds(6000));
}

TEST_F(UpgradeRuns, DecliningTheRestoreWritesOnlyTheSerialNumber) {
  const RunResult r = upgrade({"--no-restore-settings"});
  ASSERT_EQ(r.code, kExitOk) << r.err;
  EXPECT_EQ(
      commandsOf(world_.talkgate().requests()),
      (std::vector<std::uint8_t>{kCmdStatus, kCmdEnterLoader, kCmdSetSerialNumber, kCmdStatus}));
  const sim::TalkgateState after = world_.talkgate().state();
  EXPECT_EQ(after.working, sim::SimTalkgate::factoryState().working);
  EXPECT_EQ(after.serialNumber, "TG990042");
  EXPECT_EQ(after.firmwareVersion, "1.1.0");
}

TEST_F(UpgradeRuns, RefusedPasswordMassErasesAndStillEndsWithAWorkingTalkgate) {
  world_.loader().refuseNextPasswords(1);
  const RunResult r = upgrade();
  ASSERT_EQ(r.code, kExitOk) << r.err << r.out;
  EXPECT_TRUE(contains(r.out, "Mass erase occured!\n")) << r.out;
  EXPECT_EQ(world_.loader().massErases(), 1);
  EXPECT_EQ(world_.talkgate().state().firmwareVersion, "1.1.0");
  EXPECT_EQ(world_.talkgate().state().working.symbolBrightness, 8);
}

TEST_F(UpgradeRuns, UnplugDuringProgrammingFailsAndASecondRunRecoversFromTheLoader) {
  world_.loader().unplugInPhase(sim::BslPhase::Program, 10);
  RunResult r = upgrade();
  EXPECT_EQ(r.code, kExitFailure);
  // The lost data blocks show up in the verification; then the device is seen to be gone.
  EXPECT_TRUE(contains(r.err,
                       "The firmware upgrade failed: Memory verification error. The device "
                       "is no longer on the bus."))
      << r.err;
  EXPECT_TRUE(contains(r.err, "run 'talkgatectl upgrade " + demoImage("1.1.0") + "' again"))
      << r.err;
  EXPECT_FALSE(world_.talkgate().pluggedIn());
  EXPECT_EQ(world_.upgrades(), 0);

  // Plugged in again, the half-written part waits in its loader; no settings were read now.
  world_.loader().plugIn();
  world_.talkgate().clearRequests();
  r = upgrade();
  ASSERT_EQ(r.code, kExitOk) << r.err << r.out;
  EXPECT_TRUE(contains(r.out, "finishing an interrupted upgrade")) << r.out;
  EXPECT_TRUE(contains(r.out, "so none are restored")) << r.out;
  EXPECT_EQ(commandsOf(world_.talkgate().requests()), std::vector<std::uint8_t>{kCmdStatus});
  EXPECT_EQ(world_.talkgate().state().firmwareVersion, "1.1.0");
  EXPECT_EQ(world_.talkgate().state().serialNumber, "TG990042");
}

TEST_F(UpgradeRuns, AskingForARestoreThatCannotBeDoneFailsAfterTheUpgrade) {
  world_.talkgate().unplug();
  world_.loader().plugIn();
  const RunResult r = upgrade({"--restore-settings"});
  EXPECT_EQ(r.code, kExitFailure);
  EXPECT_TRUE(contains(r.err, "so none are restored; the Talkgate runs its new firmware."))
      << r.err;
  EXPECT_EQ(world_.talkgate().state().firmwareVersion, "1.1.0");
}

TEST_F(UpgradeRuns, RestoreStopsAtTheFirstFailedRequest) {
  world_.talkgate().addFault({sim::Fault::Refuse, 1, 0, kCmdSetKeyTable, 1});
  const RunResult r = upgrade();
  EXPECT_EQ(r.code, kExitFailure);
  EXPECT_EQ(r.err.rfind("Unable to Load Table.. (refused or malformed reply (-13))", 0), 0u)
      << r.err;
  const auto commands = commandsOf(world_.talkgate().requests());
  ASSERT_FALSE(commands.empty());
  EXPECT_EQ(commands.back(), kCmdSetKeyTable) << "nothing is sent after the failed request";
  EXPECT_EQ(world_.talkgate().state().firmwareVersion, "1.1.0");
}

TEST_F(UpgradeRuns, FailedSerialNumberStopsBeforeTheSettings) {
  world_.talkgate().addFault({sim::Fault::Refuse, 1, 0, kCmdSetSerialNumber, 1});
  const RunResult r = upgrade();
  EXPECT_EQ(r.code, kExitFailure);
  EXPECT_TRUE(contains(r.err, "Unable to set SerialNumber..")) << r.err;
  EXPECT_TRUE(contains(r.err, "'talkgatectl set serial TG990042'")) << r.err;
  EXPECT_EQ(commandsOf(world_.talkgate().requests()).back(), kCmdSetSerialNumber);
}

TEST_F(UpgradeRuns, FirmwareThatNeverBringsTheTalkgateBackIsReportedAfterABoundedWait) {
  std::string image = readFile(demoImage("1.1.0"));
  const auto at = image.find("54 47 46 57 3A");  // the version marker "TGFW:"
  ASSERT_NE(at, std::string::npos);
  image.replace(at, 2, "00");
  const std::string file = path("unmarked.txt");
  { std::ofstream(file, std::ios::binary) << image; }

  // The wait starts when the reset takes the loader off the bus.
  std::chrono::milliseconds loaderLeft{-1};
  const int listener = bus_.addListener([&](const hid::DeviceInfo& info, bool arrived) {
    if (!arrived && info.productId == 0x0200) loaderLeft = clock_.now();
  });
  const RunResult r = run({"upgrade", file, "--yes"});
  bus_.removeListener(listener);
  EXPECT_EQ(r.code, kExitFailure);
  EXPECT_TRUE(
      contains(r.err, "programmed and verified, but the Talkgate did not come back within 6 s"))
      << r.err;
  const auto waited = clock_.now() - loaderLeft;
  EXPECT_GE(waited, std::chrono::milliseconds(6000));
  EXPECT_LE(waited, std::chrono::milliseconds(6500));
}

TEST_F(UpgradeRuns, TwoDevicesOnTheBusAreRefusedBeforeAnythingIsSent) {
  sim::SimTalkgate second(bus_);
  const RunResult r = upgrade();
  EXPECT_EQ(r.code, kExitFailure);
  EXPECT_TRUE(contains(r.err, "Upgrade one device at a time: 2 Talkgate(s)")) << r.err;
  EXPECT_EQ(bus_.reportsWritten(), 0u);
}

using UpgradeSwitch = CliTest;

TEST_F(UpgradeSwitch, TalkgateThatCannotBeSwitchedIsLeftAloneOrReportedAfterABoundedWait) {
  const std::string image = demoImage("1.1.0");
  sim::SimTalkgate talkgate(bus_);  // no loader behind it

  talkgate.addFault({sim::Fault::Refuse, 1, 0, kCmdStatus, 1});
  RunResult r = run({"upgrade", image, "--yes"});
  EXPECT_EQ(r.code, kExitFailure);
  EXPECT_EQ(r.err,
            "Unable to get device status information (refused or malformed reply (-13)). The "
            "Talkgate was not changed.\n");
  EXPECT_EQ(commandsOf(talkgate.requests()), std::vector<std::uint8_t>{kCmdStatus});

  talkgate.clearRequests();
  talkgate.addFault({sim::Fault::Refuse, 1, 0, kCmdEnterLoader, 1});
  r = run({"upgrade", image, "--yes"});
  EXPECT_EQ(r.code, kExitFailure);
  EXPECT_TRUE(contains(r.err, "Unable to switch the Talkgate to its bootstrap loader: refused"))
      << r.err;
  EXPECT_TRUE(talkgate.pluggedIn());

  // It leaves for a loader that never enumerates.
  const auto sleptBefore = clock_.totalSlept();
  r = run({"upgrade", image, "--yes", "--json"});
  EXPECT_EQ(r.code, kExitFailure);
  EXPECT_TRUE(contains(r.err, "no loader (2047:0200) appeared within 10 s")) << r.err;
  EXPECT_TRUE(jsonFalse(jsonAt(parseObject(r.result()), {"ok"})));
  const auto waited = clock_.totalSlept() - sleptBefore;
  EXPECT_GE(waited, std::chrono::milliseconds(10000));
  EXPECT_LE(waited, std::chrono::milliseconds(10500));
}

TEST_F(UpgradeSwitch, DevicePathCannotNameAWaitingLoader) {
  sim::SimWorld world(bus_);
  world.talkgate().unplug();
  world.loader().plugIn();
  const RunResult r = run({"--device", "sim:1", "upgrade", demoImage("1.1.0"), "--yes"});
  EXPECT_EQ(r.code, kExitFailure);
  EXPECT_TRUE(contains(r.err, "a bootstrap loader is waiting on the bus instead")) << r.err;
  EXPECT_EQ(bus_.reportsWritten(), 0u);
}

using UpgradeInput = UpgradeTest;

TEST_F(UpgradeInput, BadImagesAndArgumentsExitTwoAndSendNothing) {
  const std::string malformed = path("malformed.txt");
  { std::ofstream(malformed) << "@4400\n01 0G\nq\n"; }
  const std::string inLoaderArea = path("loader_area.txt");
  { std::ofstream(inLoaderArea) << "@1000\n01 02\n@FFFE\n00 44\nq\n"; }
  const std::string noResetVector = path("no_reset.txt");
  { std::ofstream(noResetVector) << "@4400\n01 02\nq\n"; }
  const std::string empty = path("empty.txt");
  { std::ofstream(empty) << "q\n"; }

  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  const std::vector<Case> cases = {
      {{"upgrade", malformed, "--yes"}, "line 2"},
      {{"upgrade", inLoaderArea, "--yes"}, "cannot be used"},
      {{"upgrade", noResetVector, "--yes"}, "cannot be used"},
      {{"upgrade", empty, "--yes"}, "cannot be used"},
      {{"upgrade", path("missing.txt"), "--yes"}, "cannot be used"},
      {{"upgrade", "/" + std::string(250, 'a'), "--yes"}, "too long for the loader"},
      {{"upgrade", "--yes"}, "needs a firmware image"},
      {{"upgrade", demoImage("1.1.0"), demoImage("1.0.4"), "--yes"}, "takes one firmware image"},
      {{"upgrade", demoImage("1.1.0"), "--yes", "--restore-settings", "--no-restore-settings"},
       "exclude each other"},
      {{"upgrade", demoImage("1.1.0"), "--force"}, "Unknown option '--force' for 'upgrade'."},
      // No terminal to ask on and no --yes.
      {{"upgrade", demoImage("1.1.0")}, "add --yes"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = c.args;
    args.insert(args.begin(), "--trace");
    const RunResult r = run(args);
    SCOPED_TRACE(r.err);
    EXPECT_EQ(r.code, kExitBadInput);
    EXPECT_TRUE(contains(r.err, c.message));
    EXPECT_TRUE(r.traceLines().empty());
    EXPECT_EQ(r.out, "");
  }
  EXPECT_EQ(bus_.reportsWritten(), 0u);
  EXPECT_TRUE(world_.talkgate().requests().empty());
  EXPECT_TRUE(world_.loader().commands().empty());
}

TEST_F(UpgradeInput, QuestionOnTheTerminalDecidesWhetherAnythingIsSent) {
  Environment environment;
  environment.usbPort = &bus_;
  environment.inputIsTerminal = true;

  std::istringstream no("n\n");
  environment.input = &no;
  RunResult r = run({"upgrade", demoImage("1.1.0")}, environment);
  EXPECT_EQ(r.code, kExitBadInput);
  EXPECT_EQ(r.err,
            "Are you sure you want to upgrade the firmware? [y/N] Firmware upgrade cancelled; "
            "nothing was sent to the device.\n");
  std::istringstream nothing("");
  environment.input = &nothing;
  EXPECT_EQ(run({"upgrade", demoImage("1.1.0")}, environment).code, kExitBadInput);
  EXPECT_EQ(bus_.reportsWritten(), 0u);

  std::istringstream yes("Yes\n");
  environment.input = &yes;
  r = run({"upgrade", demoImage("1.1.0")}, environment);
  EXPECT_EQ(r.code, kExitOk) << r.err;
  EXPECT_EQ(world_.talkgate().state().firmwareVersion, "1.1.0");
  // A loader this run did not start: the question names the risk, and "n" sends nothing.
  world_.talkgate().unplug();
  world_.loader().plugIn();
  world_.loader().clearCommands();
  std::istringstream refuse("n\n");
  environment.input = &refuse;
  r = run({"upgrade", demoImage("1.1.0")}, environment);
  EXPECT_EQ(r.code, kExitBadInput);
  EXPECT_TRUE(contains(r.err,
                       "Careful: a bootstrap loader (2047:0200) is waiting on the bus that this "
                       "run did not start; it may be a Talkgate whose upgrade was interrupted, or "
                       "another device, which Talkgate firmware would ruin. Program it with "
                       "Talkgate firmware? [y/N] "))
      << r.err;
  EXPECT_EQ(world_.loader().reportsReceived(), 0);
}

TEST_F(UpgradeInput, JsonReportsTheOutcomeAndTheLogOnBothEnds) {
  RunResult r = upgrade({"--json"});
  ASSERT_EQ(r.code, kExitOk) << r.err;
  Json o = parseObject(r.result());
  EXPECT_TRUE(jsonTrue(jsonAt(o, {"ok"})));
  EXPECT_EQ(jsonAt(o, {"firmware_version"}).text, "1.1.0");
  EXPECT_TRUE(jsonTrue(jsonAt(o, {"serial_number_restored"})));
  EXPECT_TRUE(jsonTrue(jsonAt(o, {"settings_restored"})));
  const std::vector<std::string> log = jsonStrings(jsonAt(o, {"log"}));
  EXPECT_TRUE(std::ranges::count(log, "Memory successfully verified")) << r.out;
  EXPECT_TRUE(std::ranges::count(log, "Done!")) << r.out;

  world_.talkgate().clearRequests();
  world_.loader().corruptWhenProgrammed(0x4400);
  r = upgrade({"--json"}, "1.0.4");
  EXPECT_EQ(r.code, kExitFailure);
  o = parseObject(r.result());
  EXPECT_TRUE(jsonFalse(jsonAt(o, {"ok"})));
  EXPECT_TRUE(jsonNull(o, "firmware_version"));
  EXPECT_TRUE(std::ranges::count(jsonStrings(jsonAt(o, {"log"})), "Memory verification error"))
      << r.out;
  EXPECT_TRUE(contains(r.err, "The firmware upgrade failed: Memory verification error.")) << r.err;
}

TEST_F(UpgradeInput, TerminalGetsABarThatEndsAtOneHundredPercent) {
  Environment environment;
  environment.usbPort = &bus_;
  environment.outputIsTerminal = true;
  const RunResult r = run({"upgrade", demoImage("1.1.0"), "--yes"}, environment);
  ASSERT_EQ(r.code, kExitOk) << r.err;
  EXPECT_TRUE(contains(r.out, "\r\033[K" + UpgradeOutput::bar(45))) << r.out;
  EXPECT_TRUE(contains(r.out, "\r\033[K" + UpgradeOutput::bar(100) + "\n")) << r.out;
  EXPECT_TRUE(contains(r.out, "\r\033[KMemory successfully verified\n")) << r.out;
}

TEST(UpgradeOutputTest, BarAndLineSplitting) {
  EXPECT_EQ(UpgradeOutput::bar(0), "[........................................]   0%");
  EXPECT_EQ(UpgradeOutput::bar(45), "[##################......................]  45%");
  EXPECT_EQ(UpgradeOutput::bar(100), "[########################################] 100%");
  EXPECT_EQ(UpgradeOutput::bar(130), UpgradeOutput::bar(100));

  std::ostringstream out;
  UpgradeOutput lines(out, ProgressStyle::Lines);
  lines.progress(35, "");
  lines.progress(90, "Resetting Device...\r\nStarting application\r\n");
  lines.progress(70, "Sending /tmp/\x1b[2Jx.txt\r\n");
  lines.progress(100, "Done!");
  EXPECT_EQ(out.str(),
            "Resetting Device...\nStarting application\nSending /tmp/\\x1B[2Jx.txt\nDone!\n");
  EXPECT_EQ(lines.lines(), (std::vector<std::string>{"Resetting Device...", "Starting application",
                                                     "Sending /tmp/\x1b[2Jx.txt", "Done!"}));
  EXPECT_EQ(lines.percent(), 100);
}

using SimulatedUpgrade = CliTest;

TEST_F(SimulatedUpgrade, NewFirmwareAndRestoredSettingsSurviveIntoTheNextRun) {
  const std::string state = path("s.json");
  ASSERT_EQ(run({"--simulate", "--sim-state", state, "set", "brightness", "2"}).code, kExitOk);
  RunResult r = run({"--simulate", "--sim-state", state, "upgrade", demoImage("1.1.0"), "--yes"});
  ASSERT_EQ(r.code, kExitOk) << r.err << r.out;
  EXPECT_FALSE(contains(r.out, "Mass erase")) << "the loader's flash holds the running image";

  r = run({"--simulate", "--sim-state", state, "status", "--json"});
  const Json o = parseObject(r.out);
  EXPECT_EQ(jsonAt(o, {"firmware_version"}).text, "1.1.0");
  EXPECT_EQ(jsonAt(o, {"symbol_led_brightness"}).integer, 2);
  EXPECT_EQ(jsonAt(o, {"serial_number"}).text, "TG260001");

  // And back again, without the settings this time.
  r = run({"--simulate", "--sim-state", state, "upgrade", demoImage("1.0.4"), "--yes",
           "--no-restore-settings"});
  ASSERT_EQ(r.code, kExitOk) << r.err;
  r = run({"--simulate", "--sim-state", state, "status", "--json"});
  EXPECT_EQ(jsonAt(parseObject(r.out), {"firmware_version"}).text, "1.0.4");
  EXPECT_EQ(jsonAt(parseObject(r.out), {"symbol_led_brightness"}).integer,
            sim::SimTalkgate::factoryState().working.symbolBrightness);
}

}  // namespace
