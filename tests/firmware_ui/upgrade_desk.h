#pragma once
// A desk for upgrade window tests: the simulated Talkgate and its loader on a virtual bus, a
// manual clock that tells which sleeps the window thread took, scripted dialogs, a
// configuration file of the test's own, and a port that can hold the programming worker.

#include <QCoreApplication>
#include <QDir>
#include <QPointer>
#include <QTemporaryDir>
#include <condition_variable>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "config/utility_config.h"
#include "device/clock.h"
#include "device/commands.h"
#include "device/hid_port.h"
#include "device/transport.h"
#include "firmware/bsl430.h"
#include "firmware/firmware_upgrade.h"
#include "sim/sim_bsl_device.h"
#include "sim/sim_world.h"
#include "sim/virtual_bus.h"
#include "tests/device/forwarding_device.h"
#include "ui/scripted_dialogs.h"

namespace fwuitest {

using dorrin_usb_encoder::firmware_upgrade;

// A manual clock that also reports each sleep taken on the thread that created it.
class WindowThreadClock : public talkgate::ManualClock {
 public:
  void sleepFor(std::chrono::milliseconds duration) override {
    ManualClock::sleepFor(duration);
    if (std::this_thread::get_id() == windowThread_ && onWindowThreadSleep) {
      onWindowThreadSleep(duration);
    }
  }
  std::function<void(std::chrono::milliseconds)> onWindowThreadSleep;

 private:
  std::thread::id windowThread_ = std::this_thread::get_id();
};

// Forwards to another port. Once armed, the next report written blocks until released; after
// that every write fails when asked to, as if the device had gone.
class GatePort : public talkgate::hid::Port {
 public:
  explicit GatePort(talkgate::hid::Port& inner) : inner_(inner) {}
  ~GatePort() override { release(false); }

  void arm() {
    std::lock_guard lock(gate_->mutex);
    gate_->armed = true;
  }
  bool reached() const {
    std::lock_guard lock(gate_->mutex);
    return gate_->reached;
  }
  void release(bool failWrites) {
    {
      std::lock_guard lock(gate_->mutex);
      gate_->armed = false;
      gate_->failWrites = failWrites;
    }
    gate_->wake.notify_all();
  }

  int init() override { return inner_.init(); }
  std::vector<talkgate::hid::DeviceInfo> enumerate(std::uint16_t v, std::uint16_t p) override {
    return inner_.enumerate(v, p);
  }
  std::unique_ptr<talkgate::hid::Device> open(const std::string& path,
                                              talkgate::hid::OpenError* error) override {
    auto device = inner_.open(path, error);
    if (!device) return nullptr;
    return std::make_unique<GatedDevice>(std::move(device), gate_);
  }
  int exit() override { return inner_.exit(); }
  bool simulated() const override { return inner_.simulated(); }

 private:
  struct Gate {
    mutable std::mutex mutex;
    std::condition_variable wake;
    bool armed = false;
    bool reached = false;
    bool failWrites = false;
  };
  class GatedDevice : public talkgate::testing::ForwardingDevice {
   public:
    GatedDevice(std::unique_ptr<talkgate::hid::Device> inner, std::shared_ptr<Gate> gate)
        : ForwardingDevice(std::move(inner)), gate_(std::move(gate)) {}
    int write(const std::uint8_t* data, std::size_t length) override {
      {
        std::unique_lock lock(gate_->mutex);
        if (gate_->armed) {
          gate_->reached = true;
          gate_->wake.wait(lock, [this] { return !gate_->armed; });
        }
        if (gate_->failWrites) return -1;
      }
      return ForwardingDevice::write(data, length);
    }

   private:
    std::shared_ptr<Gate> gate_;
  };
  talkgate::hid::Port& inner_;
  std::shared_ptr<Gate> gate_ = std::make_shared<Gate>();
};

inline std::string demoImagePath(const std::string& version) {
  return talkgate::sim::demoImagesDir() + "/talkgate_fw_" + version + ".txt";
}

inline std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline talkgate::sim::SimWorldOptions worldRunning(const std::string& version) {
  talkgate::sim::SimWorldOptions options;
  options.initialImage = readFile(demoImagePath(version));
  return options;
}

struct Desk {
  explicit Desk(talkgate::sim::SimWorldOptions options = worldRunning("1.0.4"))
      : world(bus, std::move(options)) {
    talkgate::config::FileName.clear();
  }

  ~Desk() {
    gate.release(false);
    for (auto& window : windows) delete window.data();
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
    talkgate::hid::setActivePort(&bus);
    if (talkgate::hid_handle != nullptr) talkgate::hid_exit_safely(talkgate::hid_handle);
    talkgate::hid_handle = nullptr;
    talkgate::firmware::BSL_close_BSL();
    talkgate::firmware::BSL_closeTI_Text();
    talkgate::config::FileName.clear();
    talkgate::hid::setActivePort(nullptr);
  }
  Desk(const Desk&) = delete;
  Desk& operator=(const Desk&) = delete;

  // Creates and shows an upgrade window, as the main window does.
  firmware_upgrade* openWindow() {
    auto* window = new firmware_upgrade();
    windows.push_back(window);
    window->show();
    return window;
  }

  // The main window's part before the upgrade window opens: the Talkgate is open and has
  // been sent into its loader.
  void switchTalkgateToLoader() {
    char manufacturer[talkgate::kDeviceStringBuffer] = {};
    char product[talkgate::kDeviceStringBuffer] = {};
    talkgate::hid_handle = talkgate::ScanForUSBDevice_a(talkgate::kVendorId, talkgate::kProductId,
                                                        manufacturer, product);
    firmware_upgrade::openerTalkgateLocation =
        talkgate::configInterfaceLocation(talkgate::kVendorId, talkgate::kProductId);
    if (talkgate::hid_handle != nullptr) talkgate::enterLoader(talkgate::hid_handle);
    firmware_upgrade::openerStartedLoader = talkgate::hid_handle != nullptr;
  }

  // A further loader device on the bus.
  talkgate::sim::SimBslDevice& plugInExtraLoader() {
    extraLoaders.push_back(std::make_unique<talkgate::sim::SimBslDevice>(bus));
    extraLoaders.back()->plugIn();
    return *extraLoaders.back();
  }

  // A fresh configuration file, made the utility's.
  void useConfigFile() {
    configFolder = std::make_unique<QTemporaryDir>();
    const std::string path = QDir(configFolder->path()).filePath("cfg.ini").toStdString();
    talkgate::config::createConfigFile(path);
    talkgate::config::FileName = path;
  }

  // Command codes the Talkgate received, in order.
  std::vector<int> commands() const { return world.talkgate().commandCodes(); }

  WindowThreadClock clock;
  talkgate::ScopedClock scopedClock{clock};
  talkgate::sim::VirtualBus bus;
  GatePort gate{bus};
  struct PortSetter {
    explicit PortSetter(talkgate::hid::Port& port) { talkgate::hid::setActivePort(&port); }
  } portSetter{bus};
  mutable talkgate::sim::SimWorld world;
  std::vector<std::unique_ptr<talkgate::sim::SimBslDevice>> extraLoaders;
  talkgate::ui::ScriptedDialogs dialogs;
  talkgate::ui::ScopedDialogs scopedDialogs{dialogs};
  std::unique_ptr<QTemporaryDir> configFolder;
  std::vector<QPointer<firmware_upgrade>> windows;
};

// Window-wide values back to their start-up state.
inline void resetWindowWideValues() {
  firmware_upgrade::scanDeviceAgain = false;
  firmware_upgrade::numberOfUSBDevicesConnected = 0;
  firmware_upgrade::setSettingsSnapshot(0, talkgate::KeyTable{}, QString(), 0, 0);
  firmware_upgrade::key_codes = {};
  firmware_upgrade::snapshotTaken = false;
  firmware_upgrade::setNotificationFunctions({});
  firmware_upgrade::browseFolder.clear();
  firmware_upgrade::openerStartedLoader = false;
  firmware_upgrade::openerTalkgateLocation.clear();
}

}  // namespace fwuitest
