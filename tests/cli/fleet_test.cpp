// talkgatectl --all: a command on every Talkgate on the bus, one result per device, a summary,
// and the exit status that says whether every one of them succeeded.

#include <gtest/gtest.h>

#include <memory>

#include "cli_fixture.h"
#include "device/commands.h"
#include "json_reader.h"
#include "sim/sim_world.h"

using namespace talkgate;
using namespace talkgate::cli;
using talkgate::cli::testing::CliTest;
using talkgate::cli::testing::RunResult;
using talkgate::cli::testing::Json;
using talkgate::cli::testing::jsonAt;

namespace {

std::vector<Json> jsonArray(const RunResult& r) {
  const Json value = talkgate::cli::testing::parseJson(r.out);
  EXPECT_EQ(value.kind, Json::Kind::Array) << r.out;
  return value.items;
}

}  // namespace

using Fleet = CliTest;

TEST_F(Fleet, ThreeSimulatedTalkgatesOneOfWhichFailsAndTheCountIsKept) {
  const std::string state = path("s.json");
  Environment environment;
  int seen = 0;
  environment.onSimulatedDevice = [&seen](sim::SimTalkgate& talkgate) {
    if (++seen == 2) talkgate.addFault({sim::Fault::Refuse, 1, 0, kCmdSetSymbolBrightness, 1});
  };
  RunResult r = run(
      {"--simulate", "--sim-devices", "3", "--sim-state", state, "--all", "set", "brightness", "7"},
      environment);
  EXPECT_EQ(r.code, kExitFailure);
  EXPECT_EQ(r.out,
            "sim:2 TG260001: Symbol LED brightness set to 7.\n"
            "sim:4 TG260002: failed: Unable to set the symbol LED brightness: refused or "
            "malformed reply (-13).\n"
            "sim:6 TG260003: Symbol LED brightness set to 7.\n"
            "3 Talkgates: 2 succeeded, 1 failed.\n");

  r = run({"--simulate", "--sim-state", state, "--all", "status", "--json"});
  ASSERT_EQ(r.code, kExitOk) << r.err;
  const std::vector<Json> results = jsonArray(r);
  ASSERT_EQ(results.size(), 3u) << "the count is kept in the state file";
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(jsonAt(results[i], {"serial_number"}).text, "TG26000" + std::to_string(i + 1));
    const Json& brightness = jsonAt(results[i], {"result", "symbol_led_brightness"});
    EXPECT_EQ(brightness.kind, Json::Kind::Integer);
    EXPECT_EQ(brightness.integer, i == 1 ? 5 : 7);
  }
}

TEST_F(Fleet, OneTalkgateAndNoneAndRefusedInput) {
  RunResult r = run({"--all", "status"});
  EXPECT_EQ(r.code, kExitFailure) << "nothing done is no success";
  EXPECT_EQ(r.err, "No Talkgate is connected, so no command was run.\n");
  EXPECT_EQ(run({"--all", "--json", "status"}).out, "[]\n");

  sim::SimTalkgate talkgate(bus_);
  // A multi-line answer goes under the device's line.
  r = run({"--all", "table", "show"});
  ASSERT_EQ(r.code, kExitOk) << r.err;
  EXPECT_EQ(r.out.rfind(talkgate.configPath() + " TG260001: ok\n  EVENT ", 0), 0u) << r.out;

  talkgate.clearRequests();
  r = run({"--all", "set", "brightness", "10"});
  EXPECT_EQ(r.code, kExitBadInput);
  EXPECT_EQ(r.out, "") << "refused once for all, before any device";
  EXPECT_EQ(run({"--all", "list"}).code, kExitBadInput);
  EXPECT_TRUE(talkgate.requests().empty());
}

TEST_F(Fleet, UpgradesGoOneAtATimeEachBackAsATalkgateBeforeTheNext) {
  std::vector<std::unique_ptr<sim::SimWorld>> worlds;
  for (int i = 1; i <= 3; ++i) {
    sim::SimWorldOptions options;
    options.initialImage = readFile(sim::demoImagesDir() + "/talkgate_fw_1.0.4.txt");
    options.talkgate.serialNumber = "TG00000" + std::to_string(i);
    options.talkgate.working.symbolBrightness = static_cast<std::uint8_t>(i);
    worlds.push_back(std::make_unique<sim::SimWorld>(bus_, options));
  }
  // What arrives and leaves, in order: "L+" a loader, "T+" a Talkgate, "T-", "L-".
  std::vector<std::string> events;
  const int listener = bus_.addListener([&events](const hid::DeviceInfo& info, bool arrived) {
    if (info.interfaceNumber != kConfigInterface && info.productId != 0x0200) return;
    events.push_back(std::string(info.productId == 0x0200 ? "L" : "T") + (arrived ? "+" : "-"));
  });
  const RunResult r =
      run({"--all", "--json", "upgrade", sim::demoImagesDir() + "/talkgate_fw_1.1.0.txt", "--yes"});
  bus_.removeListener(listener);
  ASSERT_EQ(r.code, kExitOk) << r.err << r.out;
  const std::vector<Json> results = jsonArray(r);
  ASSERT_EQ(results.size(), 3u) << r.out;
  // Never two loaders at once, and each Talkgate back before the next one leaves.
  int loaders = 0;
  int away = 0;
  int returned = 0;
  for (const auto& event : events) {
    loaders += event == "L+" ? 1 : event == "L-" ? -1 : 0;
    EXPECT_LE(loaders, 1);
    if (event == "T-") {
      EXPECT_EQ(away++, 0) << "a second Talkgate left while one was away";
    }
    if (event == "T+") returned += away-- == 1 ? 1 : 0;
  }
  EXPECT_EQ(returned, 3);
  EXPECT_EQ(away, 0);
  for (int i = 0; i < 3; ++i) {
    const sim::TalkgateState state = worlds[i]->talkgate().state();
    EXPECT_EQ(state.firmwareVersion, "1.1.0");
    EXPECT_EQ(state.serialNumber, "TG00000" + std::to_string(i + 1));
    EXPECT_EQ(state.working.symbolBrightness, i + 1) << "each got its own settings back";
    EXPECT_TRUE(talkgate::cli::testing::jsonTrue(jsonAt(results[i], {"ok"})));
    EXPECT_EQ(jsonAt(results[i], {"result", "firmware_version"}).text, "1.1.0");
  }
}
