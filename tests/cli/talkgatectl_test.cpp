// talkgatectl end to end, in-process, on simulated Talkgates: output, exit codes, bad input,
// failed requests and the simulated device's state between runs.

#include <gtest/gtest.h>

#include "cli_fixture.h"
#include "sim/world_state.h"

using namespace talkgate;
using namespace talkgate::cli;
using talkgate::cli::testing::CliTest;
using talkgate::cli::testing::contains;
using talkgate::cli::testing::RunResult;

namespace {

constexpr char kFactoryStatusJson[] = R"({
  "symbol_led_brightness": 5,
  "ambient": 0,
  "keypad_type": 0,
  "key_table": [0, 111, 0, 112, 0, 113, 0, 114, 0, 82, 0, 40],
  "firmware_version": "1.0.4",
  "serial_number": "TG260001",
  "temperature": "23.5C"
}
)";

}  // namespace

using SimStateRuns = CliTest;

TEST_F(SimStateRuns, ASettingSurvivesIntoTheNextRunAndFactoryResetUndoesIt) {
  const std::string state = path("s.json");
  RunResult r = run({"--simulate", "--sim-state", state, "set", "brightness", "7"});
  ASSERT_EQ(r.code, kExitOk) << r.err;
  EXPECT_EQ(r.out, "Symbol LED brightness set to 7.\n");

  r = run({"--simulate", "--sim-state", state, "set", "ambient", "enable"});
  ASSERT_EQ(r.code, kExitOk) << r.err;
  r = run({"--simulate", "--sim-state", state, "status", "--json"});
  ASSERT_EQ(r.code, kExitOk) << r.err;
  EXPECT_TRUE(contains(r.out, "\"symbol_led_brightness\": 7,")) << r.out;
  EXPECT_TRUE(contains(r.out, "\"ambient\": 1,")) << r.out;

  r = run({"--simulate", "--sim-state", state, "factory-reset"});
  ASSERT_EQ(r.code, kExitOk) << r.err;
  r = run({"--simulate", "--sim-state", state, "--json", "status"});
  ASSERT_EQ(r.code, kExitOk) << r.err;
  EXPECT_EQ(r.out, kFactoryStatusJson);
}

TEST_F(SimStateRuns, WithoutAStateFileEveryRunStartsFromFactoryValues) {
  ASSERT_EQ(run({"--simulate", "set", "brightness", "2"}).code, kExitOk);
  const RunResult r = run({"--simulate", "status", "--json"});
  EXPECT_EQ(r.out, kFactoryStatusJson);
}

TEST_F(SimStateRuns, BadInputLeavesTheStateFileAloneAndACorruptFileIsRefused) {
  const std::string state = path("s.json");
  EXPECT_EQ(run({"--simulate", "--sim-state", state, "set", "brightness", "10"}).code,
            kExitBadInput);
  EXPECT_FALSE(std::filesystem::exists(state));

  { std::ofstream(state) << "{ this is not json"; }
  const RunResult r = run({"--simulate", "--sim-state", state, "status"});
  EXPECT_EQ(r.code, kExitBadInput);
  EXPECT_TRUE(contains(r.err, "Cannot read the simulated Talkgate from " + state)) << r.err;
  EXPECT_EQ(readFile(state), "{ this is not json");
}

// The part then waits in its loader, in the next run too, with the settings it had.
TEST_F(SimStateRuns, EnterLoaderSucceedsThoughTheDeviceLeavesWithoutReplying) {
  const std::string state = path("s.json");
  ASSERT_EQ(run({"--simulate", "--sim-state", state, "set", "keypad", "custom"}).code, kExitOk);
  RunResult r = run({"--simulate", "--sim-state", state, "enter-loader"});
  EXPECT_EQ(r.code, kExitOk) << r.err;
  EXPECT_EQ(r.out, "The Talkgate left HID operation for its bootstrap loader.\n");
  r = run({"--simulate", "--sim-state", state, "status", "--json"});
  EXPECT_EQ(r.code, kExitFailure);
  EXPECT_TRUE(contains(r.err, "a Talkgate waits in its bootstrap loader")) << r.err;
  sim::WorldState saved;
  std::string error;
  ASSERT_TRUE(sim::loadWorldState(state, saved, error)) << error;
  EXPECT_TRUE(saved.inLoader);
  EXPECT_EQ(saved.talkgate.working.keypadType, 1);
}

using DeviceCommands = CliTest;

TEST_F(DeviceCommands, StatusIsAlignedAndEveryCommandSendsItsRequest) {
  sim::SimTalkgate talkgate(bus_);
  RunResult r = run({"status"});
  ASSERT_EQ(r.code, kExitOk) << r.err;
  EXPECT_EQ(r.out,
            "Manufacturer           Velkor\n"
            "Product                Talkgate\n"
            "Firmware version       1.0.4\n"
            "Serial number          TG260001\n"
            "Temperature            23.5C\n"
            "Symbol LED brightness  5\n"
            "Ambient function       disabled\n"
            "Keypad type            default table\n"
            "Key code table         00 6F 00 70 00 71 00 72 00 52 00 28\n");

  talkgate.clearRequests();
  ASSERT_EQ(run({"set", "keypad", "custom"}).code, kExitOk);
  ASSERT_EQ(run({"set", "ambient", "disable"}).code, kExitOk);
  ASSERT_EQ(run({"set", "serial", "ABCDEFGHIJKL"}).code, kExitOk);
  ASSERT_EQ(run({"save"}).code, kExitOk);
  r = run({"ambient-value"});
  ASSERT_EQ(r.code, kExitOk);
  EXPECT_EQ(r.out, "Ambient value  300\n");
  const auto requests = talkgate.requests();
  ASSERT_EQ(requests.size(), 5u);
  EXPECT_EQ(requests[0].command, kCmdSetKeypadType);
  EXPECT_EQ(requests[0].payload, std::vector<std::uint8_t>{1});
  EXPECT_EQ(requests[1].command, kCmdSetAmbientConfig);
  EXPECT_EQ(requests[1].payload, std::vector<std::uint8_t>{0});
  EXPECT_EQ(requests[2].command, kCmdSetSerialNumber);
  EXPECT_EQ(requests[2].payload.size(), 12u);
  EXPECT_EQ(requests[3].command, kCmdStoreDefaults);
  EXPECT_EQ(requests[4].command, kCmdAmbientValue);
  EXPECT_EQ(talkgate.state().defaults.keypadType, 1);
  EXPECT_EQ(talkgate.state().serialNumber, "ABCDEFGHIJKL");
}

TEST_F(DeviceCommands, JsonOutputOfActionsAndAmbientValue) {
  sim::SimTalkgate talkgate(bus_);
  RunResult r = run({"--json", "set", "serial", "TG99\"\\01"});
  ASSERT_EQ(r.code, kExitOk) << r.err;
  EXPECT_EQ(r.out,
            "{\n  \"ok\": true,\n  \"setting\": \"serial\",\n  \"value\": \"TG99\\\"\\\\01\"\n}\n");
  r = run({"--json", "ambient-value"});
  EXPECT_EQ(r.out, "{\n  \"ambient_value\": 300\n}\n");
  r = run({"--json", "save"});
  EXPECT_EQ(r.out, "{\n  \"ok\": true\n}\n");
}

TEST_F(DeviceCommands, DeviceTextsWithAnyBytesAreEscapedInJsonAndPlainOutput) {
  sim::TalkgateState state;
  state.firmwareVersion = "v\"1\\\n";
  state.serialNumber = "\x1b[2J\xff\x01";
  state.temperature =
      "21\xB0"
      "C";
  state.working.ambientConfig = 1;
  state.working.keypadType = 1;
  sim::SimTalkgate talkgate(bus_, state);
  RunResult r = run({"status", "--json"});
  ASSERT_EQ(r.code, kExitOk) << r.err;
  EXPECT_TRUE(contains(r.out, R"("firmware_version": "v\"1\\\n",)")) << r.out;
  EXPECT_TRUE(contains(r.out, R"("serial_number": "\u001b[2J\u00ff\u0001",)")) << r.out;
  EXPECT_TRUE(contains(r.out, R"("temperature": "21\u00b0C")")) << r.out;
  for (unsigned char c : r.out) EXPECT_TRUE(c == '\n' || (c >= 0x20 && c < 0x7F)) << int(c);

  r = run({"status"});
  EXPECT_TRUE(contains(r.out, "Serial number          \\x1B[2J\\xFF\\x01\n")) << r.out;
  EXPECT_TRUE(contains(r.out, "Ambient function       enabled\n"));
  EXPECT_TRUE(contains(r.out, "Keypad type            customised table\n"));
}

TEST_F(DeviceCommands, TraceShowsTheWrittenAndReadReportsOnStandardError) {
  sim::SimTalkgate talkgate(bus_);
  const RunResult r = run({"--trace", "status", "--json"});
  ASSERT_EQ(r.code, kExitOk) << r.err;
  const auto lines = r.traceLines();
  ASSERT_EQ(lines.size(), 2u) << r.err;
  EXPECT_EQ(lines[0].rfind("> 3f 40 02 30 31 30 30 03 00", 0), 0u) << lines[0];
  EXPECT_EQ(lines[1].rfind("< 3f", 0), 0u) << lines[1];
  EXPECT_FALSE(contains(r.out, "3f 40")) << "trace must not mix into the JSON output";
}

using Failures = CliTest;

TEST_F(Failures, NoDeviceOnTheBus) {
  const RunResult r = run({"status"});
  EXPECT_EQ(r.code, kExitFailure);
  EXPECT_EQ(r.err, "No Talkgate is connected.\n");
  EXPECT_EQ(r.out, "");
  // Only the keyboard interface present is not a Talkgate to talk to either.
  hid::DeviceInfo keyboard{"", 0x2047, 0x0922, 0, L"", L"", L""};
  struct Silent : sim::Endpoint {
    bool hostWrite(const std::uint8_t*, std::size_t) override { return true; }
    int hostRead(std::uint8_t*, std::size_t) override { return 0; }
  };
  bus_.attach(keyboard, std::make_shared<Silent>());
  EXPECT_EQ(run({"set", "brightness", "1"}).err, "No Talkgate is connected.\n");
}

TEST_F(Failures, MissingPermissionNamesTheUdevRule) {
  sim::SimTalkgate talkgate(bus_);
  bus_.setOpenError(talkgate.configPath(), hid::OpenError::PermissionDenied);
  const RunResult r = run({"status"});
  EXPECT_EQ(r.code, kExitFailure);
  // The package installs the rule under /usr/lib; only a source build copies it to /etc.
  EXPECT_EQ(r.err, "Permission denied opening the Talkgate (" + talkgate.configPath() +
                       "). Install the udev rule 70-talkgate.rules (the package puts it in "
                       "/usr/lib/udev/rules.d; from a source build copy "
                       "packaging/70-talkgate.rules to /etc/udev/rules.d), then unplug and "
                       "replug the device.\n");
}

TEST_F(Failures, ARefusedRequestNamesTheRequestAndTheCode) {
  sim::SimTalkgate talkgate(bus_);
  talkgate.addFault({sim::Fault::Refuse, 1, 0, kCmdSetSymbolBrightness, 1});
  RunResult r = run({"set", "brightness", "7"});
  EXPECT_EQ(r.code, kExitFailure);
  EXPECT_EQ(r.err, "Unable to set the symbol LED brightness: refused or malformed reply (-13).\n");
  EXPECT_EQ(talkgate.state().working.symbolBrightness, 5);

  talkgate.addFault({sim::Fault::Refuse, 1, 0, kCmdFactoryReset, 1});
  r = run({"factory-reset"});
  EXPECT_EQ(r.code, kExitFailure) << "a failed factory reset must not be reported as done";
  EXPECT_TRUE(contains(r.err, "(-13)")) << r.err;
  EXPECT_EQ(r.out, "");
}

TEST_F(Failures, ASilentDeviceTimesOutAfterFiveSecondsOfDeviceTime) {
  sim::SimTalkgate talkgate(bus_);
  talkgate.addFault({sim::Fault::NoReply, 1, 0, kCmdStatus, 1});
  const RunResult r = run({"status", "--json"});
  EXPECT_EQ(r.code, kExitFailure);
  EXPECT_EQ(r.err, "Unable to read the device status: timeout (-6).\n");
  EXPECT_EQ(r.out,
            "{\n  \"ok\": false,\n  \"exit_status\": 1,\n  \"error\": \"Unable to read the device "
            "status: timeout (-6).\"\n}\n");
  EXPECT_EQ(clock_.totalSlept(), std::chrono::milliseconds(kReplyTimeoutMs));
}

TEST_F(Failures, GarbledRepliesAndAnUnpluggedDeviceFail) {
  sim::SimTalkgate talkgate(bus_);
  talkgate.addFault({sim::Fault::BadSizeByte, 1, 0, kCmdAmbientValue, 1});
  EXPECT_TRUE(contains(run({"ambient-value"}).err, "bad size byte (-8)"));
  talkgate.addFault({sim::Fault::LeaveBus, 1, 0, kCmdStoreDefaults, 1});
  const RunResult r = run({"save"});
  EXPECT_EQ(r.code, kExitFailure);
  EXPECT_TRUE(contains(r.err, "Unable to store the settings")) << r.err;
}

TEST_F(Failures, EnterLoaderRefusedByAPresentDeviceIsAFailure) {
  sim::SimTalkgate talkgate(bus_);
  talkgate.addFault({sim::Fault::Refuse, 1, 0, kCmdEnterLoader, 1});
  const RunResult r = run({"enter-loader"});
  EXPECT_EQ(r.code, kExitFailure);
  EXPECT_TRUE(contains(r.err, "bootstrap loader: refused or malformed reply (-13)")) << r.err;
}

using BadInput = CliTest;

TEST_F(BadInput, EveryCaseExitsTwoWithAMessageAndSendsNothing) {
  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  const std::vector<Case> cases = {
      {{}, "No command given."},
      {{"frobnicate"}, "Unknown command 'frobnicate'."},
      {{"status", "now"}, "'status' takes no arguments"},
      {{"save", "now"}, "'save' takes no arguments"},
      {{"factory-reset", "x"}, "'factory-reset' takes no arguments"},
      {{"ambient-value", "x"}, "'ambient-value' takes no arguments"},
      {{"enter-loader", "x"}, "'enter-loader' takes no arguments"},
      {{"list", "x"}, "'list' takes no arguments"},
      {{"status", "--quiet-real"}, "Unknown option '--quiet-real' for 'status'."},
      {{"set"}, "needs a setting"},
      {{"set", "volume", "3"}, "Unknown setting 'volume'"},
      {{"set", "brightness"}, "'set brightness' needs a value."},
      {{"set", "brightness", "10"}, "from 0 to 9, not '10'"},
      {{"set", "brightness", "-1"}, "from 0 to 9, not '-1'"},
      {{"set", "brightness", "seven"}, "from 0 to 9, not 'seven'"},
      {{"set", "brightness", ""}, "from 0 to 9, not ''"},
      {{"set", "brightness", "4294967303"}, "from 0 to 9"},  // 2^32 + 7 must not wrap to 7
      {{"set", "brightness", "7", "8"}, "takes one value, but got also '8'"},
      {{"set", "ambient", "on"}, "'enable' or 'disable', not 'on'"},
      {{"set", "keypad", "1"}, "'default' or 'custom', not '1'"},
      {{"set", "serial", "SHORT"}, "exactly 8 or 12"},
      {{"set", "serial", "ABCDEFGHIJKLM"}, "exactly 8 or 12"},
      {{"set", "serial",
        "TG26\x01"
        "001"},
       "not all printable ASCII"},
      {{"set", "serial",
        "TG\xC3\xA9"
        "2600"},
       "not all printable ASCII"},
      {{"--json=1", "status"}, "--json takes no value."},
      {{"table"}, "'table' needs show, set or reset."},
      {{"table", "frob"}, "Unknown table command 'frob'"},
      {{"table", "show", "x"}, "'table show' takes no arguments"},
      {{"table", "reset", "x"}, "'table reset' takes no arguments"},
      {{"table", "set"}, "needs at least one EVENT=CODE"},
      {{"table", "set", "detected"}, "'detected' is not EVENT=CODE[+MODIFIER]."},
      {{"table", "set", "sunrise=F20"}, "Unknown event 'sunrise'"},
      {{"table", "set", "day=F99"}, "Unknown key code 'F99' for day"},
      {{"table", "set", "day=N/A"}, "Unknown key code 'N/A' for day"},
      {{"table", "set", "day=0x100"}, "Unknown key code '0x100' for day"},
      {{"table", "set", "day=F20+Hyper"}, "Unknown modifier 'Hyper' for day"},
      {{"table", "set", "day=F20", "night=F21", "day=F22"}, "day is given more than once"},
      {{"config"}, "'config' needs save, restore, export or import."},
      {{"config", "frob"}, "Unknown config command 'frob'"},
      {{"config", "save", "x"}, "'config save' takes no arguments."},
      {{"config", "export"}, "needs one folder"},
      {{"config", "import", "a", "b"}, "needs one file"},
      {{"config", "save", "--force"}, "--force belongs to 'config export'."},
      {{"--config", "/nonexistent/x.ini", "config", "restore"}, "does not exist"},
  };
  sim::SimTalkgate talkgate(bus_);
  for (const auto& c : cases) {
    std::vector<std::string> args = c.args;
    args.insert(args.begin(), "--trace");
    const RunResult r = run(args);
    SCOPED_TRACE(r.err);
    EXPECT_EQ(r.code, kExitBadInput);
    EXPECT_TRUE(contains(r.err, c.message));
    EXPECT_TRUE(contains(r.err, "talkgatectl --help"));
    EXPECT_TRUE(r.traceLines().empty());
    EXPECT_EQ(r.out, "");
  }
  EXPECT_EQ(bus_.reportsWritten(), 0u);
  EXPECT_TRUE(talkgate.requests().empty());
  EXPECT_EQ(talkgate.state(), sim::TalkgateState{});
}

TEST_F(BadInput, SimulatedBadInputShowsNoReportInTheTrace) {
  const RunResult r = run({"--simulate", "--trace", "set", "brightness", "12"});
  EXPECT_EQ(r.code, kExitBadInput);
  EXPECT_TRUE(r.traceLines().empty()) << r.err;
  EXPECT_EQ(run({"--simulate", "--quiet-real", "list"}).code, kExitBadInput);
}

TEST_F(BadInput, HelpDocumentsEveryCommandAndOptionWithinTheLineWidth) {
  const RunResult r = run({"--help"});
  EXPECT_EQ(r.code, kExitOk);
  EXPECT_EQ(r.err, "");
  for (const char* item :
       {"status", "set brightness N", "set ambient enable|disable", "set keypad default|custom",
        "set serial TEXT", "save", "factory-reset", "ambient-value", "enter-loader", "list",
        "--simulate", "--sim-state FILE", "--json", "--trace", "--device PATH", "--help",
        "symbol_led_brightness", "key_table", "Exit status"}) {
    EXPECT_TRUE(contains(r.out, item)) << item;
  }
  std::istringstream lines(r.out);
  for (std::string line; std::getline(lines, line);) EXPECT_LE(line.size(), 100u) << line;
  EXPECT_EQ(run({"help"}).out, r.out);
  EXPECT_EQ(run({"set", "brightness", "99", "-h"}).code, kExitOk);
  EXPECT_EQ(bus_.reportsWritten(), 0u);
}
