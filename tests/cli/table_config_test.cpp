// talkgatectl table and config: the key code table by event names, and the configuration file
// with the rules of the main window.

#include <gtest/gtest.h>

#include "cli_fixture.h"
#include "config/ini_file.h"
#include "config/utility_config.h"

using namespace talkgate;
using namespace talkgate::cli;
using talkgate::cli::testing::CliTest;
using talkgate::cli::testing::contains;
using talkgate::cli::testing::RunResult;

namespace {

std::vector<std::uint8_t> commandsOf(const sim::SimTalkgate& talkgate) {
  std::vector<std::uint8_t> commands;
  for (const auto& request : talkgate.requests()) commands.push_back(request.command);
  return commands;
}

sim::TalkgateState customised() {
  sim::TalkgateState state;
  state.working.keypadType = 1;
  return state;
}

std::string iniValue(const std::string& file, const char* key) {
  return config::CIniFile::GetValue(key, config::kSection, file);
}

// A configuration file with the six keys set as given.
void writeConfig(const std::string& file, const std::string& keypad, const std::string& table,
                 const std::string& ambient, const std::string& brightness) {
  ASSERT_TRUE(config::createConfigFile(file));
  ASSERT_TRUE(config::CIniFile::SetValue(config::kKeyKeypadLayout, keypad, config::kSection, file));
  ASSERT_TRUE(
      config::CIniFile::SetValue(config::kKeyCodeTableValues, table, config::kSection, file));
  ASSERT_TRUE(config::CIniFile::SetValue(config::kKeyAmbientCfg, ambient, config::kSection, file));
  ASSERT_TRUE(
      config::CIniFile::SetValue(config::kKeyLEDBrightness, brightness, config::kSection, file));
}

}  // namespace

using TableCommands = CliTest;

TEST_F(TableCommands, ShowNamesEachEventAndWarnsWhenTheDefaultTableIsInUse) {
  sim::TalkgateState state;
  state.working.keyTable[2] = 0x05;  // a modifier byte with no catalogue entry
  state.working.keyTable[7] = 0x90;  // a code beyond the catalogue
  sim::SimTalkgate talkgate(bus_, state);
  RunResult r = run({"table", "show"});
  ASSERT_EQ(r.code, kExitOk) << r.err;
  EXPECT_EQ(r.out,
            "EVENT         KEY  CODE  MODIFIER\n"
            "Detected      F20  0x6F  None\n"
            "Not Detected  F21  0x70  0x05\n"
            "Day           F22  0x71  None\n"
            "Night         -    0x90  None\n"
            "(Not in use: the Talkgate uses its default key code table; 'set keypad custom' "
            "selects this one.)\n");

  r = run({"table", "show", "--json"});
  EXPECT_TRUE(contains(r.out, "\"key_table\": [0, 111, 5, 112, 0, 113, 0, 144, 0, 82, 0, 40]"))
      << r.out;
  EXPECT_TRUE(contains(r.out, "\"event\": \"not-detected\"")) << r.out;
  EXPECT_TRUE(contains(r.out, "\"modifier_byte\": 5")) << r.out;
}

TEST_F(TableCommands, SetChangesOnlyTheNamedEventsAndNeedsTheCustomisedTable) {
  sim::SimTalkgate talkgate(bus_);
  RunResult r = run({"table", "set", "day=Enter"});
  EXPECT_EQ(r.code, kExitFailure);
  EXPECT_TRUE(contains(r.err, "default key code table")) << r.err;
  EXPECT_EQ(commandsOf(talkgate), std::vector<std::uint8_t>{kCmdStatus}) << "nothing written";

  talkgate.setState(customised());
  talkgate.clearRequests();
  r = run({"table", "set", "detected=enter+LeftShift", "night=0x04", "day=F22+rightgui"});
  ASSERT_EQ(r.code, kExitOk) << r.err;
  const auto requests = talkgate.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[1].command, kCmdSetKeyTable);
  const std::vector<std::uint8_t> expected{0xE1, 0x28, 0x00, 0x70, 0xE7, 0x71,
                                           0x00, 0x04, 0x00, 0x52, 0x00, 0x28};
  EXPECT_EQ(requests[1].payload, expected);
  EXPECT_TRUE(contains(r.out, "Detected      Enter  0x28  LeftShift\n")) << r.out;

  // A raw modifier of an event not named is written back unchanged.
  sim::TalkgateState raw = customised();
  raw.working.keyTable[2] = 0x05;
  talkgate.setState(raw);
  ASSERT_EQ(run({"table", "set", "detected=a"}).code, kExitOk);
  EXPECT_EQ(talkgate.state().working.keyTable[2], 0x05);
  EXPECT_EQ(talkgate.state().working.keyTable[1], 0x04);
}

TEST_F(TableCommands, ResetWritesTheStandardTableAndFailuresCarryTheCode) {
  sim::TalkgateState state = customised();
  state.working.keyTable = {0xE0, 0x04, 0xE1, 0x05, 0, 0x06, 0, 0x07, 0, 0x08, 0, 0x09};
  sim::SimTalkgate talkgate(bus_, state);
  ASSERT_EQ(run({"table", "reset"}).code, kExitOk);
  EXPECT_EQ(talkgate.state().working.keyTable, sim::TalkgateSettings{}.keyTable);

  talkgate.addFault({sim::Fault::Refuse, 1, 0, kCmdSetKeyTable, 1});
  const RunResult r = run({"table", "set", "day=b"});
  EXPECT_EQ(r.code, kExitFailure);
  EXPECT_EQ(r.err, "Unable to write the key code table: refused or malformed reply (-13).\n");
}

using ConfigCommands = CliTest;

TEST_F(ConfigCommands, SaveOnOneDeviceRestoresOnAnother) {
  const std::string file = path("provision.ini");
  sim::TalkgateState model = customised();
  model.working.symbolBrightness = 3;
  model.working.ambientConfig = 1;
  model.working.keyTable[1] = 0x04;
  {
    sim::SimTalkgate talkgate(bus_, model);
    const RunResult r = run({"--config", file, "config", "save"});
    ASSERT_EQ(r.code, kExitOk) << r.err;
    EXPECT_EQ(talkgate.state().defaults, model.working) << "config save stores the defaults";
    // The file takes the status before the Talkgate is asked to store it.
    EXPECT_EQ(commandsOf(talkgate), (std::vector<std::uint8_t>{kCmdStatus, kCmdStoreDefaults}));
  }
  EXPECT_EQ(iniValue(file, config::kKeyLEDBrightness), "3");
  EXPECT_EQ(iniValue(file, config::kKeyCodeTableValues), "0,4,0,112,0,113,0,114,0,82,0,40,");
  EXPECT_EQ(iniValue(file, config::kKeySerialNumber), "TG260001");

  sim::SimTalkgate fresh(bus_);
  const RunResult r = run({"--config", file, "--json", "config", "restore"});
  ASSERT_EQ(r.code, kExitOk) << r.err;
  EXPECT_TRUE(contains(r.out, "\"ok\": true")) << r.out;
  EXPECT_EQ(fresh.state().working, model.working);
  EXPECT_EQ(commandsOf(fresh),
            (std::vector<std::uint8_t>{kCmdSetKeypadType, kCmdSetKeyTable, kCmdSetAmbientConfig,
                                       kCmdSetSymbolBrightness}));
}

TEST_F(ConfigCommands, RestoreChecksTheWholeFileBeforeSendingAnything) {
  sim::SimTalkgate talkgate(bus_);
  const std::string file = path("USBTalkgateUtilityCfg.ini");
  ASSERT_TRUE(config::createConfigFile(file));
  RunResult r = run({"--config", file, "config", "restore"});
  EXPECT_EQ(r.code, kExitBadInput);
  EXPECT_TRUE(contains(r.err, "the value of KeypadLayout in " + file + " is missing")) << r.err;

  writeConfig(file, "1", "0,1,2,", "0", "4");  // a table of three numbers only
  r = run({"--config", file, "config", "restore"});
  EXPECT_EQ(r.code, kExitBadInput);
  EXPECT_TRUE(contains(r.err, "CodeTableValues")) << r.err;

  writeConfig(file, "0", "", "1", "seven");
  r = run({"--config", file, "config", "restore"});
  EXPECT_TRUE(contains(r.err, "LEDBrightness")) << r.err;
  EXPECT_TRUE(talkgate.requests().empty());

  r = run({"--config", path("missing.ini"), "config", "restore"});
  EXPECT_EQ(r.code, kExitBadInput);
  EXPECT_TRUE(contains(r.err, "does not exist")) << r.err;
  EXPECT_FALSE(std::filesystem::exists(path("missing.ini")));

  // Keypad layout 0: the table is neither checked nor sent.
  writeConfig(file, " 0 ", "garbage", "1", "+8");
  r = run({"--config", file, "config", "restore"});
  ASSERT_EQ(r.code, kExitOk) << r.err;
  EXPECT_EQ(commandsOf(talkgate),
            (std::vector<std::uint8_t>{kCmdSetKeypadType, kCmdSetAmbientConfig,
                                       kCmdSetSymbolBrightness}));
  EXPECT_EQ(talkgate.state().working.symbolBrightness, 8);
}

TEST_F(ConfigCommands, FailedRequestsUseTheWindowsMessagesWithTheCode) {
  sim::SimTalkgate talkgate(bus_);
  const std::string file = path("c.ini");
  writeConfig(file, "0", "", "1", "2");
  talkgate.addFault({sim::Fault::Refuse, 1, 0, kCmdSetAmbientConfig, 1});
  RunResult r = run({"--config", file, "config", "restore"});
  EXPECT_EQ(r.code, kExitFailure);
  EXPECT_EQ(r.err, "Unable to set ambient cfg.. Result: refused or malformed reply (-13).\n");
  EXPECT_EQ(commandsOf(talkgate),
            (std::vector<std::uint8_t>{kCmdSetKeypadType, kCmdSetAmbientConfig}));

  talkgate.addFault({sim::Fault::Refuse, 1, 0, kCmdStoreDefaults, 1});
  r = run({"--config", file, "config", "save"});
  EXPECT_EQ(r.code, kExitFailure);
  EXPECT_EQ(r.err, "Unable to Write Default.. Result: refused or malformed reply (-13).\n");
  EXPECT_EQ(iniValue(file, config::kKeyLEDBrightness), "2") << "file untouched";

  talkgate.addFault({sim::Fault::NoReply, 1, 0, kCmdStatus, 1});
  r = run({"--config", file, "config", "save"});
  EXPECT_EQ(r.err, "Unable to Save Config file. Result: timeout (-6).\n");
  EXPECT_EQ(iniValue(file, config::kKeyLEDBrightness), "2");
}

TEST_F(ConfigCommands, ImportChecksNameAndKeysAndExportAsksForForce) {
  const std::string userFolder = path("home");
  Environment environment;
  environment.userDataFolder = userFolder;
  const std::string userFile = config::configPathUnder(userFolder);

  std::filesystem::create_directories(path("in"));
  const std::string wrongName = path("in/usbtalkgateutilitycfg.ini");
  writeConfig(wrongName, "0", "", "1", "6");
  RunResult r = run({"config", "import", wrongName}, environment);
  EXPECT_EQ(r.code, kExitBadInput);
  EXPECT_TRUE(contains(r.err, "Incorrect Filename.")) << r.err;

  const std::string incomplete = path("USBTalkgateUtilityCfg.ini");
  ASSERT_TRUE(config::createConfigFile(incomplete));
  ASSERT_TRUE(
      config::CIniFile::DeleteRecord(config::kKeySerialNumber, config::kSection, incomplete));
  r = run({"config", "import", incomplete}, environment);
  EXPECT_EQ(r.code, kExitBadInput);
  EXPECT_TRUE(contains(r.err, "File is incorrect format.")) << r.err;

  const std::string good = path("in/USBTalkgateUtilityCfg.ini");
  std::filesystem::rename(wrongName, good);
  r = run({"config", "import", good}, environment);
  ASSERT_EQ(r.code, kExitOk) << r.err;
  EXPECT_EQ(iniValue(userFile, config::kKeyLEDBrightness), "6");

  std::filesystem::create_directories(path("out"));
  EXPECT_EQ(run({"config", "export", path("nowhere")}, environment).code, kExitBadInput);
  r = run({"config", "export", path("out")}, environment);
  ASSERT_EQ(r.code, kExitOk) << r.err;
  const std::string exported = path("out/USBTalkgateUtilityCfg.ini");
  EXPECT_EQ(readFile(exported), readFile(userFile));

  ASSERT_TRUE(
      config::CIniFile::SetValue(config::kKeyLEDBrightness, "1", config::kSection, userFile));
  r = run({"config", "export", path("out")}, environment);
  EXPECT_EQ(r.code, kExitFailure);
  EXPECT_TRUE(contains(r.err, "already exists")) << r.err;
  EXPECT_EQ(iniValue(exported, config::kKeyLEDBrightness), "6");
  ASSERT_EQ(run({"config", "export", "--force", path("out")}, environment).code, kExitOk);
  EXPECT_EQ(iniValue(exported, config::kKeyLEDBrightness), "1");
  EXPECT_EQ(bus_.reportsWritten(), 0u) << "import and export never touch the device";
}
