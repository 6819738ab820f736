// talkgate-demo: the configuration utility on a simulated Talkgate, for trying it without the
// device. TALKGATE_DEMO_UNPLUGGED=1 starts with the simulated device unplugged.
// TALKGATE_SCREENSHOT=FILE.png (and TALKGATE_SCREENSHOT_ABOUT=FILE.png) save pictures of the
// main window (and an About window) once it has loaded, then end the program; message boxes are
// then printed instead of shown.

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QMenu>
#include <QMenuBar>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <optional>

#include "app/about.h"
#include "app/main_window.h"
#include "app/run_utility.h"
#include "device/transport.h"
#include "sim/sim_talkgate.h"
#include "sim/sim_world.h"
#include "sim/virtual_bus.h"
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

void addSimulatorMenu(Form1& window, talkgate::sim::SimTalkgate& talkgate) {
  QMenu* menu = window.menuStrip1->addMenu(QStringLiteral("Simulator"));
  QAction* unplug = menu->addAction(QStringLiteral("Unplug Talkgate"));
  QAction* plugIn = menu->addAction(QStringLiteral("Plug In Talkgate"));
  const auto update = [&talkgate, unplug, plugIn] {
    unplug->setEnabled(talkgate.pluggedIn());
    plugIn->setEnabled(!talkgate.pluggedIn());
  };
  QObject::connect(unplug, &QAction::triggered, &window, [&talkgate, update] {
    talkgate.unplug();
    update();
  });
  QObject::connect(plugIn, &QAction::triggered, &window, [&talkgate, update] {
    talkgate.plugIn();
    update();
  });
  QObject::connect(menu, &QMenu::aboutToShow, &window, update);
  update();
}

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

// The older demo image, so that "Update Firmware" has a newer one to offer.
std::string initialFirmwareImage() {
  QFile image(QString::fromStdString(talkgate::sim::demoImagesDir()) +
              QStringLiteral("/talkgate_fw_1.0.4.txt"));
  if (!image.open(QIODevice::ReadOnly)) return {};
  return image.readAll().toStdString();
}

}  // namespace

int main(int argc, char** argv) {
  talkgate::sim::VirtualBus bus;
  // The Talkgate with its bootstrap loader, so that a firmware upgrade runs end to end.
  talkgate::sim::SimWorldOptions options;
  options.initialImage = initialFirmwareImage();
  const bool unplugged = envSet("TALKGATE_DEMO_UNPLUGGED");
  options.plugIn = !unplugged;
  talkgate::sim::SimWorld world(bus, options);
  talkgate::sim::SimTalkgate& talkgate = world.talkgate();
  // The simulated Talkgate attaches itself when it is built; take it off again.
  if (unplugged) talkgate.unplug();
  talkgate::hid::setActivePort(&bus);

  const bool screenshots = envSet("TALKGATE_SCREENSHOT");
  PrintedDialogs printed;
  if (screenshots) talkgate::ui::setDialogs(&printed);

  const int result = talkgate::app::runUtility(argc, argv, [&](Form1& window) {
    addSimulatorMenu(window, talkgate);
    if (screenshots) scheduleScreenshots(window);
  });

  // The bus goes away with this function; nothing may stay open on it.
  if (talkgate::hid_handle != nullptr) {
    talkgate::hid_exit_safely(talkgate::hid_handle);
    talkgate::hid_handle = nullptr;
  }
  talkgate::ui::setDialogs(nullptr);
  talkgate::hid::setActivePort(nullptr);
  return result;
}
