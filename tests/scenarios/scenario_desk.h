#pragma once
// A desk for fault scenarios through the windows: the simulated Talkgate and its bootstrap
// loader on one virtual bus, a manual clock, scripted message boxes, and a user data folder of
// the scenario's own, so the configuration file the main window creates is a fresh one.

#include <QApplication>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "app/main_window.h"
#include "app/process_state.h"
#include "app/setting_combo_box.h"
#include "config/utility_config.h"
#include "device/clock.h"
#include "device/commands.h"
#include "device/transport.h"
#include "firmware/bsl430.h"
#include "firmware/firmware_upgrade.h"
#include "sim/sim_world.h"
#include "sim/virtual_bus.h"
#include "tests/scenarios/power_up.h"
#include "ui/scripted_dialogs.h"

namespace scen {

inline constexpr int kWaitMs = 20000;  // bound for worker threads; the clock itself is manual

inline std::string readBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void writeBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

inline std::string demoImagePath(const std::string& version) {
  return talkgate::sim::demoImagesDir() + "/talkgate_fw_" + version + ".txt";
}

// A Talkgate on firmware 1.0.4 whose working settings all differ from the factory ones.
inline talkgate::sim::SimWorldOptions talkgateWorld(int brightness = 5, int ambient = 0,
                                                    int keypad = 1) {
  talkgate::sim::SimWorldOptions options;
  options.initialImage = readBytes(demoImagePath("1.0.4"));
  auto& w = options.talkgate.working;
  w.symbolBrightness = static_cast<std::uint8_t>(brightness);
  w.ambientConfig = static_cast<std::uint8_t>(ambient);
  w.keypadType = static_cast<std::uint8_t>(keypad);
  w.keyTable = {0x00, 0x04, 0xE1, 0x05, 0x00, 0x06, 0x00, 0x07, 0x00, 0x52, 0x00, 0x28};
  options.talkgate.defaults = w;
  options.talkgate.serialNumber = "TG123456";
  return options;
}

class Desk {
 public:
  explicit Desk(talkgate::sim::SimWorldOptions options = talkgateWorld())
      : world(bus, std::move(options)) {
    talkgate::hid::setActivePort(&bus);
    qputenv("XDG_DATA_HOME", userFolder.path().toLocal8Bit());
    talkgate::config::FileName.clear();
    dorrin_usb_encoder::configArray = {};
  }

  ~Desk() {
    window.reset();
    // Windows opened from the main window went with it; windows a test opened on their own, and
    // their workers, go before the bus does.
    for (QWidget* top : QApplication::topLevelWidgets()) {
      if (top->parentWidget() == nullptr) delete top;
    }
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
    if (talkgate::hid_handle != nullptr) talkgate::hid_exit_safely(talkgate::hid_handle);
    talkgate::hid_handle = nullptr;
    talkgate::firmware::BSL_close_BSL();
    talkgate::firmware::BSL_closeTI_Text();
    talkgate::config::FileName.clear();
    talkgate::hid::setActivePort(nullptr);
  }
  Desk(const Desk&) = delete;
  Desk& operator=(const Desk&) = delete;

  // Constructs and shows the main window, which opens the device and creates the file.
  dorrin_usb_encoder::Form1& start() {
    window = std::make_unique<dorrin_usb_encoder::Form1>();
    window->show();
    return *window;
  }

  talkgate::sim::SimTalkgate& talkgate() { return world.talkgate(); }
  talkgate::sim::SimBslDevice& loader() { return world.loader(); }

  std::vector<int> commands() const { return world.talkgate().commandCodes(); }

  // Picks an entry as the operator does from the open list.
  static void choose(talkgate::app::SettingComboBox* list, int index) {
    list->setCurrentIndex(index);
    emit list->activated(index);
  }

  // The configuration file as the main window located it.
  std::string configFile() const { return talkgate::config::FileName; }

  // Power comes back to the part (see power_up.h).
  void powerUp() { scen::powerUp(world); }

  // The upgrade windows now open.
  static std::vector<dorrin_usb_encoder::firmware_upgrade*> upgradeWindows() {
    std::vector<dorrin_usb_encoder::firmware_upgrade*> found;
    for (QWidget* top : QApplication::topLevelWidgets()) {
      if (auto* w = qobject_cast<dorrin_usb_encoder::firmware_upgrade*>(top)) found.push_back(w);
    }
    return found;
  }

  talkgate::ManualClock clock;
  talkgate::ScopedClock scopedClock{clock};
  talkgate::sim::VirtualBus bus;
  mutable talkgate::sim::SimWorld world;
  talkgate::ui::ScriptedDialogs dialogs;
  talkgate::ui::ScopedDialogs scopedDialogs{dialogs};
  QTemporaryDir userFolder;
  std::unique_ptr<dorrin_usb_encoder::Form1> window;
};

// Message texts of the boxes with one OK button (questions left out).
inline QStringList warnings(const talkgate::ui::ScriptedDialogs& dialogs) {
  QStringList out;
  for (const auto& m : dialogs.messages) {
    if (m.buttons == talkgate::ui::Buttons::Ok) out << m.text;
  }
  return out;
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

inline const QString kNewImage = QString::fromStdString(demoImagePath("1.1.0"));

// "Update Firmware" in the main window, answered Yes: returns the upgrade window it opened,
// once its count check has found the loader and the newer image is chosen.
inline dorrin_usb_encoder::firmware_upgrade* openUpgradeWindow(Desk& desk,
                                                               dorrin_usb_encoder::Form1& w) {
  const auto before = Desk::upgradeWindows();
  w.btnLoadFirmware->click();
  dorrin_usb_encoder::firmware_upgrade* window = nullptr;
  for (auto* candidate : Desk::upgradeWindows()) {
    if (std::find(before.begin(), before.end(), candidate) == before.end()) window = candidate;
  }
  // An upgrade window still open takes the new upgrade instead of a second window.
  if (window == nullptr && Desk::upgradeWindows().size() == 1) {
    window = Desk::upgradeWindows().front();
  }
  if (window == nullptr) return nullptr;
  if (!QTest::qWaitFor(
          [&] { return window->btnBrowse->isEnabled() && window->btnUpgrade->isEnabled(); },
          kWaitMs)) {
    return nullptr;
  }
  desk.dialogs.fileAnswers << kNewImage;
  window->btnBrowse->click();
  return window;
}

inline bool allEnabled(const dorrin_usb_encoder::Form1& w, bool enabled) {
  for (QWidget* control : deviceControls(w)) {
    if (control->isEnabled() != enabled) return false;
  }
  return true;
}

}  // namespace scen
