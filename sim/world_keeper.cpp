#include "sim/world_keeper.h"

#include "sim/world_state.h"

namespace talkgate::sim {

WorldKeeper::WorldKeeper(VirtualBus& bus, std::vector<SimWorld*> parts, Writer writer)
    : bus_(bus),
      parts_(std::move(parts)),
      writer_(std::move(writer)),
      lastWrite_(std::chrono::steady_clock::now()) {
  for (SimWorld* part : parts_) {
    written_.push_back(seen(*part));
    reports_.push_back(part->loader().reportsReceived());
  }
  bus_.setWriteObserver([this] { afterHostWrite(); });
}

WorldKeeper::~WorldKeeper() {
  bus_.setWriteObserver(nullptr);
}

WorldKeeper::Seen WorldKeeper::seen(SimWorld& part) {
  Seen now;
  now.talkgate = part.talkgate().state();
  now.inLoader = part.inLoader();
  now.loaderOnBus = part.loader().pluggedIn();
  now.ramLoader = part.loader().ramLoaderRunning();
  now.erasures = part.loader().flashErasures();
  now.resets = part.loader().resets();
  return now;
}

std::string WorldKeeper::text() const {
  std::vector<WorldState> states;
  for (const SimWorld* part : parts_) states.push_back(part->state());
  return worldStatesJson(states);
}

void WorldKeeper::afterHostWrite() {
  std::lock_guard lock(mutex_);
  bool changed = false;
  std::vector<Seen> now;
  for (std::size_t i = 0; i < parts_.size(); ++i) {
    now.push_back(seen(*parts_[i]));
    changed = changed || !(now.back() == written_[i]);
    programmed_ = programmed_ || parts_[i]->loader().reportsReceived() != reports_[i];
  }
  const auto time = std::chrono::steady_clock::now();
  if (!changed && !(programmed_ && time - lastWrite_ >= kProgrammingInterval)) return;
  if (!writer_(text())) return;
  written_ = std::move(now);
  for (std::size_t i = 0; i < parts_.size(); ++i) {
    reports_[i] = parts_[i]->loader().reportsReceived();
  }
  programmed_ = false;
  lastWrite_ = time;
}

}  // namespace talkgate::sim
