// Rehearsing an interrupted upgrade: the simulated world kept in a state file, the loader's
// faults on demand, interrupts while the Talkgate is programmed, and progress that reaches a
// pipe as it happens.

#include <unistd.h>

#include <csignal>
#include <sstream>

#include "cli/signal_counter.h"
#include "firmware/firmware_resources.h"
#include "firmware/ti_txt.h"
#include "sim/world_state.h"
#include "tests/support/platform.h"
#include "upgrade_fixture.h"

namespace talkgate::cli::testing {
namespace {

// The reset vector (0xFFFE) of the part a state file describes.
std::vector<std::uint8_t> savedResetVector(const sim::WorldState& state) {
  sim::VirtualBus bus;
  sim::SimWorld world(bus, sim::SimWorld::optionsFrom(state));
  return world.loader().readMemory(0xFFFE, 2);
}

const std::vector<std::uint8_t> kErased{0xFF, 0xFF};

class StateFileRuns : public CliTest {
 protected:
  RunResult sim(std::vector<std::string> args) {
    args.insert(args.begin(), {"--simulate", "--sim-state", state_});
    return run(args);
  }
  sim::WorldState saved() {
    sim::WorldState state;
    std::string error;
    EXPECT_TRUE(sim::loadWorldState(state_, state, error)) << error;
    return state;
  }

  const std::string image_ = demoImage("1.1.0");
  std::string state_;  // in the test's folder, known once it exists

  void SetUp() override {
    CliTest::SetUp();
    state_ = path("s.json");
  }
};

TEST_F(StateFileRuns, InterruptedUpgradeIsLeftInItsLoaderAndTheNextRunRecoversIt) {
  RunResult r = sim({"--sim-fault", "unplug@70", "upgrade", image_, "--yes"});
  EXPECT_EQ(r.code, kExitFailure) << r.err;
  EXPECT_TRUE(saved().inLoader);
  EXPECT_EQ(savedResetVector(saved()), kErased);

  r = sim({"list"});
  EXPECT_EQ(r.code, kExitOk);
  EXPECT_TRUE(contains(r.out, "Loader  0          loader")) << r.out;
  EXPECT_FALSE(contains(r.out, "Talkgate")) << r.out;

  r = sim({"upgrade", image_, "--yes"});
  EXPECT_EQ(r.code, kExitOk) << r.err;
  EXPECT_TRUE(contains(r.out, "finishing an interrupted upgrade")) << r.out;
  r = sim({"status"});
  EXPECT_EQ(r.code, kExitOk) << r.err;
  EXPECT_TRUE(contains(r.out, "Firmware version       1.1.0\n")) << r.out;
  EXPECT_FALSE(saved().inLoader);
  EXPECT_NE(savedResetVector(saved()), kErased);
}

// The report that erases the reset vector: ROM password and version, the RAM loader, Load PC,
// RAM password, version and device ID, then the erase.
int resetVectorEraseReport() {
  firmware::TiTxtImage ramLoader;
  firmware::TiTxtError error;
  EXPECT_TRUE(firmware::parseTiTxt(firmware::firmwareResources().ramBslText, ramLoader, error));
  int blocks = 0;
  for (const auto& s : ramLoader.sections) blocks += static_cast<int>((s.data.size() + 51) / 52);
  return 2 + blocks + 1 + 3 + 1;
}

// Each fault strikes once, alone or beside another: the run it is armed for shows it and says
// what the part holds, the next run is clean.
TEST_F(StateFileRuns, EachLoaderFaultStrikesOnce) {
  struct Case {
    std::vector<std::string> faults;
    int code;
    std::string shows;   // on standard output
    std::string advice;  // on standard error
    bool vectorErased;
  };
  const std::string loaderWaits = "The device stays in its bootstrap loader until it has been";
  const std::string oldKept = "The Talkgate keeps its old firmware, whole: unplug it";
  const std::vector<Case> cases{
      {{"refuse-password"}, kExitOk, "Mass erase occured!", "", false},
      {{"corrupt-byte@75"}, kExitFailure, "Memory verification error", loaderWaits, true},
      {{"stop-answering@75"}, kExitFailure, "Memory verification error", loaderWaits, true},
      {{"erase-fails"}, kExitFailure, "Failed to erase reset vector", oldKept, false},
      {{"unplug@" + std::to_string(resetVectorEraseReport())}, kExitFailure,
       "Failed to erase reset vector", oldKept, false},
      // It is on the bus before the RAM loader comes back, in its place.
      {{"second-loader@3"}, kExitFailure, "The bootstrap loader on the bus now hangs on USB port",
       oldKept, false},
      // The Talkgate's loader comes up on another port: nothing is sent to it.
      {{"other-port"}, kExitFailure, "where the Talkgate was switched to its loader", oldKept,
       false},
      {{"other-port@2"}, kExitFailure, "where this upgrade started", oldKept, false},
      {{"corrupt-byte@75", "stop-answering@80"}, kExitFailure, "Memory verification error",
       loaderWaits, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.faults.front());
    std::filesystem::remove(state_);
    std::vector<std::string> args;
    for (const std::string& fault : c.faults) args.insert(args.end(), {"--sim-fault", fault});
    args.insert(args.end(), {"upgrade", image_, "--yes"});
    RunResult r = sim(args);
    EXPECT_EQ(r.code, c.code) << r.err;
    EXPECT_TRUE(contains(r.out, c.shows)) << r.out;
    EXPECT_TRUE(contains(r.err, c.advice)) << r.err;
    EXPECT_EQ(saved().inLoader, c.code != kExitOk);
    if (c.code != kExitOk) {
      EXPECT_EQ(savedResetVector(saved()) == kErased, c.vectorErased);
      r = sim({"upgrade", image_, "--yes"});
      EXPECT_EQ(r.code, kExitOk) << r.err << r.out;
    }
    EXPECT_EQ(saved().talkgate.firmwareVersion, "1.1.0");
  }
}

TEST_F(StateFileRuns, BadFaultsAreBadInputAndTouchNothing) {
  for (const std::string fault :
       {"melt", "unplug@0", "unplug@", "unplug@7x", "Unplug@3", "corrupt-byte@99999999"}) {
    const RunResult r = sim({"--sim-fault", fault, "upgrade", image_, "--yes"});
    EXPECT_EQ(r.code, kExitBadInput) << fault;
    EXPECT_TRUE(contains(r.err, "--sim-fault")) << r.err;
  }
  const RunResult r = run({"--sim-fault", "unplug@3", "list"});
  EXPECT_EQ(r.code, kExitBadInput);
  EXPECT_TRUE(contains(r.err, "--sim-fault needs --simulate")) << r.err;
  EXPECT_FALSE(std::filesystem::exists(state_));
}

// Interrupts counted before each loader report: none, then one, then two from `stopAt` on.
struct InterruptScript {
  int warnAt = 0;
  int stopAt = 0;
  int calls = 0;
  int operator()() {
    ++calls;
    return (warnAt && calls >= warnAt) + (stopAt && calls >= stopAt);
  }
};

class InterruptedUpgrade : public UpgradeTest {
 protected:
  RunResult upgradeWith(InterruptScript& script, std::vector<std::string> extra = {}) {
    Environment environment;
    environment.usbPort = &bus_;
    environment.interrupts = [&script] { return script(); };
    std::vector<std::string> args = {"upgrade", demoImage("1.1.0"), "--yes"};
    args.insert(args.end(), extra.begin(), extra.end());
    return run(args, environment);
  }
  static int count(const std::string& text, const std::string& part) {
    int n = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
  }
};

TEST_F(InterruptedUpgrade, SecondInterruptStopsBeforeTheNextReportAndTellsHowToRecover) {
  InterruptScript script{10, 70};
  RunResult r = upgradeWith(script);
  EXPECT_EQ(r.code, kExitFailure);
  EXPECT_EQ(script.calls, 70) << "asked again after the stop";
  EXPECT_EQ(world_.loader().reportsReceived(), 69);
  EXPECT_EQ(count(r.err, "Interrupt received while the Talkgate is being programmed"), 1) << r.err;
  EXPECT_TRUE(contains(r.err, "stopped on request after the current report")) << r.err;
  EXPECT_TRUE(contains(r.err, "run 'talkgatectl upgrade " + demoImage("1.1.0") + " --yes'"))
      << r.err;
  // The reports never sent are not reported as a failed verification.
  EXPECT_FALSE(contains(r.out, "Firmware Sent")) << r.out;
  EXPECT_FALSE(contains(r.out, "Memory verification")) << r.out;
  EXPECT_TRUE(world_.loader().pluggedIn());
  EXPECT_FALSE(world_.talkgate().pluggedIn());
  EXPECT_EQ(world_.loader().readMemory(0xFFFE, 2), kErased);

  r = upgrade();
  EXPECT_EQ(r.code, kExitOk) << r.err;
  EXPECT_EQ(world_.talkgate().state().firmwareVersion, "1.1.0");
}

TEST_F(InterruptedUpgrade, OneInterruptOnlyWarnsAndJsonStepsAddUpToTheLog) {
  InterruptScript script{5, 0};
  const RunResult r = upgradeWith(script, {"--json"});
  ASSERT_EQ(r.code, kExitOk) << r.err;
  EXPECT_EQ(count(r.err, "Interrupt again to stop after the current report."), 1) << r.err;
  EXPECT_EQ(world_.talkgate().state().firmwareVersion, "1.1.0");

  std::vector<std::string> stepLines;
  long long lastPercent = 0;
  for (const std::string& line : r.progressLines()) {
    const Json step = parseObject(line);
    EXPECT_GE(jsonAt(step, {"progress"}).integer, lastPercent) << line;
    lastPercent = jsonAt(step, {"progress"}).integer;
    for (const auto& text : jsonStrings(jsonAt(step, {"lines"}))) stepLines.push_back(text);
  }
  EXPECT_EQ(lastPercent, 100);
  EXPECT_EQ(stepLines, jsonStrings(jsonAt(parseObject(r.result()), {"log"})));
}

// Standard output as a pipe passes it on: only what was flushed.
class PipeBuffer : public std::stringbuf {
 public:
  std::string delivered;

 protected:
  int sync() override {
    delivered = str();
    return 0;
  }
};

TEST_F(InterruptedUpgrade, ProgressLinesReachAPipeAsTheyHappen) {
  PipeBuffer pipe;
  std::ostream out(&pipe);
  std::ostringstream err;
  std::vector<std::string> seen;  // what the pipe had delivered before each loader report
  Environment environment;
  environment.usbPort = &bus_;
  environment.interrupts = [&] {
    seen.push_back(pipe.delivered);
    return 0;
  };
  ASSERT_EQ(runTalkgatectl({"upgrade", demoImage("1.1.0"), "--yes"}, out, err, environment),
            kExitOk)
      << err.str();
  ASSERT_FALSE(seen.empty());
  EXPECT_TRUE(contains(seen.front(), "Settings of the Talkgate read")) << seen.front();
  EXPECT_TRUE(contains(seen.front(), "Starting\n")) << seen.front();
  const std::string sending = "Sending " + demoImage("1.1.0") + "\n";
  const auto whileSending = std::find_if(seen.begin(), seen.end(), [&](const std::string& s) {
    return contains(s, sending) && !contains(s, "Firmware Sent");
  });
  EXPECT_NE(whileSending, seen.end()) << "the image line came only with the later ones";
}

int termSignals = 0;
extern "C" void countTermForTest(int) {
  ++termSignals;
}

TEST(SignalCounter, CountsRealSignalsAndPutsThePreviousHandlerBack) {
  if (faults::kTestsOnWindows) {
    GTEST_SKIP() << "Ctrl-C reaches a Windows program through its console, which raise() does "
                    "not go through and a test run under wine has none of";
  }
  termSignals = 0;
  std::signal(SIGTERM, countTermForTest);
  {
    SignalCounter counter;
    std::raise(SIGTERM);
    std::raise(SIGINT);
    EXPECT_EQ(counter.count(), 2);
    EXPECT_EQ(termSignals, 0);
  }
  std::raise(SIGTERM);
  EXPECT_EQ(termSignals, 1);
  std::signal(SIGTERM, SIG_DFL);
}

}  // namespace
}  // namespace talkgate::cli::testing
