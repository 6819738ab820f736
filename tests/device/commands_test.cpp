// The command set: request payloads and reply decoding.

#include <gtest/gtest.h>

#include "device/clock.h"
#include "device/commands.h"
#include "tests/device/scripted_port.h"

namespace talkgate::testing {
namespace {

Bytes statusData(const std::string& texts) {
  Bytes data{7, 1, 0, 0xE1, 0x04, 0, 0x05, 0, 0x06, 0, 0x07, 0, 0x52, 0, 0x28};
  for (const char c : texts) data.push_back(static_cast<std::uint8_t>(c));
  return data;
}

// ---- Status decoding ----

TEST(DecodeStatus, ReadsSettingsTableAndThreeTexts) {
  const Bytes data =
      statusData(std::string("1.0.4\0TG260001\0"
                             "23.5C\0",
                             21));
  DeviceStatus status;
  ASSERT_TRUE(decodeStatus(data.data(), data.size(), status));
  EXPECT_EQ(status.symbolBrightness, 7);
  EXPECT_EQ(status.ambientConfig, 1);
  EXPECT_EQ(status.keypadType, 0);
  EXPECT_EQ(status.keyTable, (KeyTable{0xE1, 0x04, 0, 0x05, 0, 0x06, 0, 0x07, 0, 0x52, 0, 0x28}));
  EXPECT_EQ(status.firmwareVersion, "1.0.4");
  EXPECT_EQ(status.serialNumber, "TG260001");
  EXPECT_EQ(status.temperature, "23.5C");
}

TEST(DecodeStatus, EmptyFirmwareVersionPutsSerialAtSixteen) {
  const Bytes data =
      statusData(std::string("\0SN12345678\0"
                             "40C\0",
                             16));
  DeviceStatus status;
  ASSERT_TRUE(decodeStatus(data.data(), data.size(), status));
  EXPECT_EQ(status.firmwareVersion, "");
  EXPECT_EQ(status.serialNumber, "SN12345678");
  EXPECT_EQ(status.temperature, "40C");
}

TEST(DecodeStatus, ExactlyFifteenBytesGiveEmptyTexts) {
  const Bytes data = statusData("");
  DeviceStatus status;
  status.firmwareVersion = "old";
  status.serialNumber = "old";
  status.temperature = "old";
  ASSERT_TRUE(decodeStatus(data.data(), data.size(), status));
  EXPECT_EQ(status.symbolBrightness, 7);
  EXPECT_EQ(status.firmwareVersion, "");
  EXPECT_EQ(status.serialNumber, "");
  EXPECT_EQ(status.temperature, "");
}

TEST(DecodeStatus, UnterminatedTextsEndAtTheEndOfTheData) {
  Bytes data =
      statusData(std::string("2.0\0ABCDEFGH\0"
                             "21",
                             15));
  DeviceStatus status;
  ASSERT_TRUE(decodeStatus(data.data(), data.size(), status));
  EXPECT_EQ(status.temperature, "21");
  data = statusData("2.0");  // the firmware version itself runs to the end
  ASSERT_TRUE(decodeStatus(data.data(), data.size(), status));
  EXPECT_EQ(status.firmwareVersion, "2.0");
  EXPECT_EQ(status.serialNumber, "");
  EXPECT_EQ(status.temperature, "");
}

TEST(DecodeStatus, ShorterThanFixedPartIsRejectedAndLeavesOutUntouched) {
  const Bytes data = statusData("");
  DeviceStatus status;
  status.symbolBrightness = 3;
  status.firmwareVersion = "keep";
  EXPECT_FALSE(decodeStatus(data.data(), 14, status));
  EXPECT_EQ(status.symbolBrightness, 3);
  EXPECT_EQ(status.firmwareVersion, "keep");
}

// ---- Commands over a scripted device ----

class CommandTest : public ::testing::Test {
 protected:
  ManualClock clock;
  ScopedClock scopedClock{clock};
  DeviceLog log;
  ScriptedDevice device{log};

  Bytes payloadOf(std::size_t request) const {
    const Bytes& r = log.written.at(request);
    const std::size_t n = frame::digitValue(r[5]) * 16 + frame::digitValue(r[6]);
    return Bytes(r.begin() + 7, r.begin() + 7 + static_cast<long>(n));
  }
};

TEST_F(CommandTest, ReadStatusDecodesTheReply) {
  device.queueReport(replyReport("01", "19", 0x00, statusData(std::string("1.2\0S1\0T\0", 9))));
  DeviceStatus status;
  ASSERT_EQ(readStatus(&device, status), kOk);
  EXPECT_EQ(status.symbolBrightness, 7);
  EXPECT_EQ(status.firmwareVersion, "1.2");
  EXPECT_EQ(status.serialNumber, "S1");
  EXPECT_EQ(status.temperature, "T");
  EXPECT_EQ(log.written.at(0)[4], '1');
}

TEST_F(CommandTest, ShortStatusReplyIsRefusedAndChangesNothing) {
  device.queueReport(replyReport("01", "0F", 0x00, Bytes(14, 0x01)));
  DeviceStatus status;
  status.symbolBrightness = 9;
  EXPECT_EQ(readStatus(&device, status), kErrRefused);
  EXPECT_EQ(status.symbolBrightness, 9);
}

TEST_F(CommandTest, AmbientValueIsHighByteFirst) {
  device.queueReport(replyReport("0C", "03", 0x00, {0x01, 0x2C}));
  std::uint16_t value = 0;
  ASSERT_EQ(readAmbientValue(&device, value), kOk);
  EXPECT_EQ(value, 300);
  device.queueReport(replyReport("0C", "03", 0x00, {0xFF, 0xFE}));
  ASSERT_EQ(readAmbientValue(&device, value), kOk);
  EXPECT_EQ(value, 65534);
}

TEST_F(CommandTest, ShortAmbientReplyIsRefused) {
  device.queueReport(replyReport("0C", "02", 0x00, {0x01}));
  std::uint16_t value = 77;
  EXPECT_EQ(readAmbientValue(&device, value), kErrRefused);
  EXPECT_EQ(value, 77);
}

TEST_F(CommandTest, SerialNumberOfEightOrTwelveCharacters) {
  device.queueReport(replyReport("0A", "01", 0x00, {}));
  device.queueReport(replyReport("0A", "01", 0x00, {}));
  ASSERT_EQ(setSerialNumber(&device, "AB123456"), kOk);
  ASSERT_EQ(setSerialNumber(&device, "ABCDEF123456"), kOk);
  const Bytes& eight = log.written.at(0);
  EXPECT_EQ(Bytes(eight.begin() + 3, eight.begin() + 7), (Bytes{'0', 'A', '0', '8'}));
  EXPECT_EQ(payloadOf(0), (Bytes{'A', 'B', '1', '2', '3', '4', '5', '6'}));
  EXPECT_EQ(eight[15], 0x03) << "no terminator before ETX";
  const Bytes& twelve = log.written.at(1);
  EXPECT_EQ(Bytes(twelve.begin() + 5, twelve.begin() + 7), (Bytes{'0', 'C'}));
  EXPECT_EQ(payloadOf(1).size(), 12u);
  EXPECT_EQ(twelve[19], 0x03);
}

TEST_F(CommandTest, OtherSerialLengthsAreRejectedWithoutTraffic) {
  for (const char* serial : {"", "1234567", "123456789", "12345678901", "1234567890123"}) {
    EXPECT_EQ(setSerialNumber(&device, serial), kErrInvalidArgument) << serial;
  }
  EXPECT_TRUE(log.written.empty());
  EXPECT_TRUE(isValidSerialNumber("12345678"));
  EXPECT_FALSE(isValidSerialNumber("1234567890"));
}

TEST_F(CommandTest, SettingCommandsCarryTheirCodeAndValue) {
  for (int i = 0; i < 7; ++i) device.queueReport(replyReport("00", "01", 0x00, {}));
  const KeyTable table{0xE0, 0x04, 0, 0x05, 0xE2, 0x06, 0, 0x07, 0, 0, 0, 0};
  ASSERT_EQ(setSymbolBrightness(&device, 7), kOk);
  ASSERT_EQ(setAmbientConfig(&device, 1), kOk);
  ASSERT_EQ(setKeypadType(&device, 1), kOk);
  ASSERT_EQ(writeKeyTable(&device, table), kOk);
  ASSERT_EQ(storeDefaults(&device), kOk);
  ASSERT_EQ(factoryReset(&device), kOk);
  ASSERT_EQ(enterLoader(&device), kOk);
  const std::vector<std::pair<Bytes, Bytes>> expected{
      {{'0', '3'}, {7}}, {{'0', '4'}, {1}},
      {{'0', 'B'}, {1}}, {{'0', '6'}, Bytes(table.begin(), table.end())},
      {{'0', '7'}, {}},  {{'0', '8'}, {}},
      {{'0', '9'}, {}},
  };
  ASSERT_EQ(log.written.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(Bytes(log.written[i].begin() + 3, log.written[i].begin() + 5), expected[i].first)
        << "request " << i;
    EXPECT_EQ(payloadOf(i), expected[i].second) << "request " << i;
  }
}

TEST(ResultText, NamesEveryCode) {
  EXPECT_EQ(resultText(kErrTimeout), "timeout (-6)");
  EXPECT_EQ(resultText(kOk), "success (0)");
  EXPECT_NE(resultText(kErrRefused).find("(-13)"), std::string::npos);
  EXPECT_NE(resultText(kErrSizeByte), resultText(kErrRefused));
  EXPECT_NE(resultText(-99).find("unknown"), std::string::npos);
}

}  // namespace
}  // namespace talkgate::testing
