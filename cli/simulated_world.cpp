#include "cli/simulated_world.h"

#include "cli/sim_fault.h"
#include "cli/talkgatectl.h"
#include "cli/text.h"
#include "config/atomic_file.h"
#include "files/regular_file.h"
#include "sim/state_json.h"
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
  if (stateFile) {
    statePath_ = *stateFile;
    for (const auto& talkgate : talkgates_) saved_.push_back(seen(*talkgate));
    lastSave_ = std::chrono::steady_clock::now();
    bus_.setWriteObserver([this] { keepUp(); });
  }
  return kExitOk;
}

SimulatedWorld::~SimulatedWorld() {
  bus_.setWriteObserver(nullptr);
}

SimulatedWorld::Seen SimulatedWorld::seen(sim::SimWorld& world) {
  Seen now;
  now.talkgate = world.talkgate().state();
  now.inLoader = world.inLoader();
  now.loaderOnBus = world.loader().pluggedIn();
  now.ramLoader = world.loader().ramLoaderRunning();
  now.erasures = world.loader().flashErasures();
  now.resets = world.loader().resets();
  now.reports = world.loader().reportsReceived();
  return now;
}

void SimulatedWorld::keepUp() {
  std::lock_guard lock(keepMutex_);
  bool changed = false;
  for (std::size_t i = 0; i < talkgates_.size(); ++i) {
    Seen now = seen(*talkgates_[i]);
    Seen sameFlash = now;
    sameFlash.reports = saved_[i].reports;
    if (!(sameFlash == saved_[i])) changed = true;
    if (now.reports != saved_[i].reports) programmed_ = true;
  }
  const auto now = std::chrono::steady_clock::now();
  if (!changed && !(programmed_ && now - lastSave_ >= kProgrammingSaveInterval)) return;
  std::string error;
  // Only a kill needs surviving here (the last save at the end also survives a power cut).
  // A failure shows again at that last save, which reports it.
  if (!write(statePath_, false, error)) return;
  for (std::size_t i = 0; i < talkgates_.size(); ++i) saved_[i] = seen(*talkgates_[i]);
  programmed_ = false;
  lastSave_ = now;
}

bool SimulatedWorld::save(const std::string& path, std::string& error) const {
  return write(path, true, error);
}

bool SimulatedWorld::write(const std::string& path, bool syncToDisk, std::string& error) const {
  std::vector<sim::WorldState> states;
  for (const auto& talkgate : talkgates_) states.push_back(talkgate->state());
  config::WriteOptions options;
  options.maxBytes = sim::state_file::kMaxStateFileBytes;
  options.syncToDisk = syncToDisk;
  return config::writeFileAtomically(path, sim::worldStatesJson(states), &error, options);
}

}  // namespace talkgate::cli
