#pragma once
// A simulated Talkgate on a virtual bus, opened through the transport with a manual clock.

#include <gtest/gtest.h>

#include "device/clock.h"
#include "device/commands.h"
#include "sim/sim_talkgate.h"
#include "tests/device/scripted_port.h"

namespace talkgate::sim {

class SimTalkgateTest : public ::testing::Test {
 protected:
  void SetUp() override { open(); }
  void TearDown() override { hid_exit_safely(handle); }

  void open() {
    char manufacturer[kDeviceStringBuffer];
    char product[kDeviceStringBuffer];
    handle = ScanForUSBDevice_a(kVendorId, kProductId, manufacturer, product);
    ASSERT_NE(handle, nullptr);
  }
  void reopen() {
    hid_exit_safely(handle);
    handle = nullptr;
    open();
  }
  // A raw exchange; the reply data lands in rx.
  int send(std::uint8_t command, const std::vector<std::uint8_t>& payload = {}) {
    rxLength = 0;
    return USBEncoderSendAndReceive_a(handle, command, payload.data(),
                                      static_cast<int>(payload.size()), rx, sizeof rx, &rxLength,
                                      kReplyTimeoutMs);
  }
  DeviceStatus status() {
    DeviceStatus out;
    EXPECT_EQ(readStatus(handle, out), kOk);
    return out;
  }

  ManualClock clock;
  ScopedClock scopedClock{clock};
  VirtualBus bus;
  testing::ScopedPort scopedPort{bus};
  SimTalkgate sim{bus};
  DeviceHandle handle = nullptr;
  std::uint8_t rx[64] = {};
  std::uint32_t rxLength = 0;
};

}  // namespace talkgate::sim
