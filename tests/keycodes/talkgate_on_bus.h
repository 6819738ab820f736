#pragma once
// A simulated Talkgate opened as the process's device (hid_handle) on a virtual bus, with a
// manual clock and scripted dialogs, for the window tests of the editor and the self test.

#include <QAbstractItemView>
#include <QComboBox>
#include <QTest>
#include <cstdint>
#include <vector>

#include "device/clock.h"
#include "device/commands.h"
#include "device/transport.h"
#include "sim/sim_talkgate.h"
#include "sim/virtual_bus.h"
#include "ui/scripted_dialogs.h"

namespace talkgate::test {

class TalkgateOnBus {
 public:
  explicit TalkgateOnBus(const sim::TalkgateState& initial = sim::TalkgateState{})
      : clockGuard_(clock_), dialogsGuard_(dialogs), talkgate_(bus_, initial) {
    hid::setActivePort(&bus_);
    char manufacturer[kDeviceStringBuffer] = {};
    char product[kDeviceStringBuffer] = {};
    hid_handle = ScanForUSBDevice_a(kVendorId, kProductId, manufacturer, product);
    talkgate_.clearRequests();
  }
  ~TalkgateOnBus() {
    hid_exit_safely(hid_handle);
    hid_handle = nullptr;
    hid::setActivePort(nullptr);
  }
  TalkgateOnBus(const TalkgateOnBus&) = delete;
  TalkgateOnBus& operator=(const TalkgateOnBus&) = delete;

  bool opened() const { return hid_handle != nullptr; }
  sim::SimTalkgate& talkgate() { return talkgate_; }
  std::vector<sim::ReceivedRequest> requests() const { return talkgate_.requests(); }

  // Command codes received so far, in order.
  std::vector<int> commands() const { return talkgate_.commandCodes(); }
  // Refuses the next request with the given command code.
  void refuse(int command) {
    sim::FaultPlan plan;
    plan.fault = sim::Fault::Refuse;
    plan.command = command;
    talkgate_.addFault(plan);
  }

  ui::ScriptedDialogs dialogs;

 private:
  ManualClock clock_;
  ScopedClock clockGuard_;
  ui::ScopedDialogs dialogsGuard_;
  sim::VirtualBus bus_;
  sim::SimTalkgate talkgate_;
};

// Picks an entry of a drop-down list the way an operator does: opens the list, moves to the
// entry and commits it with Return.
inline void chooseEntry(QComboBox* combo, int row) {
  combo->showPopup();
  QAbstractItemView* view = combo->view();
  view->setCurrentIndex(combo->model()->index(row, 0));
  QTest::keyClick(view, Qt::Key_Return);
}

}  // namespace talkgate::test
