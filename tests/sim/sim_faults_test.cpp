// Each injected fault seen through the transport: the result code the host gets, and how the
// plan's command filter and count are honoured.

#include "tests/sim/sim_fixture.h"

namespace talkgate::sim {
namespace {

using std::chrono::milliseconds;

FaultPlan plan(Fault fault, int command = -1, int times = 1) {
  FaultPlan p;
  p.fault = fault;
  p.command = command;
  p.times = times;
  return p;
}

TEST_F(SimTalkgateTest, GarblingFaultsGiveTheirResultCodes) {
  const std::vector<std::pair<Fault, int>> cases{
      {Fault::Refuse, kErrRefused},        {Fault::BadChecksum, kErrRefused},
      {Fault::BadSizeByte, kErrSizeByte},  {Fault::WrongLength, kErrRefused},
      {Fault::BadStatusByte, kErrRefused}, {Fault::MissingEtx, kErrRefused},
      {Fault::NoReply, kErrTimeout},
  };
  for (const auto& [fault, expected] : cases) {
    sim.addFault(plan(fault));
    EXPECT_EQ(send(kCmdStatus), expected) << "fault " << static_cast<int>(fault);
    EXPECT_EQ(send(kCmdStatus), kOk) << "one-shot fault " << static_cast<int>(fault);
  }
}

TEST_F(SimTalkgateTest, RefusedAndSwallowedRequestsAreNotActedOn) {
  sim.addFault(plan(Fault::Refuse));
  EXPECT_EQ(setSymbolBrightness(handle, 9), kErrRefused);
  sim.addFault(plan(Fault::NoReply));
  EXPECT_EQ(setSymbolBrightness(handle, 8), kErrTimeout);
  EXPECT_EQ(sim.state().working.symbolBrightness, 5);
}

TEST_F(SimTalkgateTest, GarbledRepliesStillChangeTheDevice) {
  // The device acted; only its answer was damaged on the way back.
  sim.addFault(plan(Fault::BadChecksum));
  EXPECT_EQ(setSymbolBrightness(handle, 9), kErrRefused);
  EXPECT_EQ(sim.state().working.symbolBrightness, 9);
}

TEST_F(SimTalkgateTest, AcknowledgementsBeforeTheReply) {
  FaultPlan acks = plan(Fault::AckFirst);
  acks.count = 3;
  sim.addFault(acks);
  EXPECT_EQ(send(kCmdAmbientValue), kOk);
  EXPECT_EQ(rxLength, 2u);
  EXPECT_EQ(bus.reportsRead(), 4u);
}

TEST_F(SimTalkgateTest, LateReplyWithinAndBeyondTheTimeout) {
  FaultPlan late = plan(Fault::LateReply);
  late.delayMs = 3000;
  sim.addFault(late);
  EXPECT_EQ(send(kCmdStatus), kOk);
  EXPECT_EQ(clock.totalSlept(), milliseconds(3000));

  late.delayMs = 6000;
  sim.addFault(late);
  EXPECT_EQ(send(kCmdStatus), kErrTimeout);
  // The late reply then arrives; the next request drops it and gets its own.
  clock.advance(milliseconds(2000));
  EXPECT_EQ(send(kCmdAmbientValue), kOk);
  EXPECT_EQ(rxLength, 2u) << "the late status reply answered the ambient request";
}

TEST_F(SimTalkgateTest, RepeatedReplyIsDroppedBeforeTheNextRequest) {
  sim.addFault(plan(Fault::RepeatedReply, kCmdAmbientValue));
  ASSERT_EQ(send(kCmdAmbientValue), kOk);
  ASSERT_EQ(send(kCmdStatus), kOk);
  EXPECT_GT(rxLength, 2u) << "the duplicate ambient reply answered the status request";
}

TEST_F(SimTalkgateTest, ReplyLeftUnreadIsNotDeliveredToTheNextHandle) {
  // Like a hidraw node, every open starts with an empty queue; a rescan recovers from a
  // reply that a failed exchange left behind.
  sim.addFault(plan(Fault::RepeatedReply, kCmdAmbientValue));
  ASSERT_EQ(send(kCmdAmbientValue), kOk);
  reopen();
  ASSERT_EQ(send(kCmdStatus), kOk);
  EXPECT_GT(rxLength, 2u) << "the status reply, not the leftover ambient one";
}

TEST_F(SimTalkgateTest, StaleReplyComesBeforeTheCurrentOne) {
  ASSERT_EQ(send(kCmdAmbientValue), kOk);
  sim.addFault(plan(Fault::StaleReply));
  ASSERT_EQ(send(kCmdStatus), kOk);
  EXPECT_EQ(rxLength, 2u) << "got the previous (ambient) reply";
  // The status reply behind it is dropped before the next request.
  ASSERT_EQ(send(kCmdAmbientValue), kOk);
  EXPECT_EQ(rxLength, 2u) << "the status reply left behind answered the ambient request";
}

TEST_F(SimTalkgateTest, LeaveBusFailsTheOpenHandle) {
  sim.addFault(plan(Fault::LeaveBus, kCmdSetSymbolBrightness));
  EXPECT_EQ(send(kCmdStatus), kOk) << "filter: other commands unaffected";
  EXPECT_EQ(setSymbolBrightness(handle, 1), kErrIo);
  EXPECT_FALSE(sim.pluggedIn());
  EXPECT_EQ(send(kCmdStatus), kErrIo);
  EXPECT_EQ(sim.state().working.symbolBrightness, 5);
}

TEST_F(SimTalkgateTest, PlansAreFilteredCountedAndConsumedInOrder) {
  sim.addFault(plan(Fault::Refuse, kCmdSetKeypadType, 2));
  sim.addFault(plan(Fault::BadSizeByte, -1, 1));
  EXPECT_EQ(send(kCmdStatus), kErrSizeByte) << "the keypad plan does not match status";
  EXPECT_EQ(setKeypadType(handle, 1), kErrRefused);
  EXPECT_EQ(setKeypadType(handle, 1), kErrRefused);
  EXPECT_EQ(setKeypadType(handle, 1), kOk);
  EXPECT_EQ(send(kCmdStatus), kOk);

  sim.addFault(plan(Fault::Refuse, -1, -1));
  for (int i = 0; i < 5; ++i) EXPECT_EQ(send(kCmdStatus), kErrRefused);
  sim.clearFaults();
  EXPECT_EQ(send(kCmdStatus), kOk);
}

}  // namespace
}  // namespace talkgate::sim
