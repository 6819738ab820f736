#pragma once
// The simulated Talkgates of a --simulate run: one or more (--sim-devices), each with its
// bootstrap loader, on one virtual bus, loaded from and saved to the --sim-state file, which
// the run holds locked from start to end. The file follows the parts as they change, so a run
// killed at any moment leaves what real parts would hold then.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/options.h"
#include "config/file_lock.h"
#include "sim/sim_world.h"
#include "sim/virtual_bus.h"
#include "sim/world_keeper.h"

namespace talkgate::cli {

class SimulatedWorld {
 public:
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

 private:
  // Held until the state is written back, so a run never loses another run's change.
  std::optional<config::FileLock> stateLock_;
  sim::VirtualBus bus_;  // outlives the devices on it
  std::vector<std::unique_ptr<sim::SimWorld>> talkgates_;
  // Keeps the state file up to date as the parts change; gone before them.
  std::optional<sim::WorldKeeper> keeper_;
};

}  // namespace talkgate::cli
