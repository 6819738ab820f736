#include "cli/simulated_world.h"

#include "cli/sim_fault.h"
#include "cli/talkgatectl.h"
#include "cli/text.h"
#include "config/atomic_file.h"
#include "firmware/firmware_resources.h"
#include "files/regular_file.h"
#include "sim/state_json.h"
#include "sim/world_state.h"

namespace talkgate::cli {

namespace {

// Never more than the next run reads.
bool writeState(const std::string& path, const std::string& text, bool syncToDisk,
                std::string& error) {
  config::WriteOptions options;
  options.maxBytes = sim::state_file::kMaxStateFileBytes;
  options.syncToDisk = syncToDisk;
  return config::writeFileAtomically(path, text, &error, options);
}

}  // namespace

int SimulatedWorld::build(const GlobalOptions& options, std::string& error) {
  std::vector<SimFault> faults(options.simFaults.size());
  for (std::size_t i = 0; i < faults.size(); ++i) {
    if (!parseSimFault(options.simFaults[i], faults[i], error)) {
      error += ".";
      return kExitBadInput;
    }
  }
  const auto& stateFile = options.simStateFile;
  const std::string cannotRead =
      "Cannot read the simulated Talkgate from " + printablePath(stateFile.value_or("")) + ": ";
  std::vector<sim::WorldState> states{sim::fleetMember(0)};
  if (stateFile) {
    stateLock_.emplace(*stateFile);
    if (!stateLock_->locked()) {
      error = cannotRead + stateLock_->busyReason() + ".";
      return kExitFailure;
    }
    if (files::kindOf(*stateFile) != files::FileKind::Missing &&
        !sim::loadWorldStates(*stateFile, states, error)) {
      error = cannotRead + printablePath(error) + ".";
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
    sim::SimWorldOptions worldOptions = sim::SimWorld::optionsFrom(state);
    worldOptions.lateLoaderAfterSwitch = true;  // this tool polls the bus for the loader
    talkgates_.push_back(std::make_unique<sim::SimWorld>(bus_, std::move(worldOptions)));
    // A simulated part starts only our stand-in RAM loader, as a real one starts only its own.
    talkgates_.back()->loader().declareRamLoader(firmware::firmwareResources().ramBslText);
    if (const std::string& problem = talkgates_.back()->flashProblem(); !problem.empty()) {
      error = cannotRead + problem;
      return kExitBadInput;
    }
  }
  for (const SimFault& fault : faults) {
    talkgates_.front()->loader().failAtReport(fault.kind, fault.report);
  }
  if (stateFile) {
    std::vector<sim::SimWorld*> parts;
    for (const auto& talkgate : talkgates_) parts.push_back(talkgate.get());
    // Only a kill needs surviving here: the last save at the end also survives a power cut.
    keeper_.emplace(bus_, parts, [path = *stateFile](const std::string& text) {
      std::string ignored;
      return writeState(path, text, false, ignored);
    });
  }
  return kExitOk;
}

bool SimulatedWorld::save(const std::string& path, std::string& error) const {
  std::vector<sim::WorldState> states;
  for (const auto& talkgate : talkgates_) states.push_back(talkgate->state());
  return writeState(path, sim::worldStatesJson(states), true, error);
}

}  // namespace talkgate::cli
