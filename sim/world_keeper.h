#pragma once
// Keeps a file of the simulated world up to date as the parts change, so that a program killed
// at any moment (in the middle of an upgrade, say) leaves the parts as real ones would be left.
// After every report the host writes it looks at each part: a part entering or leaving its
// loader, an erase, a reset or a changed setting is written before the next report; programming
// alone at most every kProgrammingInterval. Whoever keeps the file writes it.

#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "sim/sim_world.h"
#include "sim/virtual_bus.h"

namespace talkgate::sim {

class WorldKeeper {
 public:
  static constexpr std::chrono::milliseconds kProgrammingInterval{100};
  // Writes the world's text; false when it could not (the last write at the end reports it).
  using Writer = std::function<bool(const std::string& text)>;

  // Watches the parts on bus (which must outlive the keeper) from now on.
  WorldKeeper(VirtualBus& bus, std::vector<SimWorld*> parts, Writer writer);
  ~WorldKeeper();
  WorldKeeper(const WorldKeeper&) = delete;
  WorldKeeper& operator=(const WorldKeeper&) = delete;

  // The text of the whole world, as worldStatesJson makes it.
  std::string text() const;

 private:
  struct Seen {
    TalkgateState talkgate;
    bool inLoader = false;
    bool loaderOnBus = false;
    bool ramLoader = false;
    int erasures = 0;
    int resets = 0;
    bool operator==(const Seen&) const = default;
  };
  static Seen seen(SimWorld& part);
  void afterHostWrite();

  VirtualBus& bus_;
  std::vector<SimWorld*> parts_;
  Writer writer_;
  std::mutex mutex_;
  std::vector<Seen> written_;
  std::vector<int> reports_;  // loader reports at the last write
  bool programmed_ = false;   // a loader received reports since the last write
  std::chrono::steady_clock::time_point lastWrite_;
};

}  // namespace talkgate::sim
