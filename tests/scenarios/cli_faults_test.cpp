// The same faults met through talkgatectl, run in-process on the simulated Talkgate and its
// loader: each scenario checks the exit status and the message on standard error, and what the
// device and the configuration file hold afterwards.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>

#include "tests/scenarios/cli_desk.h"
#include "tests/scenarios/power_up.h"

namespace talkgate::scenarios {
namespace {

// ---- Replies

struct ReplyCase {
  const char* name;
  sim::Fault fault;
  int delayMs;
  int exitCode;
  const char* error;  // standard error, "" when it stays empty
  int deviceHolds;    // brightness the device holds afterwards
};

class CliReplies : public CliFaults, public ::testing::WithParamInterface<ReplyCase> {};

TEST_P(CliReplies, SetBrightnessReportsTheResultAndTheDeviceHoldsWhatItActedOn) {
  const ReplyCase& c = GetParam();
  sim::FaultPlan plan;
  plan.fault = c.fault;
  plan.command = kCmdSetSymbolBrightness;
  plan.delayMs = c.delayMs;
  plan.count = 2;
  talkgate().addFault(plan);
  const RunResult r = run({"set", "brightness", "8"});
  EXPECT_EQ(r.code, c.exitCode) << r.err;
  EXPECT_EQ(r.err, c.error);
  EXPECT_EQ(r.out, c.exitCode == kExitOk ? "Symbol LED brightness set to 8.\n" : "");
  EXPECT_EQ(talkgate().state().working.symbolBrightness, c.deviceHolds);
  EXPECT_EQ(talkgate().state().defaults.symbolBrightness, 5);
}

const char kRefusedText[] =
    "Unable to set the symbol LED brightness: refused or malformed reply (-13).\n";

INSTANTIATE_TEST_SUITE_P(
    Faults, CliReplies,
    ::testing::Values(
        ReplyCase{"Refused", sim::Fault::Refuse, 0, kExitFailure, kRefusedText, 5},
        ReplyCase{"BadChecksum", sim::Fault::BadChecksum, 0, kExitFailure, kRefusedText, 8},
        ReplyCase{"BadSizeByte", sim::Fault::BadSizeByte, 0, kExitFailure,
                  "Unable to set the symbol LED brightness: bad size byte (-8).\n", 8},
        ReplyCase{"WrongLength", sim::Fault::WrongLength, 0, kExitFailure, kRefusedText, 8},
        ReplyCase{"BadStatusByte", sim::Fault::BadStatusByte, 0, kExitFailure, kRefusedText, 8},
        ReplyCase{"MissingEtx", sim::Fault::MissingEtx, 0, kExitFailure, kRefusedText, 8},
        ReplyCase{"NoReply", sim::Fault::NoReply, 0, kExitFailure,
                  "Unable to set the symbol LED brightness: timeout (-6).\n", 5},
        ReplyCase{"LateBeyondTimeout", sim::Fault::LateReply, 5000, kExitFailure,
                  "Unable to set the symbol LED brightness: timeout (-6).\n", 8},
        ReplyCase{"LateWithinTimeout", sim::Fault::LateReply, 4990, kExitOk, "", 8},
        ReplyCase{"AcknowledgedFirst", sim::Fault::AckFirst, 0, kExitOk, "", 8},
        ReplyCase{"Repeated", sim::Fault::RepeatedReply, 0, kExitOk, "", 8},
        ReplyCase{"LeavesTheBus", sim::Fault::LeaveBus, 0, kExitFailure,
                  "Unable to set the symbol LED brightness: no device or I/O error (-1).\n", 5}),
    [](const ::testing::TestParamInfo<ReplyCase>& info) { return std::string(info.param.name); });

TEST_F(CliFaults, StaleStatusReplyIsTakenForTheNextRequestsReply) {
  // A status read leaves the device's last reply behind for a stale copy.
  ASSERT_EQ(run({"status"}).code, kExitOk);
  talkgate().addFault({sim::Fault::StaleReply, 1, 0, kCmdStatus, 1});
  talkgate().setState([&] {
    auto s = talkgate().state();
    s.working.symbolBrightness = 2;
    return s;
  }());
  // The stale reply of the earlier read comes first and is taken: the tool shows the old
  // brightness, as replies are not matched to requests.
  RunResult r = run({"--json", "status"});
  ASSERT_EQ(r.code, kExitOk) << r.err;
  EXPECT_TRUE(contains(r.out, "\"symbol_led_brightness\": 5")) << r.out;
  // The fresh reply stays queued on the device and answers the next request instead; a set
  // request takes it as its own (the device acted on the set too).
  r = run({"set", "brightness", "7"});
  EXPECT_EQ(r.code, kExitOk) << r.err;
  EXPECT_EQ(talkgate().state().working.symbolBrightness, 7);
}

TEST_F(CliFaults, LateReplyAfterATimeoutDoesNotReachTheNextRun) {
  talkgate().addFault({sim::Fault::LateReply, 1, 6000, kCmdSetAmbientConfig, 1});
  RunResult r = run({"set", "ambient", "enable"});
  EXPECT_EQ(r.code, kExitFailure);
  EXPECT_EQ(r.err, "Unable to set the ambient configuration: timeout (-6).\n");
  EXPECT_EQ(talkgate().state().working.ambientConfig, 1);
  // The late reply arrives after that run closed its handle; the next run opens its own, which
  // starts with an empty queue, so it reads the current status.
  clock_.advance(std::chrono::milliseconds(2000));
  r = run({"--json", "status"});
  EXPECT_EQ(r.code, kExitOk) << r.err;
  EXPECT_TRUE(contains(r.out, "\"ambient\": 1")) << r.out;
}

// ---- The Talkgate leaves during a restore

struct RestoreLeaveCase {
  const char* name;
  int command;
  const char* message;
  int stepsInForce;
};

class CliRestoreLeaves : public CliFaults,
                         public ::testing::WithParamInterface<RestoreLeaveCase> {};

TEST_P(CliRestoreLeaves, StopsAtThatStepKeepsTheFileAndASecondRunFinishes) {
  const RestoreLeaveCase& c = GetParam();
  const std::string file = path("USBTalkgateUtilityCfg.ini");
  { std::ofstream(file, std::ios::binary) << kRestoreFile; }
  const auto before = talkgate().state();
  talkgate().addFault({sim::Fault::LeaveBus, 1, 0, c.command, 1});
  RunResult r = run({"--config", file, "config", "restore"});
  EXPECT_EQ(r.code, kExitFailure);
  EXPECT_EQ(r.err, std::string(c.message) + " Result: no device or I/O error (-1).\n");
  EXPECT_EQ(commands().back(), c.command);
  EXPECT_EQ(readFile(file), kRestoreFile);
  const auto after = talkgate().state().working;
  EXPECT_EQ(after.keypadType, c.stepsInForce >= 1 ? 1 : 0);
  EXPECT_EQ(after.keyTable, c.stepsInForce >= 2 ? kRestoreTable : before.working.keyTable);
  EXPECT_EQ(after.ambientConfig, c.stepsInForce >= 3 ? 1 : 0);
  EXPECT_EQ(after.symbolBrightness, 5);

  talkgate().plugIn();
  r = run({"--config", file, "config", "restore"});
  EXPECT_EQ(r.code, kExitOk) << r.err;
  EXPECT_EQ(talkgate().state().working.symbolBrightness, 2);
  EXPECT_EQ(talkgate().state().working.keyTable, kRestoreTable);
}

INSTANTIATE_TEST_SUITE_P(Steps, CliRestoreLeaves,
                         ::testing::Values(RestoreLeaveCase{"KeypadType", kCmdSetKeypadType,
                                                            "Unable to set Keypad Type..", 0},
                                           RestoreLeaveCase{"KeyTable", kCmdSetKeyTable,
                                                            "Unable to Load Table..", 1},
                                           RestoreLeaveCase{"Ambient", kCmdSetAmbientConfig,
                                                            "Unable to set ambient cfg..", 2},
                                           RestoreLeaveCase{"Brightness", kCmdSetSymbolBrightness,
                                                            "Unable to set led brightness..", 3}),
                         [](const ::testing::TestParamInfo<RestoreLeaveCase>& info) {
                           return std::string(info.param.name);
                         });

// ---- Upgrades

const char kSettingsNote[] =
    "The settings read before this upgrade: 'talkgatectl set brightness 5', 'set ambient "
    "disable', 'set keypad default', key code table 02 04 00 05 00 06 00 07 00 52 00 28. If the "
    "device comes back in its bootstrap loader, the run that finishes the upgrade cannot write "
    "them back: set them again afterwards, then 'talkgatectl save'.";
const char kUnpluggedFailure[] = "The firmware upgrade failed: USB device was unplugged!.";
const char kVerifyFailure[] = "The firmware upgrade failed: Memory verification error.";
const char kVectorEraseFailure[] = "The firmware upgrade failed: Failed to erase reset vector.";

struct UpgradeLeaveCase {
  const char* name;
  sim::BslPhase phase;
  const char* failure;      // in the first run's message
  bool settingsKnownAfter;  // the second run starts from a Talkgate and restores them
};

class CliUpgradeLeaves : public CliFaults,
                         public ::testing::WithParamInterface<UpgradeLeaveCase> {};

TEST_P(CliUpgradeLeaves, FailsWithAdviceAndRunningAgainFinishesTheUpgrade) {
  const UpgradeLeaveCase& c = GetParam();
  world_.loader().unplugInPhase(c.phase);
  RunResult r = run({"upgrade", demoImage("1.1.0"), "--yes"});
  EXPECT_EQ(r.code, kExitFailure);
  EXPECT_TRUE(contains(r.err, c.failure)) << r.err;
  EXPECT_TRUE(contains(r.err, "run 'talkgatectl upgrade " + demoImage("1.1.0") + "' again"))
      << r.err;
  EXPECT_FALSE(world_.loader().pluggedIn());
  EXPECT_FALSE(talkgate().pluggedIn());
  EXPECT_EQ(world_.upgrades(), 0);
  // The settings read before are told while they are known; a run that has to finish from
  // the loader cannot read them.
  const bool programmingFailed = c.phase != sim::BslPhase::Reset;
  EXPECT_EQ(contains(r.err, kSettingsNote), programmingFailed) << r.err;

  world_.loader().clearFaults();
  scen::powerUp(world_);
  r = run({"upgrade", demoImage("1.1.0"), "--yes"});
  ASSERT_EQ(r.code, kExitOk) << r.err << r.out;
  EXPECT_TRUE(contains(r.out, "The Talkgate runs firmware 1.1.0")) << r.out;
  const auto state = talkgate().state();
  EXPECT_EQ(state.firmwareVersion, "1.1.0");
  EXPECT_EQ(state.serialNumber, "TG990042");
  if (c.settingsKnownAfter) {
    EXPECT_EQ(state.working, talkgateOn104().talkgate.working);
    EXPECT_TRUE(contains(r.out, "Previous settings restored")) << r.out;
  } else {
    // The new firmware starts with its own settings; the ones told above put them back.
    EXPECT_TRUE(contains(r.out, "so none are restored")) << r.out;
    EXPECT_EQ(state.working.symbolBrightness,
              sim::SimTalkgate::factoryState().working.symbolBrightness);
    EXPECT_EQ(run({"set", "brightness", "5"}).code, kExitOk);
    EXPECT_EQ(run({"save"}).code, kExitOk);
    EXPECT_EQ(talkgate().state().defaults.symbolBrightness, 5);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Phases, CliUpgradeLeaves,
    ::testing::Values(
        UpgradeLeaveCase{"RomPassword", sim::BslPhase::RomPassword, kUnpluggedFailure, true},
        UpgradeLeaveCase{"RamData", sim::BslPhase::RamData, kUnpluggedFailure, true},
        UpgradeLeaveCase{"LoadPc", sim::BslPhase::LoadPc, kUnpluggedFailure, true},
        UpgradeLeaveCase{"RamPassword", sim::BslPhase::RamPassword, kUnpluggedFailure, true},
        UpgradeLeaveCase{"Version", sim::BslPhase::Version, kUnpluggedFailure, true},
        UpgradeLeaveCase{"Erase", sim::BslPhase::Erase, kVectorEraseFailure, true},
        UpgradeLeaveCase{"Program", sim::BslPhase::Program, kVerifyFailure, false},
        UpgradeLeaveCase{"CrcCheck", sim::BslPhase::CrcCheck, kVerifyFailure, false},
        UpgradeLeaveCase{"Reset", sim::BslPhase::Reset, "did not come back within 6 s", true}),
    [](const ::testing::TestParamInfo<UpgradeLeaveCase>& info) {
      return std::string(info.param.name);
    });

TEST_F(CliFaults, FlippedFlashBitFailsTheVerificationAndTheLoaderWaitsForTheNextRun) {
  world_.loader().corruptWhenProgrammed(0x4410, 0x04);
  RunResult r = run({"upgrade", demoImage("1.1.0"), "--yes"});
  EXPECT_EQ(r.code, kExitFailure);
  EXPECT_TRUE(contains(r.err, kVerifyFailure)) << r.err;
  EXPECT_TRUE(world_.loader().pluggedIn());
  EXPECT_EQ(world_.loader().resets(), 0);

  world_.loader().clearFaults();
  r = run({"upgrade", demoImage("1.1.0"), "--yes"});
  ASSERT_EQ(r.code, kExitOk) << r.err << r.out;
  EXPECT_EQ(talkgate().state().firmwareVersion, "1.1.0");
}

}  // namespace
}  // namespace talkgate::scenarios
