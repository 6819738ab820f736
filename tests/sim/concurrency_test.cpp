// Exchanges from two threads at once: each must get its own reply. Without the transport's
// lock one thread regularly reads the other's reply.

#include <atomic>
#include <thread>

#include "tests/sim/sim_fixture.h"

namespace talkgate::sim {
namespace {

constexpr int kRounds = 2000;

TEST_F(SimTalkgateTest, TwoThreadsExchangingAtOnceGetTheirOwnReplies) {
  std::atomic<int> wrongStatus{0};
  std::atomic<int> wrongAmbient{0};
  std::atomic<bool> go{false};
  std::thread statusThread([&] {
    while (!go) std::this_thread::yield();
    for (int i = 0; i < kRounds; ++i) {
      DeviceStatus s;
      if (readStatus(handle, s) != kOk || s.serialNumber != "TG260001") ++wrongStatus;
    }
  });
  std::thread ambientThread([&] {
    while (!go) std::this_thread::yield();
    for (int i = 0; i < kRounds; ++i) {
      std::uint16_t value = 0;
      if (readAmbientValue(handle, value) != kOk || value != 300) ++wrongAmbient;
    }
  });
  go = true;
  statusThread.join();
  ambientThread.join();
  EXPECT_EQ(wrongStatus.load(), 0);
  EXPECT_EQ(wrongAmbient.load(), 0);
  EXPECT_EQ(sim.requests().size(), 2u * kRounds);
}

TEST_F(SimTalkgateTest, CloseWaitsForARunningExchange) {
  // The device answers only after 1000 ms; the close must not run while the exchange polls.
  FaultPlan late;
  late.fault = Fault::LateReply;
  late.delayMs = 1000;
  sim.addFault(late);
  std::atomic<int> result{1};
  std::thread worker([&] {
    std::uint8_t data[64];
    std::uint32_t length = 0;
    result = USBEncoderSendAndReceive_a(handle, kCmdStatus, nullptr, 0, data, 64, &length, 0);
  });
  while (sim.requests().empty()) std::this_thread::yield();
  hid_exit_safely(handle);  // blocks until the worker's exchange is over
  handle = nullptr;
  worker.join();
  EXPECT_EQ(result.load(), kOk);
}

}  // namespace
}  // namespace talkgate::sim
