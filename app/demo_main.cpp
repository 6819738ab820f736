// talkgate-demo: the configuration utility on a simulated Talkgate, for trying it without the
// device. --sim-state FILE loads the simulated world (the Talkgate, its loader and flash) from
// FILE at start and keeps it up to date as the part changes, as talkgatectl --simulate
// --sim-state does.
// TALKGATE_DEMO_UNPLUGGED=1 starts with the simulated device unplugged.
// TALKGATE_SCREENSHOT=FILE.png (and TALKGATE_SCREENSHOT_ABOUT=FILE.png) save pictures of the
// main window (and an About window) once it has loaded, then end the program; message boxes are
// then printed instead of shown.

#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "app/about.h"
#include "app/main_window.h"
#include "app/run_utility.h"
#include "app/simulator_menu.h"
#include "config/atomic_file.h"
#include "config/file_lock.h"
#include "device/transport.h"
#include "files/regular_file.h"
#include "firmware/firmware_upgrade.h"
#include "sim/sim_talkgate.h"
#include "sim/sim_world.h"
#include "sim/state_json.h"
#include "sim/virtual_bus.h"
#include "sim/world_keeper.h"
#include "sim/world_state.h"
#include "ui/dialogs.h"

namespace {

using dorrin_usb_encoder::Form1;

constexpr int kSettleMs = 300;

bool envSet(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' && std::string(value) != "0";
}

QString envText(const char* name) {
  return QString::fromLocal8Bit(std::getenv(name));
}

// Message boxes for unattended runs: printed, answered with OK or No.
class PrintedDialogs : public talkgate::ui::Dialogs {
 public:
  talkgate::ui::Answer message(QWidget*, const QString& text, const QString& caption,
                               talkgate::ui::Buttons buttons, talkgate::ui::Icon) override {
    std::fprintf(stderr, "[%s] %s", qPrintable(caption), qPrintable(text));
    return buttons == talkgate::ui::Buttons::YesNo ? talkgate::ui::Answer::No
                                                   : talkgate::ui::Answer::Ok;
  }
  QString openFile(QWidget*, const QString&, const QString&, const QString&) override { return {}; }
  QString chooseFolder(QWidget*, const QString&, const QString&) override { return {}; }
};

bool savePicture(QWidget& widget, const QString& path) {
  const bool saved = widget.grab().save(path);
  std::fprintf(stderr, "%s %s\n", saved ? "saved" : "could not save", qPrintable(path));
  return saved;
}

// Once the main window has loaded, saves the pictures asked for and ends the program.
void scheduleScreenshots(Form1& window) {
  const QString mainPath = envText("TALKGATE_SCREENSHOT");
  const QString aboutPath = envText("TALKGATE_SCREENSHOT_ABOUT");
  auto* poll = new QTimer(&window);
  QObject::connect(poll, &QTimer::timeout, &window, [&window, poll, mainPath, aboutPath] {
    if (!window.isVisible()) return;
    poll->stop();
    QTimer::singleShot(kSettleMs, &window, [&window, mainPath, aboutPath] {
      savePicture(window, mainPath);
      if (!aboutPath.isEmpty()) {
        window.showAbout();
        QTimer::singleShot(kSettleMs, &window, [aboutPath] {
          for (QWidget* top : QApplication::topLevelWidgets()) {
            if (auto* about = qobject_cast<dorrin_usb_encoder::about*>(top)) {
              savePicture(*about, aboutPath);
              break;
            }
          }
          QApplication::quit();
        });
      } else {
        QApplication::quit();
      }
    });
  });
  poll->start(kSettleMs);
}

constexpr int kExitBadInput = 2;

// Takes "--sim-state FILE" (or "--sim-state=FILE") out of the arguments Qt gets.
bool takeStateFile(int& argc, char** argv, std::optional<std::string>& file) {
  std::vector<char*> kept;
  for (int i = 0; i < argc; ++i) {
    if (std::strcmp(argv[i], "--sim-state") == 0) {
      if (i + 1 >= argc) return false;
      file = argv[++i];
    } else if (std::strncmp(argv[i], "--sim-state=", 12) == 0) {
      file = argv[i] + 12;
    } else {
      kept.push_back(argv[i]);
    }
  }
  if (file && file->empty()) return false;
  for (std::size_t i = 0; i < kept.size(); ++i) argv[i] = kept[i];
  argc = static_cast<int>(kept.size());
  argv[argc] = nullptr;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::optional<std::string> stateFile;
  if (!takeStateFile(argc, argv, stateFile)) {
    std::fprintf(stderr, "--sim-state needs a file name.\n");
    return kExitBadInput;
  }
  // The Talkgate with its bootstrap loader, so that a firmware upgrade runs end to end; by
  // default on firmware 1.0.4, so that "Update Firmware" has a newer demo image to offer.
  talkgate::sim::WorldState saved;
  std::string error;
  // Held until the world is written back at the end: a talkgatectl run on the same file waits
  // for it, and gives up after a few seconds, rather than having its change overwritten.
  std::optional<talkgate::config::FileLock> stateLock;
  if (stateFile) {
    stateLock.emplace(*stateFile);
    if (!stateLock->locked()) {
      std::fprintf(stderr, "Cannot read the simulated Talkgate from %s: %s.\n", stateFile->c_str(),
                   stateLock->busyReason().c_str());
      return 1;
    }
  }
  if (stateFile && talkgate::files::kindOf(*stateFile) != talkgate::files::FileKind::Missing &&
      !talkgate::sim::loadWorldState(*stateFile, saved, error)) {
    std::fprintf(stderr, "Cannot read the simulated Talkgate from %s: %s.\n", stateFile->c_str(),
                 error.c_str());
    return kExitBadInput;
  }
  talkgate::sim::VirtualBus bus;
  talkgate::sim::SimWorldOptions options = talkgate::sim::SimWorld::optionsFrom(saved);
  const bool unplugged = envSet("TALKGATE_DEMO_UNPLUGGED");
  options.plugIn = !unplugged;
  talkgate::sim::SimWorld world(bus, options);
  if (!world.flashProblem().empty()) {
    std::fprintf(stderr, "Cannot read the simulated Talkgate from %s: %s\n",
                 stateFile.value_or("").c_str(), world.flashProblem().c_str());
    return kExitBadInput;
  }
  // The file follows the part as it changes, so a demo killed in the middle of an upgrade
  // leaves the part as a real one would be left (only a kill needs surviving until the end).
  std::optional<talkgate::sim::WorldKeeper> keeper;
  if (stateFile) {
    talkgate::config::WriteOptions keepOptions;
    keepOptions.maxBytes = talkgate::sim::state_file::kMaxStateFileBytes;
    keepOptions.syncToDisk = false;
    keeper.emplace(bus, std::vector<talkgate::sim::SimWorld*>{&world},
                   [path = *stateFile, keepOptions](const std::string& text) {
                     return talkgate::config::writeFileAtomically(path, text, nullptr, keepOptions);
                   });
  }
  talkgate::sim::SimTalkgate& talkgate = world.talkgate();
  // The simulated Talkgate attaches itself when it is built; take it off again.
  if (unplugged) talkgate.unplug();
  talkgate::hid::setActivePort(&bus);
  // "Browse" in the upgrade window opens where the demo's images are.
  dorrin_usb_encoder::firmware_upgrade::browseFolder =
      QString::fromStdString(talkgate::sim::demoImagesDir());

  const bool screenshots = envSet("TALKGATE_SCREENSHOT");
  PrintedDialogs printed;
  if (screenshots) talkgate::ui::setDialogs(&printed);

  const int result = talkgate::app::runUtility(argc, argv, [&](Form1& window) {
    talkgate::app::addSimulatorMenu(window, world);
    if (screenshots) scheduleScreenshots(window);
  });

  // The bus goes away with this function; nothing may stay open on it.
  if (talkgate::hid_handle != nullptr) {
    talkgate::hid_exit_safely(talkgate::hid_handle);
    talkgate::hid_handle = nullptr;
  }
  talkgate::ui::setDialogs(nullptr);
  talkgate::hid::setActivePort(nullptr);
  keeper.reset();
  talkgate::config::WriteOptions saveOptions;
  saveOptions.maxBytes = talkgate::sim::state_file::kMaxStateFileBytes;
  if (stateFile &&
      !talkgate::config::writeFileAtomically(
          *stateFile, talkgate::sim::worldStateJson(world.state()), &error, saveOptions)) {
    std::fprintf(stderr, "Cannot save the simulated Talkgate to %s: %s.\n", stateFile->c_str(),
                 error.c_str());
    return result == 0 ? 1 : result;
  }
  return result;
}
