// The framed exchange, checked byte for byte against a scripted device.

#include <gtest/gtest.h>

#include <array>

#include "device/clock.h"
#include "device/transport.h"
#include "tests/device/scripted_port.h"

namespace talkgate::testing {
namespace {

using std::chrono::milliseconds;

class ExchangeTest : public ::testing::Test {
 protected:
  // One exchange with the standard 64-byte buffer; rx and rxLength hold the outcome.
  int send(std::uint8_t command, const Bytes& payload = {}, int timeoutMs = kReplyTimeoutMs) {
    rx.fill(0xEE);
    rxLength = 0xDEAD;
    return USBEncoderSendAndReceive_a(&device, command, payload.data(),
                                      static_cast<int>(payload.size()), rx.data(),
                                      static_cast<int>(rx.size()), &rxLength, timeoutMs);
  }
  Bytes firstBytes(std::size_t n) const {
    return Bytes(log.written.at(0).begin(), log.written.at(0).begin() + n);
  }

  ManualClock clock;
  ScopedClock scopedClock{clock};
  DeviceLog log;
  ScriptedDevice device{log};
  std::array<std::uint8_t, 64> rx{};
  std::uint32_t rxLength = 0;
};

// ---- Request reports ----

TEST_F(ExchangeTest, StatusRequestMatchesWorkedExample) {
  device.queueReport(replyReport("01", "01", 0x00, {}));
  ASSERT_EQ(send(1), kOk);
  ASSERT_EQ(log.written.size(), 1u);
  Bytes expected{0x3F, 0x40, 0x02, 0x30, 0x31, 0x30, 0x30, 0x03, 0x00};
  expected.resize(64, 0);
  EXPECT_EQ(log.written[0], expected);
}

TEST_F(ExchangeTest, PayloadRequestsMatchWorkedExamples) {
  device.queueReport(replyReport("03", "01", 0x00, {}));
  device.queueReport(replyReport("07", "01", 0x00, {}));
  ASSERT_EQ(send(3, {0x05}), kOk);
  ASSERT_EQ(send(7), kOk);
  Bytes brightness{0x3F, 0x40, 0x02, 0x30, 0x33, 0x30, 0x31, 0x05, 0x03, 0x06};
  brightness.resize(64, 0);
  Bytes store{0x3F, 0x40, 0x02, 0x30, 0x37, 0x30, 0x30, 0x03, 0x06};
  store.resize(64, 0);
  ASSERT_EQ(log.written.size(), 2u);
  EXPECT_EQ(log.written[0], brightness);
  EXPECT_EQ(log.written[1], store);
}

TEST_F(ExchangeTest, CommandsTenToTwelveUseUpperCaseDigits) {
  const std::array<std::pair<std::uint8_t, Bytes>, 3> cases{{
      {10, {'0', 'A'}},
      {11, {'0', 'B'}},
      {12, {'0', 'C'}},
  }};
  for (const auto& [command, digits] : cases) {
    log.written.clear();
    device.queueReport(replyReport("00", "01", 0x00, {}));
    ASSERT_EQ(send(command), kOk);
    EXPECT_EQ(Bytes(log.written[0].begin() + 3, log.written[0].begin() + 5), digits)
        << "command " << int{command};
  }
}

TEST_F(ExchangeTest, TwelveBytePayloadCarriesLengthZeroCAndChecksum) {
  const Bytes table{0x00, 0x6F, 0xE1, 0x70, 0x00, 0x71, 0x00, 0x72, 0x00, 0x52, 0x00, 0x28};
  device.queueReport(replyReport("06", "01", 0x00, {}));
  ASSERT_EQ(send(6, table), kOk);
  const Bytes& sent = log.written[0];
  EXPECT_EQ(sent[5], '0');
  EXPECT_EQ(sent[6], 'C');
  EXPECT_EQ(Bytes(sent.begin() + 7, sent.begin() + 19), table);
  EXPECT_EQ(sent[19], 0x03);
  std::uint8_t sum = 0;
  for (int i = 2; i <= 19; ++i) sum ^= sent[i];
  EXPECT_EQ(sent[20], sum);
  EXPECT_TRUE(std::all_of(sent.begin() + 21, sent.end(), [](std::uint8_t b) { return b == 0; }));
}

TEST_F(ExchangeTest, RefusesOversizedOrNegativePayloadWithoutTraffic) {
  const Bytes tooLong(56, 0x41);
  EXPECT_EQ(send(6, tooLong), kErrInvalidArgument);
  EXPECT_EQ(USBEncoderSendAndReceive_a(&device, 1, nullptr, -1, rx.data(), 64, &rxLength, 5000),
            kErrInvalidArgument);
  EXPECT_TRUE(log.written.empty());
}

TEST(ExchangeWithoutDevice, NoHandleGivesMinusOneWithoutTraffic) {
  ScriptedPort port;
  ScopedPort scoped(port);
  std::array<std::uint8_t, 64> rx{};
  std::uint32_t length = 0;
  EXPECT_EQ(USBEncoderSendAndReceive_a(nullptr, 1, nullptr, 0, rx.data(), 64, &length, 5000),
            kErrIo);
  EXPECT_TRUE(port.opened.empty());
  EXPECT_EQ(port.inits, 0);
}

TEST_F(ExchangeTest, FailedWriteGivesMinusOneWithoutReading) {
  device.writeResult = -1;
  EXPECT_EQ(send(1), kErrIo);
  EXPECT_EQ(log.reads, 0);
}

// ---- Waiting: polls, timeouts, acknowledgements ----

TEST_F(ExchangeTest, TimesOutAfterFiveSecondsOfEmptyPolls) {
  EXPECT_EQ(send(1), kErrTimeout);
  EXPECT_EQ(clock.totalSlept(), milliseconds(5000));
  EXPECT_EQ(log.reads, 500);
}

TEST_F(ExchangeTest, ReplyJustBeforeTheTimeoutIsTaken) {
  device.queueEmpty(499);
  device.queueReport(replyReport("01", "01", 0x00, {}));
  EXPECT_EQ(send(1), kOk);
  EXPECT_EQ(clock.totalSlept(), milliseconds(4990));
}

TEST_F(ExchangeTest, ZeroTimeoutWaitsUntilAReportArrives) {
  device.queueEmpty(20000);  // 200 s of silence
  device.queueReport(replyReport("01", "02", 0x00, {0x42}));
  ASSERT_EQ(send(1, {}, 0), kOk);
  EXPECT_EQ(clock.totalSlept(), milliseconds(200000));
  EXPECT_EQ(rxLength, 1u);
  EXPECT_EQ(rx[0], 0x42);
}

TEST_F(ExchangeTest, EachAcknowledgementRestartsTheTimeout) {
  // 40 ms timeout; 30 ms of silence before each of three acknowledgements would exceed it
  // unless every acknowledgement resets the count.
  for (int i = 0; i < 3; ++i) {
    device.queueEmpty(3);
    device.queueReport(markerReport(0x06));
  }
  device.queueEmpty(3);
  device.queueReport(replyReport("01", "01", 0x00, {}));
  EXPECT_EQ(send(1, {}, 40), kOk);
  EXPECT_EQ(clock.totalSlept(), milliseconds(120));
}

TEST_F(ExchangeTest, TimeoutCountsFromTheLastAcknowledgement) {
  device.queueEmpty(3);
  device.queueReport(markerReport(0x06));
  EXPECT_EQ(send(1, {}, 40), kErrTimeout);
  EXPECT_EQ(clock.totalSlept(), milliseconds(70));
}

TEST_F(ExchangeTest, AcknowledgementStormHoldsCallerPastFiveSeconds) {
  for (int i = 0; i < 3; ++i) {
    device.queueEmpty(400);
    device.queueReport(markerReport(0x06, 0x7F));  // size byte of an acknowledgement is ignored
  }
  device.queueReport(replyReport("01", "01", 0x00, {}));
  EXPECT_EQ(send(1), kOk);
  EXPECT_EQ(clock.totalSlept(), milliseconds(12000));
}

TEST_F(ExchangeTest, ReadErrorGivesMinusOne) {
  device.queueEmpty(2);
  device.queueError();
  EXPECT_EQ(send(1), kErrIo);
}

// ---- Reply checks ----

TEST_F(ExchangeTest, RefusalGivesMinusThirteenWhateverItContains) {
  Bytes refusal = replyReport("01", "05", 0x00, {1, 2, 3, 4});
  refusal[2] = 0x0F;  // otherwise a valid-looking frame
  refusal[1] = 0x55;  // size byte not looked at for a refusal
  device.queueReport(refusal);
  EXPECT_EQ(send(1), kErrRefused);
  EXPECT_EQ(rx[0], 0xEE) << "nothing copied";
}

TEST_F(ExchangeTest, SizeByteAboveSixtyFourGivesMinusEight) {
  device.queueReport(replyReport("01", "01", 0x00, {}, 0x41));
  EXPECT_EQ(send(1), kErrSizeByte);
  device.queueReport(replyReport("01", "01", 0x00, {}, 0x40));
  EXPECT_EQ(send(1), kOk);
  // A malformed frame with a bad size byte reports the size byte.
  Bytes garbage(64, 0x00);
  garbage[1] = 0xFF;
  garbage[2] = 0x55;
  device.queueReport(garbage);
  EXPECT_EQ(send(1), kErrSizeByte);
}

TEST_F(ExchangeTest, MalformedFramesGiveMinusThirteen) {
  struct Case {
    const char* what;
    Bytes report;
  };
  Bytes badChecksum = replyReport("01", "02", 0x00, {0x10});
  badChecksum[10] ^= 0x01;
  Bytes notStx = replyReport("01", "01", 0x00, {});
  notStx[2] = 0x05;
  const std::vector<Case> cases{
      {"status byte 0x01", replyReport("01", "01", 0x01, {})},
      {"wrong checksum", badChecksum},
      {"missing ETX", replyReport("01", "02", 0x00, {0x10}, 0x40, 0x00)},
      {"length 00", replyReport("01", "00", 0x00, {})},
      {"lower-case length 0a counts as 00", replyReport("01", "0a", 0x00, {})},
      {"length beyond the report", replyReport("01", "38", 0x00, {})},
      {"marker neither STX, ACK nor refusal", notStx},
  };
  for (const Case& c : cases) {
    device.queueReport(c.report);
    EXPECT_EQ(send(1), kErrRefused) << c.what;
  }
}

TEST_F(ExchangeTest, LowerCaseDigitInLengthShortensTheFrame) {
  // "1a" decodes as 0x10: a frame built for 0x1A bytes then fails its ETX check.
  device.queueReport(replyReport("01", "1a", 0x00, Bytes(25, 0x20)));
  EXPECT_EQ(send(1), kErrRefused);
}

TEST_F(ExchangeTest, EchoOfAnotherCommandIsAccepted) {
  device.queueReport(replyReport("0C", "03", 0x00, {0x01, 0x2C}));
  ASSERT_EQ(send(1), kOk);
  EXPECT_EQ(rxLength, 2u);
  EXPECT_EQ(rx[0], 0x01);
  EXPECT_EQ(rx[1], 0x2C);
}

TEST_F(ExchangeTest, LengthOneGivesSuccessWithNoData) {
  device.queueReport(replyReport("03", "01", 0x00, {}));
  ASSERT_EQ(send(3, {5}), kOk);
  EXPECT_EQ(rxLength, 0u);
  EXPECT_EQ(rx[0], 0xEE);
}

TEST_F(ExchangeTest, LargestReplyCarriesFiftyFourBytes) {
  Bytes data(54);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i + 1);
  device.queueReport(replyReport("01", "37", 0x00, data));
  ASSERT_EQ(send(1), kOk);
  ASSERT_EQ(rxLength, 54u);
  EXPECT_EQ(Bytes(rx.begin(), rx.begin() + 54), data);
}

TEST_F(ExchangeTest, ReplyLargerThanTheBufferFailsWithoutOverrun) {
  device.queueReport(replyReport("01", "0B", 0x00, Bytes(10, 0x77)));
  std::array<std::uint8_t, 12> guarded{};
  guarded.fill(0xEE);
  std::uint32_t length = 0;
  // Only 8 of the 12 bytes are offered; the bytes after them must stay untouched.
  EXPECT_EQ(USBEncoderSendAndReceive_a(&device, 1, nullptr, 0, guarded.data(), 8, &length, 5000),
            kErrRefused);
  EXPECT_TRUE(std::all_of(guarded.begin(), guarded.end(), [](auto b) { return b == 0xEE; }));
  // The same reply fits a buffer of exactly its size.
  device.queueReport(replyReport("01", "0B", 0x00, Bytes(10, 0x77)));
  EXPECT_EQ(USBEncoderSendAndReceive_a(&device, 1, nullptr, 0, guarded.data(), 10, &length, 5000),
            kOk);
  EXPECT_EQ(length, 10u);
  EXPECT_EQ(guarded[9], 0x77);
  EXPECT_EQ(guarded[10], 0xEE);
}

TEST_F(ExchangeTest, ReportsWaitingBeforeTheRequestAreDropped) {
  // A reply that came after its request timed out waits in the queue; the next request drops
  // it and takes its own reply.
  device.queueWaiting(replyReport("0C", "03", 0x00, {0x00, 0x07}));
  device.queueReport(replyReport("03", "01", 0x00, {}));
  ASSERT_EQ(send(3, {1}), kOk);
  EXPECT_EQ(rxLength, 0u);
  EXPECT_EQ(log.discarded, 1);
  // A device gone while its queue is emptied: -1, and the request is not written.
  device.queueWaiting({});
  EXPECT_EQ(send(1), kErrIo);
  EXPECT_EQ(log.written.size(), 1u);
}

}  // namespace
}  // namespace talkgate::testing
