#pragma once
// One simulated Talkgate served on one USB device controller: its firmware as the Talkgate
// gadget (2047:0922, boot keyboard on interface 0, vendor interface 1), its bootstrap loader as
// the loader gadget (2047:0200, vendor interface 0). Whatever the simulated part shows on its
// virtual bus is bound to the controller; when that changes (command 9, the RAM loader
// starting, the reset after an upgrade, the part leaving the bus) the gadget is unbound and
// removed and the new one made and bound, which the host sees as a re-enumeration. Only the
// bound gadget exists, since the kernel's HID function has few device numbers (4 in Linux 6.1:
// two Talkgates, or one Talkgate and its loader). Reports are carried unchanged both ways,
// report identifier in byte 0.

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>

#include "device/hid_port.h"
#include "gadget/configfs_gadget.h"
#include "sim/sim_world.h"
#include "sim/virtual_bus.h"

namespace talkgate::gadget {

// What the simulated part shows on the bus.
enum class Personality { None, Talkgate, RomLoader, RamLoader };

class TalkgateLink {
 public:
  // Serves the part with gadgets named prefix-talkgate and prefix-loader, made as they are
  // needed. say gets one line per re-enumeration and, when verbose, one per request the
  // Talkgate receives.
  TalkgateLink(const std::string& configfsRoot, const std::string& prefix, sim::SimWorld& world,
               sim::VirtualBus& bus, std::string udc, std::function<void(const std::string&)> say,
               bool verbose = false);
  ~TalkgateLink();
  TalkgateLink(const TalkgateLink&) = delete;
  TalkgateLink& operator=(const TalkgateLink&) = delete;

  // Binds what the part shows now, when that is not what is bound. True when it changed.
  bool reconcile();
  // The open gadget node to poll (-1 when nothing is bound) and the events to wait for.
  int fd() const { return fd_; }
  short events() const;
  // Carries what the host sent to the part and what the part answered to the host.
  void serve(short revents);

 private:
  void release() noexcept;
  void flushToHost();
  void showRequests();

  sim::SimWorld& world_;
  sim::VirtualBus& bus_;
  std::string udc_;
  std::function<void(const std::string&)> say_;
  std::string configfsRoot_;
  std::string prefix_;
  Personality bound_ = Personality::None;
  std::string boundPath_;  // virtual bus path now served
  std::unique_ptr<ConfigfsGadget> gadget_;
  std::unique_ptr<hid::Device> device_;
  int fd_ = -1;
  std::deque<std::array<std::uint8_t, hid::kReportSize>> toHost_;
  std::chrono::steady_clock::time_point lastChange_;
  bool verbose_ = false;
  std::size_t requestsShown_ = 0;
};

}  // namespace talkgate::gadget
