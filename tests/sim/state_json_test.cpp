// Persistence of the simulated device's state between command-line runs.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "sim/sim_talkgate.h"

namespace talkgate::sim {
namespace {

namespace fs = std::filesystem;

class StateFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() /
          ("talkgate-state-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
           "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    fs::create_directories(dir);
    path = (dir / "device.json").string();
  }
  void TearDown() override { fs::remove_all(dir); }
  void write(const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

  fs::path dir;
  std::string path;
  std::string error;
};

TEST_F(StateFileTest, RoundTripKeepsEveryField) {
  TalkgateState state;
  state.working.symbolBrightness = 9;
  state.working.ambientConfig = 1;
  state.working.keypadType = 1;
  state.working.keyTable = {0xE1, 0x04, 0xE7, 0xFF, 0, 1, 2, 3, 4, 5, 6, 7};
  state.defaults.symbolBrightness = 2;
  state.firmwareVersion = "2.0 \"beta\"\\x";
  state.serialNumber = "SN\t0001";
  state.temperature = "-4.5C";
  state.ambientValue = 65535;
  ASSERT_TRUE(SimTalkgate::saveState(path, state, error)) << error;
  EXPECT_FALSE(fs::exists(path + ".tmp"));
  TalkgateState loaded;
  ASSERT_TRUE(SimTalkgate::loadState(path, loaded, error)) << error;
  EXPECT_EQ(loaded, state);
}

TEST_F(StateFileTest, MissingKeysKeepTheValuesGiven) {
  write(R"({"working": {"symbolBrightness": 7}, "serialNumber": "ABCDEFGH", "extra": [1, {}]})");
  TalkgateState state;
  state.temperature = "kept";
  ASSERT_TRUE(SimTalkgate::loadState(path, state, error)) << error;
  EXPECT_EQ(state.working.symbolBrightness, 7);
  EXPECT_EQ(state.working.keyTable, TalkgateState{}.working.keyTable);
  EXPECT_EQ(state.serialNumber, "ABCDEFGH");
  EXPECT_EQ(state.temperature, "kept");
}

TEST_F(StateFileTest, MalformedFilesNameTheOffsetAndLeaveTheStateAlone) {
  struct Case {
    std::string text;
    std::string offset;
  };
  const std::vector<Case> cases{
      {R"({"working": {"symbolBrightness": 7,}})", "offset 35"},
      {R"({"ambientValue": 70000})", "offset 17"},
      {R"({"working": {"keyTable": [1, 2, 3]}})", "offset 25"},
      {R"({"serialNumber": 12})", "offset 17"},
      {R"({"temperature": "open)", "offset 21"},
      {R"({"ambientValue": 1.5})", "offset 18"},
      {R"([1, 2])", "offset 0"},
      {R"({"a": 1} x)", "offset 9"},
      {"", "offset 0"},
  };
  for (const Case& c : cases) {
    write(c.text);
    TalkgateState state;
    state.serialNumber = "unchanged";
    error.clear();
    EXPECT_FALSE(SimTalkgate::loadState(path, state, error)) << c.text;
    EXPECT_NE(error.find(c.offset + ":"), std::string::npos) << c.text << " -> " << error;
    EXPECT_EQ(state.serialNumber, "unchanged");
  }
}

TEST_F(StateFileTest, DeepNestingIsRefusedNotOverflowed) {
  write(std::string(100000, '['));
  TalkgateState state;
  EXPECT_FALSE(SimTalkgate::loadState(path, state, error));
  EXPECT_NE(error.find("nesting"), std::string::npos) << error;
}

TEST_F(StateFileTest, MissingFileAndUnwritableTargetFail) {
  TalkgateState state;
  EXPECT_FALSE(SimTalkgate::loadState((dir / "absent.json").string(), state, error));
  EXPECT_NE(error.find("absent.json"), std::string::npos);
  error.clear();
  EXPECT_FALSE(SimTalkgate::saveState((dir / "no" / "such" / "dir.json").string(), state, error));
  EXPECT_FALSE(error.empty());
}

TEST_F(StateFileTest, SaveReplacesAnExistingFile) {
  write("old contents that are not JSON");
  TalkgateState state;
  state.ambientValue = 42;
  ASSERT_TRUE(SimTalkgate::saveState(path, state, error)) << error;
  TalkgateState loaded;
  ASSERT_TRUE(SimTalkgate::loadState(path, loaded, error)) << error;
  EXPECT_EQ(loaded.ambientValue, 42);
}

}  // namespace
}  // namespace talkgate::sim
