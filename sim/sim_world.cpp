#include "sim/sim_world.h"

#include <filesystem>
#include <system_error>

namespace talkgate::sim {

SimWorld::SimWorld(VirtualBus& bus, SimWorldOptions options)
    : bus_(bus),
      options_(std::move(options)),
      talkgate_(bus, options_.talkgate),
      loader_(bus, options_.flash) {
  if (!options_.initialImage.empty()) {
    loader_.loadFlashImage(options_.initialImage);
    if (auto version = SimBslDevice::firmwareVersionOf(loader_.memory(), options_.flash)) {
      TalkgateState state = talkgate_.state();
      state.firmwareVersion = *version;
      talkgate_.setState(state);
    }
  }
  talkgate_.setEnterLoaderHandler([this] { loader_.plugIn(); });
  loader_.setResetHandler([this](const BslMemory& memory) { onReset(memory); });
  if (options_.plugIn) talkgate_.plugIn();
}

SimWorld::~SimWorld() {
  talkgate_.setEnterLoaderHandler(nullptr);
  loader_.setResetHandler(nullptr);
}

int SimWorld::upgrades() const {
  return upgrades_.load();
}

void SimWorld::onReset(const BslMemory& memory) {
  // Firmware without our marker is not a Talkgate: nothing of ours shows up on the bus.
  const auto version = SimBslDevice::firmwareVersionOf(memory, options_.flash);
  if (!version) return;
  TalkgateState state = talkgate_.state();
  state.firmwareVersion = *version;
  if (!options_.keepSettingsOnUpgrade) {
    const TalkgateState factory = SimTalkgate::factoryState();
    state.working = factory.working;
    state.defaults = factory.defaults;
  }
  talkgate_.setState(state);
  ++upgrades_;
  talkgate_.plugIn();
}

std::string demoImagesDir() {
  // An installed program has no source tree to read from (or, worse, a stale one).
  std::error_code error;
  const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
  if (!error) {
    const auto installed = program.parent_path() / "../share/talkgate-utility/demo-images";
    if (std::filesystem::is_directory(installed, error)) {
      return installed.lexically_normal().string();
    }
  }
  return TALKGATE_SIM_IMAGES_DIR;
}

}  // namespace talkgate::sim
