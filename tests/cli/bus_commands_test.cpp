// talkgatectl list and --device: several devices on one bus.

#include <gtest/gtest.h>

#include "cli_fixture.h"

using namespace talkgate;
using namespace talkgate::cli;
using talkgate::cli::testing::CliTest;
using talkgate::cli::testing::contains;
using talkgate::cli::testing::RunResult;

namespace {

sim::TalkgateState withSerial(const std::string& serial) {
  sim::TalkgateState state;
  state.serialNumber = serial;
  return state;
}

}  // namespace

using BusCommands = CliTest;

TEST_F(BusCommands, ListShowsEveryInterfaceAndTheLoader) {
  EXPECT_EQ(run({"list"}).out, "No Talkgate or bootstrap loader is connected.\n");
  EXPECT_EQ(run({"list", "--json"}).out, "[]\n");
  EXPECT_EQ(run({"list", "--quiet-real"}).code, kExitFailure);

  sim::SimTalkgate first(bus_, withSerial("AAAA0001"), "1-1.4");
  sim::SimTalkgate second(bus_, withSerial("BBBB0002"));
  const RunResult quiet = run({"list", "--quiet-real"});
  EXPECT_EQ(quiet.code, kExitOk);
  EXPECT_EQ(quiet.out, "");

  const RunResult r = run({"list"});
  ASSERT_EQ(r.code, kExitOk) << r.err;
  std::istringstream lines(r.out);
  std::vector<std::string> rows;
  for (std::string line; std::getline(lines, line);) rows.push_back(line);
  ASSERT_EQ(rows.size(), 5u) << r.out;  // header and two interfaces of each Talkgate
  EXPECT_EQ(rows[0].rfind("DEVICE    INTERFACE  ROLE", 0), 0u) << rows[0];
  int configurationRows = 0;
  for (const auto& row : rows) {
    if (contains(row, "configuration")) {
      ++configurationRows;
      EXPECT_TRUE(contains(row, first.configPath()) || contains(row, second.configPath())) << row;
    }
  }
  EXPECT_EQ(configurationRows, 2);

  const RunResult json = run({"--json", "list"});
  EXPECT_TRUE(contains(json.out, "\"path\": \"" + second.configPath() + "\"")) << json.out;
  EXPECT_TRUE(contains(json.out, "\"role\": \"configuration\"")) << json.out;
  // The port where it is told (the first's), null where not (the second's, listed last).
  const std::string port = "\"location\": \"1-1.4\"";
  const std::size_t at = json.out.find("\"path\": \"" + first.configPath() + "\"");
  EXPECT_EQ(json.out.substr(json.out.find("\"location\": ", at), port.size()), port) << json.out;
  EXPECT_TRUE(contains(json.out, "\"location\": null\n  }\n]")) << json.out;

  hid::DeviceInfo loader{"", 0x2047, 0x0200, 0, L"", L"", L""};
  struct Silent : sim::Endpoint {
    bool hostWrite(const std::uint8_t*, std::size_t) override { return true; }
    int hostRead(std::uint8_t*, std::size_t) override { return 0; }
  };
  const std::string loaderPath = bus_.attach(loader, std::make_shared<Silent>());
  const RunResult withLoader = run({"list"});
  EXPECT_TRUE(contains(withLoader.out, "Loader")) << withLoader.out;
  EXPECT_TRUE(contains(withLoader.out, loaderPath)) << withLoader.out;
}

TEST_F(BusCommands, DevicePathPicksOneOfSeveral) {
  sim::SimTalkgate first(bus_, withSerial("AAAA0001"));
  sim::SimTalkgate second(bus_, withSerial("BBBB0002"));

  RunResult r = run({"status", "--json"});
  EXPECT_TRUE(contains(r.out, "AAAA0001")) << "without --device the first one answers";
  first.clearRequests();

  r = run({"--device", second.configPath(), "status"});
  ASSERT_EQ(r.code, kExitOk) << r.err;
  EXPECT_TRUE(contains(r.out, "Serial number          BBBB0002\n")) << r.out;
  EXPECT_TRUE(contains(r.out, "Product                Talkgate\n")) << r.out;

  ASSERT_EQ(run({"--device", second.configPath(), "set", "brightness", "0"}).code, kExitOk);
  EXPECT_EQ(second.state().working.symbolBrightness, 0);
  EXPECT_EQ(first.state().working.symbolBrightness, 5);
  EXPECT_TRUE(first.requests().empty());

  r = run({"--device", "sim:999", "status"});
  EXPECT_EQ(r.code, kExitFailure);
  EXPECT_EQ(r.err, "No Talkgate is connected at sim:999.\n");

  // The keyboard interface of the same device speaks no commands.
  std::string keyboardPath;
  for (const auto& info : bus_.devices()) {
    if (info.interfaceNumber == 0) keyboardPath = info.path;
  }
  ASSERT_FALSE(keyboardPath.empty());
  r = run({"--device", keyboardPath, "set", "brightness", "1"});
  EXPECT_EQ(r.code, kExitFailure);
  EXPECT_TRUE(contains(r.err, "not the configuration interface")) << r.err;
  EXPECT_TRUE(first.requests().empty());

  bus_.setOpenError(second.configPath(), hid::OpenError::PermissionDenied);
  r = run({"--device", second.configPath(), "status"});
  EXPECT_TRUE(contains(r.err, "Permission denied opening the Talkgate (" + second.configPath() +
                                  "). Install the udev rule 70-talkgate.rules"))
      << r.err;
}
