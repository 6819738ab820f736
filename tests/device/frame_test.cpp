// The wire format as both ends use it: digits, and request decoding on the device side.

#include <gtest/gtest.h>

#include "device/frame.h"
#include "tests/device/scripted_port.h"

namespace talkgate::testing {
namespace {

frame::Report toReport(const Bytes& bytes) {
  frame::Report report{};
  std::copy_n(bytes.begin(), std::min(bytes.size(), report.size()), report.begin());
  return report;
}

TEST(FrameDigits, OnlyDigitsAndUpperCaseLettersCount) {
  EXPECT_EQ(frame::digitValue('0'), 0u);
  EXPECT_EQ(frame::digitValue('9'), 9u);
  EXPECT_EQ(frame::digitValue('A'), 10u);
  EXPECT_EQ(frame::digitValue('F'), 15u);
  for (char c : {'a', 'f', 'G', ' ', '\0', '/', ':', '@'}) {
    EXPECT_EQ(frame::digitValue(static_cast<std::uint8_t>(c)), 0u) << int{c};
  }
  EXPECT_EQ(frame::hexDigit(11), 'B');
  EXPECT_EQ(frame::hexDigit(0), '0');
}

TEST(FrameRequest, DeviceSideDecodesWhatTheHostEncodes) {
  const Bytes payload{'T', 'G', '0', '0', '0', '0', '0', '1', 0x00, 0xFF, 0x03, 0x02};
  const frame::Report report = frame::encodeRequest(10, payload.data(), payload.size());
  const auto request = frame::decodeRequest(report);
  ASSERT_TRUE(request.has_value());
  EXPECT_EQ(request->command, 10);
  EXPECT_EQ(Bytes(request->payload.begin(), request->payload.end()), payload);
}

TEST(FrameRequest, DeviceSideRejectsDamagedRequests) {
  const std::uint8_t value = 4;
  const frame::Report good = frame::encodeRequest(3, &value, 1);
  ASSERT_TRUE(frame::decodeRequest(good).has_value());
  frame::Report badSum = good;
  badSum[9] ^= 0x80;
  frame::Report noEtx = good;
  noEtx[8] = 0x00;
  frame::Report noStx = good;
  noStx[2] = 0x06;
  frame::Report longLength = good;
  longLength[5] = '3';
  longLength[6] = '8';  // 56 bytes cannot fit
  for (const auto& damaged : {badSum, noEtx, noStx, longLength}) {
    EXPECT_FALSE(frame::decodeRequest(damaged).has_value());
  }
  EXPECT_FALSE(frame::decodeRequest(std::span(good).first(20)).has_value()) << "short report";
}

TEST(FrameReply, EncoderMatchesTheByteLayout) {
  const Bytes data{0x01, 0x2C};
  const frame::Report report = frame::encodeReply(12, data.data(), data.size());
  EXPECT_EQ(report, toReport(replyReport("0C", "03", 0x00, data)));
  const frame::Reply reply = frame::decodeReply(report);
  ASSERT_EQ(reply.kind, frame::ReplyKind::Frame);
  EXPECT_EQ(reply.command, 12);
  EXPECT_EQ(Bytes(reply.data.begin(), reply.data.end()), data);
}

TEST(FrameReply, OverlongDataIsCutToFiftyFourBytes) {
  const Bytes data(60, 0x5A);
  const frame::Reply reply = frame::decodeReply(frame::encodeReply(1, data.data(), data.size()));
  ASSERT_EQ(reply.kind, frame::ReplyKind::Frame);
  EXPECT_EQ(reply.data.size(), 54u);
}

}  // namespace
}  // namespace talkgate::testing
