// The simulated Talkgate spoken to through the real transport and command set.

#include "tests/sim/sim_fixture.h"

namespace talkgate::sim {
namespace {

// ---- Identity and status ----

TEST(SimTalkgateBus, PresentsKeyboardAndConfigurationInterfaces) {
  VirtualBus bus;
  SimTalkgate sim(bus);
  const auto interfaces = bus.enumerate(0x2047, 0x0922);
  ASSERT_EQ(interfaces.size(), 2u);
  EXPECT_EQ(interfaces[0].interfaceNumber, 0);
  EXPECT_EQ(interfaces[1].interfaceNumber, 1);
  EXPECT_EQ(interfaces[1].path, sim.configPath());
  EXPECT_EQ(interfaces[1].manufacturer, L"Velkor");
  EXPECT_EQ(interfaces[1].product, L"Talkgate");
  EXPECT_EQ(interfaces[1].serialNumber, L"TG260001");
  sim.unplug();
  EXPECT_FALSE(sim.pluggedIn());
  EXPECT_TRUE(bus.devices().empty());
  EXPECT_EQ(sim.configPath(), "");
  sim.plugIn();
  sim.plugIn();  // no-op when attached
  EXPECT_EQ(bus.devices().size(), 2u);
}

TEST_F(SimTalkgateTest, ScanReadsItsStrings) {
  char manufacturer[kDeviceStringBuffer];
  char product[kDeviceStringBuffer];
  DeviceHandle second = ScanForUSBDevice_a(kVendorId, kProductId, manufacturer, product);
  ASSERT_NE(second, nullptr);
  EXPECT_STREQ(manufacturer, "Velkor");
  EXPECT_STREQ(product, "Talkgate");
  delete second;
}

TEST_F(SimTalkgateTest, StatusCarriesFactoryValues) {
  const DeviceStatus s = status();
  const TalkgateState factory = SimTalkgate::factoryState();
  EXPECT_EQ(s.symbolBrightness, 5);
  EXPECT_EQ(s.ambientConfig, 0);
  EXPECT_EQ(s.keypadType, 0);
  EXPECT_EQ(s.keyTable, factory.working.keyTable);
  EXPECT_EQ(s.firmwareVersion, "1.0.4");
  EXPECT_EQ(s.serialNumber, "TG260001");
  EXPECT_EQ(s.temperature, "23.5C");
}

TEST_F(SimTalkgateTest, OverlongTextsAreCutToFitOneReport) {
  TalkgateState state = sim.state();
  state.firmwareVersion = std::string(30, 'F');
  state.serialNumber = std::string(12, 'S');
  state.temperature = std::string(10, 'T');
  sim.setState(state);
  ASSERT_EQ(send(kCmdStatus), kOk);
  EXPECT_EQ(rxLength, 54u);
  const DeviceStatus s = status();
  EXPECT_EQ(s.firmwareVersion, std::string(30, 'F'));
  EXPECT_EQ(s.serialNumber, std::string(8, 'S')) << "15 + 31 + 8 = 54 bytes, cut unterminated";
  EXPECT_EQ(s.temperature, "");
}

// ---- Settings ----

TEST_F(SimTalkgateTest, SettingsChangeWorkingValuesOnly) {
  const KeyTable table{0xE1, 0x04, 0, 0x05, 0, 0x06, 0, 0x07, 0, 0, 0, 0};
  ASSERT_EQ(setSymbolBrightness(handle, 9), kOk);
  ASSERT_EQ(setAmbientConfig(handle, 1), kOk);
  ASSERT_EQ(setKeypadType(handle, 1), kOk);
  ASSERT_EQ(writeKeyTable(handle, table), kOk);
  ASSERT_EQ(setSerialNumber(handle, "ABCDEF123456"), kOk);
  const DeviceStatus s = status();
  EXPECT_EQ(s.symbolBrightness, 9);
  EXPECT_EQ(s.ambientConfig, 1);
  EXPECT_EQ(s.keypadType, 1);
  EXPECT_EQ(s.keyTable, table);
  EXPECT_EQ(s.serialNumber, "ABCDEF123456");
  EXPECT_EQ(sim.state().defaults, SimTalkgate::factoryState().defaults);
}

TEST_F(SimTalkgateTest, StoreThenFactoryReset) {
  ASSERT_EQ(setSymbolBrightness(handle, 2), kOk);
  ASSERT_EQ(storeDefaults(handle), kOk);
  EXPECT_EQ(sim.state().defaults.symbolBrightness, 2);
  ASSERT_EQ(setSymbolBrightness(handle, 8), kOk);
  EXPECT_EQ(sim.state().defaults.symbolBrightness, 2) << "only command 7 stores";
  ASSERT_EQ(setSerialNumber(handle, "SERIAL01"), kOk);
  ASSERT_EQ(factoryReset(handle), kOk);
  const TalkgateState after = sim.state();
  EXPECT_EQ(after.working, SimTalkgate::factoryState().working);
  EXPECT_EQ(after.defaults, SimTalkgate::factoryState().defaults);
  EXPECT_EQ(after.serialNumber, "SERIAL01") << "identity survives a factory reset";
}

TEST_F(SimTalkgateTest, AmbientValueIsReported) {
  TalkgateState state = sim.state();
  state.ambientValue = 0x1234;
  sim.setState(state);
  std::uint16_t value = 0;
  ASSERT_EQ(readAmbientValue(handle, value), kOk);
  EXPECT_EQ(value, 0x1234);
}

TEST_F(SimTalkgateTest, BadPayloadsAreRefusedAndChangeNothing) {
  const TalkgateState before = sim.state();
  struct Case {
    std::uint8_t command;
    std::vector<std::uint8_t> payload;
  };
  const std::vector<Case> cases{
      {kCmdSetSymbolBrightness, {10}},   {kCmdSetSymbolBrightness, {}},
      {kCmdSetSymbolBrightness, {1, 2}}, {kCmdSetAmbientConfig, {2}},
      {kCmdSetKeypadType, {2}},          {kCmdSetKeyTable, std::vector<std::uint8_t>(11, 0)},
      {kCmdSetKeyTable, std::vector<std::uint8_t>(13, 0)},
      {kCmdSetSerialNumber, {'1', '2', '3', '4', '5', '6', '7'}},
      {kCmdStatus, {0}},                 {kCmdStoreDefaults, {1}},
      {kCmdFactoryReset, {1}},           {kCmdEnterLoader, {1}},
      {kCmdAmbientValue, {0}},           {2, {}},
      {5, {}},                           {13, {}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(send(c.command, c.payload), kErrRefused)
        << "command " << int{c.command} << " with " << c.payload.size() << " bytes";
  }
  EXPECT_EQ(sim.state(), before);
  EXPECT_TRUE(sim.pluggedIn());
  EXPECT_EQ(sim.requests().size(), cases.size()) << "well-formed requests are recorded";
}

TEST_F(SimTalkgateTest, RecordsRequests) {
  ASSERT_EQ(setSymbolBrightness(handle, 4), kOk);
  ASSERT_EQ(setSerialNumber(handle, "AB123456"), kOk);
  const auto requests = sim.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].command, kCmdSetSymbolBrightness);
  EXPECT_EQ(requests[0].payload, std::vector<std::uint8_t>{4});
  EXPECT_EQ(requests[1].command, kCmdSetSerialNumber);
  EXPECT_EQ(requests[1].payload.size(), 8u);
  sim.clearRequests();
  EXPECT_TRUE(sim.requests().empty());
}

// ---- Leaving the bus ----

TEST_F(SimTalkgateTest, EnterLoaderLeavesTheBusThenCallsTheHandler) {
  bool pluggedDuringHandler = true;
  int calls = 0;
  sim.setEnterLoaderHandler([&] {
    ++calls;
    pluggedDuringHandler = sim.pluggedIn();
  });
  EXPECT_EQ(enterLoader(handle), kErrIo) << "no reply: the handle fails";
  EXPECT_EQ(calls, 1);
  EXPECT_FALSE(pluggedDuringHandler);
  EXPECT_TRUE(bus.enumerate(0x2047, 0x0922).empty());
  EXPECT_EQ(setSymbolBrightness(handle, 1), kErrIo) << "the stale handle keeps failing";
  sim.plugIn();
  reopen();
  EXPECT_EQ(setSymbolBrightness(handle, 1), kOk);
}

TEST_F(SimTalkgateTest, UnplugAfterReportsActsOnTheLastOneThenLeaves) {
  sim.unplugAfterReports(2);
  EXPECT_EQ(setSymbolBrightness(handle, 3), kOk);
  EXPECT_EQ(setSymbolBrightness(handle, 7), kErrIo);
  EXPECT_FALSE(sim.pluggedIn());
  EXPECT_EQ(sim.state().working.symbolBrightness, 7);
  sim.plugIn();
  reopen();
  EXPECT_EQ(setSymbolBrightness(handle, 1), kOk) << "the plan was used up";
  sim.unplugAfterReports(0);
  EXPECT_FALSE(sim.pluggedIn());
}

TEST_F(SimTalkgateTest, ClearFaultsCancelsAPlannedUnplug) {
  sim.unplugAfterReports(1);
  sim.clearFaults();
  EXPECT_EQ(setSymbolBrightness(handle, 3), kOk);
  EXPECT_TRUE(sim.pluggedIn());
}

TEST_F(SimTalkgateTest, DestroyedDeviceFailsItsHandle) {
  {
    VirtualBus otherBus;
    testing::ScopedPort port(otherBus);
    auto second = std::make_unique<SimTalkgate>(otherBus);
    char m[48];
    char p[48];
    DeviceHandle other = ScanForUSBDevice_a(kVendorId, kProductId, m, p);
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(setKeypadType(other, 1), kOk);
    second.reset();
    EXPECT_EQ(setKeypadType(other, 1), kErrIo);
    delete other;
  }
}

}  // namespace
}  // namespace talkgate::sim
