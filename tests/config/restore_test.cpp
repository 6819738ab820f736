// Restoring the device from the configuration file, against the simulated Talkgate.

#include <gtest/gtest.h>

#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "config/utility_config.h"
#include "tests/config/sim_device.h"
#include "tests/config/test_files.h"

namespace talkgate::config {
namespace {

using test::SimDevice;
using test::TempDir;
using test::writeBytes;

using Values = std::map<std::string, std::string>;

constexpr char kTableText[] = "0,111,2,112,0,113,225,4,0,82,255,40,";
const KeyTable kTable{0, 111, 2, 112, 0, 113, 225, 4, 0, 82, 255, 40};

Values goodValues(const std::string& keypad) {
  return {{"KeypadLayout", keypad},
          {"CodeTableValues", kTableText},
          {"Ambient_cfg", "1"},
          {"LEDBrightness", "8"}};
}

ValueGetter getterFor(const Values& values, std::vector<std::string>* asked = nullptr) {
  return [values, asked](const std::string& key) {
    if (asked != nullptr) asked->push_back(key);
    const auto it = values.find(key);
    return it == values.end() ? std::string() : it->second;
  };
}

std::vector<std::uint8_t> payloadOf(SimDevice& dev, std::size_t index) {
  return dev.talkgate().requests().at(index).payload;
}

TEST(Restore, KeypadZeroSendsKeypadAmbientAndBrightnessOnly) {
  SimDevice dev;
  Values values = goodValues("0");
  values["CodeTableValues"] = "not even numbers";  // never read for the default table
  std::vector<std::string> asked;
  const RestoreOutcome outcome = restoreSettings(getterFor(values, &asked), dev.handle());
  EXPECT_TRUE(outcome.ok);
  EXPECT_EQ(dev.commands(), (std::vector<int>{11, 4, 3}));
  EXPECT_EQ(payloadOf(dev, 0), std::vector<std::uint8_t>{0});
  EXPECT_EQ(payloadOf(dev, 1), std::vector<std::uint8_t>{1});
  EXPECT_EQ(payloadOf(dev, 2), std::vector<std::uint8_t>{8});
  EXPECT_EQ(asked, (std::vector<std::string>{"KeypadLayout", "Ambient_cfg", "LEDBrightness"}));
  const auto working = dev.talkgate().state().working;
  EXPECT_EQ(working.symbolBrightness, 8);
  EXPECT_EQ(working.ambientConfig, 1);
  EXPECT_EQ(working.keyTable, sim::TalkgateSettings{}.keyTable);  // untouched
}

TEST(Restore, CustomisedTableSendsTheTwelveBytesSecond) {
  SimDevice dev;
  const RestoreOutcome outcome = restoreSettings(getterFor(goodValues(" +1 ")), dev.handle());
  EXPECT_TRUE(outcome.ok);
  EXPECT_EQ(dev.commands(), (std::vector<int>{11, 6, 4, 3}));
  EXPECT_EQ(payloadOf(dev, 1), std::vector<std::uint8_t>(kTable.begin(), kTable.end()));
  EXPECT_EQ(dev.talkgate().state().working.keyTable, kTable);
  EXPECT_EQ(dev.talkgate().state().working.keypadType, 1);
  // Restore changes only the working settings; the defaults wait for Save Changes.
  EXPECT_EQ(dev.talkgate().state().defaults, sim::TalkgateSettings{});
}

struct BadValueCase {
  const char* key;
  const char* value;
  const char* keypad;
};

void PrintTo(const BadValueCase& c, std::ostream* os) {
  *os << c.key << "='" << c.value << "' (keypad " << c.keypad << ")";
}

class RestoreBadValue : public ::testing::TestWithParam<BadValueCase> {};

// Every value is checked before the first request: one bad value sends nothing at all.
TEST_P(RestoreBadValue, SendsNothingAndNamesItsKey) {
  const BadValueCase& c = GetParam();
  SimDevice dev;
  Values values = goodValues(c.keypad);
  values[c.key] = c.value;
  const RestoreOutcome outcome = restoreSettings(getterFor(values), dev.handle());
  EXPECT_FALSE(outcome.ok);
  EXPECT_EQ(outcome.failedKey, c.key);
  EXPECT_EQ(outcome.failedStep, RestoreStep::None);
  EXPECT_TRUE(dev.commands().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Values, RestoreBadValue,
    ::testing::Values(
        BadValueCase{"KeypadLayout", "", "0"}, BadValueCase{"KeypadLayout", "2", "0"},
        BadValueCase{"KeypadLayout", "-1", "0"},
        BadValueCase{"KeypadLayout", "257", "0"},  // low byte would be 1
        BadValueCase{"KeypadLayout", "one", "0"}, BadValueCase{"CodeTableValues", "", "1"},
        BadValueCase{"CodeTableValues", "1,2,3,4,5,6,7,8,9,10,11,", "1"},
        BadValueCase{"CodeTableValues", "1,2,3,4,5,6,7,8,9,10,11,300,", "1"},
        BadValueCase{"Ambient_cfg", "", "0"}, BadValueCase{"Ambient_cfg", "2", "1"},
        BadValueCase{"Ambient_cfg", "7", "1"}, BadValueCase{"LEDBrightness", "42", "1"},
        BadValueCase{"LEDBrightness", "10", "0"}, BadValueCase{"LEDBrightness", "7.5", "1"},
        BadValueCase{"LEDBrightness", "99999999999", "0"}));

TEST(Restore, EdgeValuesOfEachRangeAreAccepted) {
  SimDevice dev;
  Values values = goodValues("0");
  values["Ambient_cfg"] = "-0";
  values["LEDBrightness"] = "\t9\r";
  EXPECT_TRUE(restoreSettings(getterFor(values), dev.handle()).ok);
  EXPECT_EQ(payloadOf(dev, 1), std::vector<std::uint8_t>{0});
  EXPECT_EQ(payloadOf(dev, 2), std::vector<std::uint8_t>{9});
}

struct RefusedCase {
  int command;
  RestoreStep step;
  std::vector<int> sent;
};

void PrintTo(const RefusedCase& c, std::ostream* os) {
  *os << "command " << c.command;
}

class RestoreRefused : public ::testing::TestWithParam<RefusedCase> {};

TEST_P(RestoreRefused, StopsAtTheFirstFailedRequest) {
  const RefusedCase& c = GetParam();
  SimDevice dev;
  dev.refuse(c.command);
  const RestoreOutcome outcome = restoreSettings(getterFor(goodValues("1")), dev.handle());
  EXPECT_FALSE(outcome.ok);
  EXPECT_EQ(outcome.failedStep, c.step);
  EXPECT_EQ(outcome.result, kErrRefused);
  EXPECT_TRUE(outcome.failedKey.empty());
  EXPECT_EQ(dev.commands(), c.sent);
}

INSTANTIATE_TEST_SUITE_P(Steps, RestoreRefused,
                         ::testing::Values(RefusedCase{11, RestoreStep::KeypadType, {11}},
                                           RefusedCase{6, RestoreStep::KeyTable, {11, 6}},
                                           RefusedCase{4, RestoreStep::AmbientConfig, {11, 6, 4}},
                                           RefusedCase{
                                               3, RestoreStep::SymbolBrightness, {11, 6, 4, 3}}));

TEST(Restore, NoDeviceFailsAtTheFirstRequest) {
  const RestoreOutcome outcome = restoreSettings(getterFor(goodValues("0")), nullptr);
  EXPECT_EQ(outcome.failedStep, RestoreStep::KeypadType);
  EXPECT_EQ(outcome.result, kErrIo);
}

TEST(RestoreFromFile, FreshFileNamesKeypadLayoutAndSendsNothing) {
  TempDir dir;
  const std::string path = dir.file("USBTalkgateUtilityCfg.ini");
  ASSERT_TRUE(createConfigFile(path));
  SimDevice dev;
  const RestoreOutcome outcome = restoreFromFile(path, dev.handle());
  EXPECT_FALSE(outcome.ok);
  EXPECT_EQ(outcome.failedKey, "KeypadLayout");
  EXPECT_TRUE(dev.commands().empty());
}

TEST(RestoreFromFile, SavedStatusRestoresTheSameSettings) {
  TempDir dir;
  const std::string path = dir.file("USBTalkgateUtilityCfg.ini");
  ASSERT_TRUE(createConfigFile(path));
  DeviceStatus saved;
  saved.symbolBrightness = 2;
  saved.ambientConfig = 1;
  saved.keypadType = 1;
  saved.keyTable = kTable;
  ASSERT_TRUE(saveStatusToFile(path, saved).ok());
  SimDevice dev;
  ASSERT_TRUE(restoreFromFile(path, dev.handle()).ok);
  const auto working = dev.talkgate().state().working;
  EXPECT_EQ(working.symbolBrightness, 2);
  EXPECT_EQ(working.ambientConfig, 1);
  EXPECT_EQ(working.keypadType, 1);
  EXPECT_EQ(working.keyTable, kTable);
}

TEST(RestoreFromFile, MalformedFileIsReportedBeforeAnyRequest) {
  TempDir dir;
  const std::string path = dir.file("USBTalkgateUtilityCfg.ini");
  writeBytes(path, "[appSettings\r\n KeypadLayout=0\r\n");
  SimDevice dev;
  const RestoreOutcome outcome = restoreFromFile(path, dev.handle());
  EXPECT_FALSE(outcome.ok);
  EXPECT_NE(outcome.malformed.find("line 1"), std::string::npos) << outcome.malformed;
  EXPECT_TRUE(dev.commands().empty());
}

TEST(RestoreFromFile, MissingOrNonRegularFileSaysWhyAndSendsNothing) {
  TempDir dir;
  SimDevice dev;
  RestoreOutcome outcome = restoreFromFile(dir.file("absent.ini"), dev.handle());
  EXPECT_FALSE(outcome.ok);
  EXPECT_EQ(outcome.unreadable, "it does not exist");
  outcome = restoreFromFile(dir.path().string(), dev.handle());
  EXPECT_EQ(outcome.unreadable, "it is a directory");
  EXPECT_TRUE(dev.commands().empty());
}

}  // namespace
}  // namespace talkgate::config
