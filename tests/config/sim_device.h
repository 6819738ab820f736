#pragma once
// A simulated Talkgate opened on a virtual bus, with a manual clock so no test waits.

#include <string>
#include <vector>

#include "device/clock.h"
#include "device/hid_port.h"
#include "device/transport.h"
#include "sim/sim_talkgate.h"
#include "sim/virtual_bus.h"

namespace talkgate::config::test {

class SimDevice {
 public:
  explicit SimDevice(sim::TalkgateState initial = sim::TalkgateState{})
      : clockGuard_(clock_), talkgate_(bus_, initial) {
    hid::setActivePort(&bus_);
    talkgate_.plugIn();
    char manufacturer[kDeviceStringBuffer] = {};
    char product[kDeviceStringBuffer] = {};
    handle_ = ScanForUSBDevice_a(kVendorId, kProductId, manufacturer, product);
    talkgate_.clearRequests();
  }
  ~SimDevice() {
    hid_exit_safely(handle_);
    hid::setActivePort(nullptr);
  }
  SimDevice(const SimDevice&) = delete;
  SimDevice& operator=(const SimDevice&) = delete;

  DeviceHandle handle() const { return handle_; }
  sim::SimTalkgate& talkgate() { return talkgate_; }

  // Command codes received since the device was opened, in order.
  std::vector<int> commands() const { return talkgate_.commandCodes(); }
  // Refuses the next request with the given command code.
  void refuse(int command) {
    sim::FaultPlan plan;
    plan.fault = sim::Fault::Refuse;
    plan.command = command;
    talkgate_.addFault(plan);
  }

 private:
  ManualClock clock_;
  ScopedClock clockGuard_;
  sim::VirtualBus bus_;
  sim::SimTalkgate talkgate_;
  DeviceHandle handle_ = nullptr;
};

}  // namespace talkgate::config::test
