#include "sim/sim_world.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include "files/system_folders.h"
#include "files/utf8_path.h"

namespace talkgate::sim {
namespace {

SimWorldOptions onAPort(SimWorldOptions options) {
  if (options.location.empty()) options.location = newSimLocation();
  return options;
}

}  // namespace

SimWorld::SimWorld(VirtualBus& bus, SimWorldOptions options)
    : bus_(bus),
      options_(onAPort(std::move(options))),
      // One part on one USB port, whichever it runs: its firmware or its loader.
      talkgate_(bus, options_.talkgate, options_.location),
      loader_(bus, options_.flash, options_.location) {
  loader_.setTiming(options_.timing);
  if (!options_.initialImage.empty() &&
      !loader_.loadFlashImage(options_.initialImage, &flashProblem_)) {
    flashProblem_ = "flash: " + flashProblem_;
  } else if (!options_.initialImage.empty() && !options_.startInLoader) {
    if (auto version = SimBslDevice::firmwareVersionOf(loader_.memory(), options_.flash)) {
      TalkgateState state = talkgate_.state();
      state.firmwareVersion = *version;
      talkgate_.setState(state);
    }
  }
  talkgate_.setEnterLoaderHandler([this] {
    inLoader_ = true;
    const auto delay = options_.lateLoaderAfterSwitch ? options_.timing.romLoaderBack
                                                      : std::chrono::milliseconds(0);
    later(delay, [this] { loader_.plugIn(); });
  });
  loader_.setResetHandler([this](const BslMemory& memory) { onReset(memory); });
  if (options_.startInLoader) {
    inLoader_ = true;
    talkgate_.unplug();  // SimTalkgate attaches itself when built
    loader_.plugIn();
  } else if (!options_.plugIn) {
    talkgate_.unplug();  // SimTalkgate attaches itself when built
  }
}

SimWorld::~SimWorld() {
  talkgate_.setEnterLoaderHandler(nullptr);
  loader_.setResetHandler(nullptr);
  std::lock_guard lock(pendingMutex_);
  for (int id : pending_) bus_.cancel(id);
}

void SimWorld::later(std::chrono::milliseconds delay, std::function<void()> action) {
  if (delay.count() <= 0) {
    action();
    return;
  }
  const int id = bus_.after(delay, std::move(action));
  std::lock_guard lock(pendingMutex_);
  pending_.push_back(id);
}

int SimWorld::upgrades() const {
  return upgrades_.load();
}

bool SimWorld::inLoader() const {
  return inLoader_.load();
}

SimWorldOptions SimWorld::optionsFrom(const WorldState& state) {
  SimWorldOptions options;
  options.talkgate = state.talkgate;
  options.startInLoader = state.inLoader;
  options.initialImage =
      state.flash.empty() ? demoImageFor(state.talkgate.firmwareVersion) : state.flash;
  return options;
}

WorldState SimWorld::state() const {
  WorldState state;
  state.talkgate = talkgate_.state();
  state.inLoader = inLoader_.load();
  // Lines end in "\n" alone, as a state file gives them back.
  for (char c : loader_.flashImageText()) {
    if (c != '\r') state.flash += c;
  }
  return state;
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
  later(options_.timing.talkgateBack, [this] {
    ++upgrades_;
    inLoader_ = false;
    talkgate_.setLocation(loader_.location());  // the port it was last seen on
    talkgate_.plugIn();
  });
}

std::string demoImagesDir() {
  // An installed program has no source tree to read from (or, worse, a stale one).
  // Found relative to the program, as installed.
  std::error_code error;
  const std::string program = files::programFolder();
  if (!program.empty()) {
    const auto installed =
        files::pathFromUtf8(program) / ".." / "share" / "talkgate-utility" / "demo-images";
    if (std::filesystem::is_directory(installed, error)) {
      return files::utf8Of(installed.lexically_normal());
    }
  }
  return TALKGATE_SIM_IMAGES_DIR;
}

std::string demoImageFor(const std::string& version) {
  if (version.empty()) return {};
  for (char c : version) {
    const bool safe = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                      c == '.' || c == '-' || c == '_';
    if (!safe) return {};  // the version comes from a state file; it must not name a path
  }
  std::ifstream in(files::pathFromUtf8(demoImagesDir() + "/talkgate_fw_" + version + ".txt"),
                  std::ios::binary);
  if (!in) return {};
  return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace talkgate::sim
