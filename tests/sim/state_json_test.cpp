// Persistence of the simulated device's state between command-line runs.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "sim/sim_talkgate.h"
#include "sim/sim_world.h"
#include "sim/state_json.h"
#include "sim/world_state.h"

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
  // What a command-line run writes after it, here without the writer of the layers above.
  void save(const TalkgateState& state) { write(SimTalkgate::stateJson(state)); }

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
  save(state);
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

TEST_F(StateFileTest, MissingFolderOrOversizedFileIsRefusedUnread) {
  TalkgateState state;
  EXPECT_FALSE(SimTalkgate::loadState((dir / "absent.json").string(), state, error));
  EXPECT_EQ(error, "it does not exist");
  WorldState world;
  EXPECT_FALSE(loadWorldState(dir.string(), world, error));
  EXPECT_EQ(error, "it is a directory");
  write(R"({"serialNumber": "X")" + std::string(state_file::kMaxStateFileBytes, ' ') + "}");
  EXPECT_FALSE(SimTalkgate::loadState(path, state, error));
  EXPECT_EQ(error, "it is larger than 16 MiB");
}

// The whole world: a part left in its loader with half an image keeps both through a file.
TEST_F(StateFileTest, WorldInItsLoaderComesBackWithItsFlash) {
  VirtualBus bus;
  WorldState kept;
  {
    SimWorld world(bus, SimWorld::optionsFrom(WorldState{}));
    ASSERT_TRUE(world.flashProblem().empty()) << world.flashProblem();
    world.loader().writeMemory(0xFFFE, {0xFF, 0xFF});  // an upgrade erased the reset vector
    world.loader().writeMemory(0x10000, {0x12, 0x34});
    world.talkgate().unplug();
    world.loader().plugIn();
    TalkgateState state = world.talkgate().state();
    state.serialNumber = "TG424242";
    world.talkgate().setState(state);
    kept = world.state();
  }
  EXPECT_FALSE(kept.inLoader);  // plugged in by hand: the part never entered its loader
  kept.inLoader = true;
  write(worldStateJson(kept));
  WorldState loaded;
  ASSERT_TRUE(loadWorldState(path, loaded, error)) << error;
  EXPECT_EQ(loaded, kept);

  SimWorld again(bus, SimWorld::optionsFrom(loaded));
  ASSERT_TRUE(again.flashProblem().empty()) << again.flashProblem();
  EXPECT_TRUE(again.loader().pluggedIn());
  EXPECT_FALSE(again.talkgate().pluggedIn());
  EXPECT_TRUE(again.inLoader());
  EXPECT_EQ(again.loader().readMemory(0xFFFE, 2), (std::vector<std::uint8_t>{0xFF, 0xFF}));
  EXPECT_EQ(again.loader().readMemory(0x10000, 2), (std::vector<std::uint8_t>{0x12, 0x34}));
  EXPECT_EQ(again.talkgate().state().serialNumber, "TG424242");
  EXPECT_EQ(again.state(), loaded);
}

TEST_F(StateFileTest, SeveralTalkgatesKeepTheirOrderAndASingleTalkgateReaderRefusesThem) {
  std::vector<WorldState> fleet{fleetMember(0), fleetMember(1), fleetMember(11)};
  EXPECT_EQ(fleet[0].talkgate.serialNumber, "TG260001");
  EXPECT_EQ(fleet[1].talkgate.serialNumber, "TG260002");
  EXPECT_EQ(fleet[2].talkgate.serialNumber, "TG260012");
  fleet[1].inLoader = true;
  fleet[2].talkgate.working.symbolBrightness = 2;
  write(worldStatesJson(fleet));
  std::vector<WorldState> loaded;
  ASSERT_TRUE(loadWorldStates(path, loaded, error)) << error;
  EXPECT_EQ(loaded, fleet);
  WorldState one;
  EXPECT_FALSE(loadWorldState(path, one, error));
  EXPECT_NE(error.find("\"talkgates\" must be an array of one Talkgate"), std::string::npos);
  write(R"({"version": 2, "talkgates": []})");
  EXPECT_FALSE(loadWorldStates(path, loaded, error));
  EXPECT_NE(error.find("1 to 16 Talkgates"), std::string::npos) << error;
}

TEST_F(StateFileTest, OlderSingleTalkgateFileLoadsAsARunningTalkgate) {
  write(R"({"working": {"symbolBrightness": 3}, "firmwareVersion": "1.1.0"})");
  WorldState world;
  world.inLoader = true;
  world.flash = "@4400\n00 00\nq\n";
  ASSERT_TRUE(loadWorldState(path, world, error)) << error;
  EXPECT_FALSE(world.inLoader);
  EXPECT_TRUE(world.flash.empty());
  EXPECT_EQ(world.talkgate.working.symbolBrightness, 3);
  // Its flash is that of the demo image of its version.
  VirtualBus bus;
  SimWorld sim(bus, SimWorld::optionsFrom(world));
  EXPECT_TRUE(sim.talkgate().pluggedIn());
  EXPECT_EQ(SimBslDevice::firmwareVersionOf(sim.loader().memory()), "1.1.0");
}

TEST_F(StateFileTest, WorldFilesThisProgramCannotHonourAreRefused) {
  const std::vector<std::pair<std::string, std::string>> cases{
      {R"({"version": 3, "talkgates": []})", "newer program"},
      {R"({"version": "2"})", "\"version\""},
      {R"({"version": 2})", "\"talkgates\""},
      {R"({"version": 2, "talkgates": [{}, {}]})", "\"talkgates\""},
      {R"({"version": 2, "talkgates": [{"mode": "sleeping"}]})", "\"mode\""},
      {R"({"version": 2, "talkgates": [{"flash": ["@4400", 7]}]})", "\"flash\""},
      {R"({"version": 2, "talkgates": [{"serialNumber": 5}]})", "\"serialNumber\""},
  };
  for (const auto& [text, reason] : cases) {
    write(text);
    WorldState world;
    world.talkgate.serialNumber = "unchanged";
    error.clear();
    EXPECT_FALSE(loadWorldState(path, world, error)) << text;
    EXPECT_NE(error.find(reason), std::string::npos) << text << " -> " << error;
    EXPECT_NE(error.find(path + ": offset "), std::string::npos) << error;
    EXPECT_EQ(world.talkgate.serialNumber, "unchanged");
  }
  // Flash that does not fit the part is found when the world is built from it.
  VirtualBus bus;
  WorldState world;
  world.flash = "@0200\n00 00\nq\n";
  SimWorld sim(bus, SimWorld::optionsFrom(world));
  EXPECT_NE(sim.flashProblem().find("flash: "), std::string::npos) << sim.flashProblem();
}

}  // namespace
}  // namespace talkgate::sim
