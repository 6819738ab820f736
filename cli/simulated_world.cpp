#include "cli/simulated_world.h"

#include "cli/sim_fault.h"
#include "cli/talkgatectl.h"
#include "cli/text.h"
#include "config/atomic_file.h"
#include "files/regular_file.h"
#include "sim/world_state.h"

namespace talkgate::cli {

int SimulatedWorld::build(const GlobalOptions& options, std::string& error) {
  SimFault fault;
  if (options.simFault && !parseSimFault(*options.simFault, fault, error)) {
    error += ".";
    return kExitBadInput;
  }
  const auto& stateFile = options.simStateFile;
  const std::string cannotRead =
      "Cannot read the simulated Talkgate from " + printableBytes(stateFile.value_or("")) + ": ";
  std::vector<sim::WorldState> states{sim::fleetMember(0)};
  if (stateFile) {
    stateLock_.emplace(*stateFile);
    if (!stateLock_->locked()) {
      error = cannotRead + stateLock_->busyReason() + ".";
      return kExitFailure;
    }
    if (files::kindOf(*stateFile) != files::FileKind::Missing &&
        !sim::loadWorldStates(*stateFile, states, error)) {
      error = cannotRead + printableBytes(error) + ".";
      return kExitBadInput;
    }
  }
  if (options.simDevices) {
    for (std::size_t i = states.size(); i < *options.simDevices; ++i) {
      states.push_back(sim::fleetMember(i));
    }
    states.resize(*options.simDevices);
  }
  for (const auto& state : states) {
    talkgates_.push_back(std::make_unique<sim::SimWorld>(bus_, sim::SimWorld::optionsFrom(state)));
    if (const std::string& problem = talkgates_.back()->flashProblem(); !problem.empty()) {
      error = cannotRead + problem;
      return kExitBadInput;
    }
  }
  if (options.simFault) talkgates_.front()->loader().failAtReport(fault.kind, fault.report);
  return kExitOk;
}

bool SimulatedWorld::save(const std::string& path, std::string& error) const {
  std::vector<sim::WorldState> states;
  for (const auto& talkgate : talkgates_) states.push_back(talkgate->state());
  return config::writeFileAtomically(path, sim::worldStatesJson(states), &error);
}

}  // namespace talkgate::cli
