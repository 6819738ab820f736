#pragma once
// A desk for main window tests: a simulated Talkgate on a virtual bus, a manual clock, scripted
// message boxes, and a configuration folder of the test's own.

#include <QApplication>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>
#include <vector>

#include "app/main_window.h"
#include "app/setting_combo_box.h"
#include "device/clock.h"
#include "device/transport.h"
#include "sim/sim_talkgate.h"
#include "sim/virtual_bus.h"
#include "ui/scripted_dialogs.h"

namespace apptest {

using ScopedPort = talkgate::hid::ScopedPort;

struct Desk {
  explicit Desk(talkgate::sim::TalkgateState state = talkgate::sim::TalkgateState{})
      : talkgate(bus, std::move(state)) {}

  ~Desk() {
    window.reset();
    // Windows opened from the main window went with it; windows a test opened on their own, and
    // their workers, go before the bus does.
    for (QWidget* top : QApplication::topLevelWidgets()) {
      if (top->parentWidget() == nullptr) delete top;
    }
    // The handle lives on this desk's bus; close it while the bus is still the active port.
    if (talkgate::hid_handle != nullptr) talkgate::hid_exit_safely(talkgate::hid_handle);
    talkgate::hid_handle = nullptr;
  }

  // Constructs the main window and shows it, which runs its loading step.
  dorrin_usb_encoder::Form1& start() {
    window = std::make_unique<dorrin_usb_encoder::Form1>();
    window->show();
    return *window;
  }

  // Command codes the device received, in order.
  std::vector<int> commands() const { return talkgate.commandCodes(); }

  // Sent the same way as when the operator picks an entry from the open list.
  static void choose(talkgate::app::SettingComboBox* list, int index) {
    list->setCurrentIndex(index);
    emit list->activated(index);
  }

  talkgate::ManualClock clock;
  talkgate::ScopedClock scopedClock{clock};
  talkgate::sim::VirtualBus bus;
  talkgate::sim::SimTalkgate talkgate;
  ScopedPort port{bus};
  talkgate::ui::ScriptedDialogs dialogs;
  talkgate::ui::ScopedDialogs scopedDialogs{dialogs};
  std::unique_ptr<dorrin_usb_encoder::Form1> window;
};

// The device state most tests start from.
inline talkgate::sim::TalkgateState deviceWith(int brightness, int ambient, int keypad) {
  talkgate::sim::TalkgateState state;
  state.working.symbolBrightness = static_cast<std::uint8_t>(brightness);
  state.working.ambientConfig = static_cast<std::uint8_t>(ambient);
  state.working.keypadType = static_cast<std::uint8_t>(keypad);
  state.firmwareVersion = "2.3.1";
  state.serialNumber = "TG123456";
  return state;
}

// The eight controls that follow the connection.
inline QList<QWidget*> deviceControls(const dorrin_usb_encoder::Form1& w) {
  return {w.led1BrightnessJOCbox,
          w.led2BrightnessJOCbox,
          w.keypadTypeCbox,
          w.button1,
          w.button8,
          w.button9,
          w.button2,
          w.button3};
}

// Points the per-user data folder at a fresh temporary folder, so the configuration file the
// window creates at start-up never touches the real one.
inline void isolateUserFolder(QTemporaryDir& folder) {
  qputenv("XDG_DATA_HOME", folder.path().toLocal8Bit());
}

}  // namespace apptest
