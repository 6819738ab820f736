#pragma once
// The simulated Talkgates of a --simulate run: one or more (--sim-devices), each with its
// bootstrap loader, on one virtual bus, loaded from and saved to the --sim-state file, which
// the run holds locked from start to end. The file follows the parts as they change, so a run
// killed at any moment leaves what real parts would hold then.

#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "cli/options.h"
#include "config/file_lock.h"
#include "sim/sim_world.h"
#include "sim/virtual_bus.h"

namespace talkgate::cli {

class SimulatedWorld {
 public:
  SimulatedWorld() = default;
  ~SimulatedWorld();
  SimulatedWorld(const SimulatedWorld&) = delete;
  SimulatedWorld& operator=(const SimulatedWorld&) = delete;

  // Builds the Talkgates the options ask for: those of the state file when there is one, as
  // many as --sim-devices says when given (new ones fresh from the factory), --sim-fault on
  // the first one's loader. Returns kExitOk, or the exit status with the reason in error:
  // kExitFailure when another run holds the state file, kExitBadInput for unusable options or
  // an unreadable state file.
  int build(const GlobalOptions& options, std::string& error);
  sim::VirtualBus& bus() { return bus_; }
  // The simulated Talkgates with their loaders, in bus order.
  const std::vector<std::unique_ptr<sim::SimWorld>>& talkgates() const { return talkgates_; }
  // Writes every Talkgate to path; false with the reason in error.
  bool save(const std::string& path, std::string& error) const;

  // Programming alone is kept at most this often; every other change (a part entering or
  // leaving its loader, an erase, a setting) is kept before the next report.
  static constexpr std::chrono::milliseconds kProgrammingSaveInterval{100};

 private:
  // What a part showed at the last save, to tell a change after each report.
  struct Seen {
    sim::TalkgateState talkgate;
    bool inLoader = false;
    bool loaderOnBus = false;
    bool ramLoader = false;
    int erasures = 0;
    int resets = 0;
    int reports = 0;
    bool operator==(const Seen&) const = default;
  };
  static Seen seen(sim::SimWorld& world);
  // After each report written: saves the world when a part changed (see above).
  void keepUp();
  bool write(const std::string& path, bool syncToDisk, std::string& error) const;

  std::string statePath_;
  std::mutex keepMutex_;
  std::vector<Seen> saved_;
  bool programmed_ = false;  // reports reached a loader since the last save
  std::chrono::steady_clock::time_point lastSave_{};

  // Held until the state is written back, so a run never loses another run's change.
  std::optional<config::FileLock> stateLock_;
  sim::VirtualBus bus_;  // outlives the devices on it
  std::vector<std::unique_ptr<sim::SimWorld>> talkgates_;
};

}  // namespace talkgate::cli
