#pragma once
// A simulated Talkgate and its bootstrap loader wired together on one virtual bus: command 9
// makes the Talkgate leave and its ROM loader appear; the loader's software reset makes the
// loader leave and the Talkgate come back running the image now in flash, with the firmware
// version that image announces ("TGFW:1.1.0"). The whole world can be kept in a file between
// runs (sim/world_state.h), a part waiting in its loader included.

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "sim/part_timing.h"
#include "sim/sim_bsl_device.h"
#include "sim/sim_talkgate.h"
#include "sim/virtual_bus.h"
#include "sim/world_state.h"

namespace talkgate::sim {

struct SimWorldOptions {
  // TI-TXT image in flash at start; its version (when it has one) becomes the Talkgate's.
  // Empty: blank flash, the Talkgate keeps the version of its state.
  std::string initialImage;
  TalkgateState talkgate{};
  BslMemoryMap flash{};
  // After an upgrade the Talkgate starts with factory settings (serial number kept) unless set.
  bool keepSettingsOnUpgrade = false;
  // How long the part takes for what it does (kInstantPart: at once): its loader keeps this
  // time, and the Talkgate comes back this long after the reset.
  PartTiming timing = kTypicalPart;
  // The loader also shows up only timing.romLoaderBack after command 9. Off by default: the
  // windows learn of the loader from a device notification, which the virtual bus gives only
  // when it is used, so only a host that polls for the loader (talkgatectl) can wait for it.
  bool lateLoaderAfterSwitch = false;
  // Plug the Talkgate in at construction.
  bool plugIn = true;
  // The USB port the part hangs on, as the Talkgate and as its loader; "": a port of its own.
  std::string location{};
  // The part starts in its ROM loader (an interrupted upgrade) instead of its firmware: the
  // loader is on the bus, the Talkgate is not, and its version stays that of the state.
  bool startInLoader = false;
};

class SimWorld {
 public:
  explicit SimWorld(VirtualBus& bus, SimWorldOptions options = {});
  ~SimWorld();
  SimWorld(const SimWorld&) = delete;
  SimWorld& operator=(const SimWorld&) = delete;

  SimTalkgate& talkgate() { return talkgate_; }
  SimBslDevice& loader() { return loader_; }
  // Times the Talkgate came back from its loader running new firmware.
  int upgrades() const;
  // True from command 9 (or a start in the loader) until the part runs firmware again.
  bool inLoader() const;
  // Why the flash image given at construction could not be loaded; empty when it was.
  const std::string& flashProblem() const { return flashProblem_; }

  // The options that rebuild a world kept in a file: its flash, or, for a file that did not
  // keep it, the demo image of the Talkgate's firmware version (blank flash when none).
  static SimWorldOptions optionsFrom(const WorldState& state);
  // The world as it is now, for keeping in a file.
  WorldState state() const;

 private:
  void onReset(const BslMemory& memory);
  // Runs action after delay on the bus (at once for zero); cancelled when the world goes.
  void later(std::chrono::milliseconds delay, std::function<void()> action);

  VirtualBus& bus_;
  SimWorldOptions options_;
  SimTalkgate talkgate_;
  SimBslDevice loader_;
  std::atomic<int> upgrades_{0};
  std::atomic<bool> inLoader_{false};
  std::string flashProblem_;
  std::mutex pendingMutex_;
  std::vector<int> pending_;  // ids of the bus actions set with later()
};

// Folder of the demo firmware images (talkgate_fw_1.0.4.txt, talkgate_fw_1.1.0.txt): the
// installed copy in ../share/talkgate-utility/demo-images beside the program when there is one,
// otherwise the source tree's.
std::string demoImagesDir();
// The text of the demo image that announces this firmware version; empty when there is none
// (or the version could name a path outside the folder).
std::string demoImageFor(const std::string& version);

}  // namespace talkgate::sim
