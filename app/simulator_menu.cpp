#include "app/simulator_menu.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QTimer>
#include <memory>

#include "app/main_window.h"
#include "sim/sim_world.h"

namespace talkgate::app {

namespace {

// Late enough to fall inside the image of a demo upgrade, after the reset vector is erased.
constexpr int kFaultReport = 70;
constexpr int kStrikePollMs = 250;

struct FaultChoice {
  const char* text;
  sim::LoaderFault fault;
  int report;
};

constexpr FaultChoice kFaults[] = {
    {"Leave the Bus at Report 70", sim::LoaderFault::Unplug, kFaultReport},
    {"Refuse the Password", sim::LoaderFault::RefusePassword, 1},
    {"Corrupt One Written Byte", sim::LoaderFault::CorruptByte, 1},
    {"Stop Answering from Report 70", sim::LoaderFault::StopAnswering, kFaultReport},
};

}  // namespace

void addSimulatorMenu(dorrin_usb_encoder::Form1& window, sim::SimWorld& world) {
  QMenu* menu = window.menuStrip1->addMenu(QStringLiteral("Simulator"));
  QAction* unplug = menu->addAction(QStringLiteral("Unplug Talkgate"));
  QAction* plugIn = menu->addAction(QStringLiteral("Plug In Talkgate"));
  menu->addSeparator();
  QAction* unplugLoader = menu->addAction(QStringLiteral("Unplug Loader"));
  QAction* plugInLoader = menu->addAction(QStringLiteral("Plug In Loader"));
  menu->addSeparator();
  QMenu* faults = menu->addMenu(QStringLiteral("Fail Once in the Next Upgrade"));

  sim::SimTalkgate& talkgate = world.talkgate();
  sim::SimBslDevice& loader = world.loader();
  const auto update = [&talkgate, &loader, &world, unplug, plugIn, unplugLoader, plugInLoader] {
    unplug->setEnabled(talkgate.pluggedIn());
    // A part in its loader runs no Talkgate firmware until it has been programmed.
    plugIn->setEnabled(!talkgate.pluggedIn() && !world.inLoader());
    unplugLoader->setEnabled(loader.pluggedIn());
    // A loader shows up only on a part that is in it (after command 9 or an interrupted upgrade).
    plugInLoader->setEnabled(!loader.pluggedIn() && !talkgate.pluggedIn() && world.inLoader());
  };
  QObject::connect(unplug, &QAction::triggered, &window, [&talkgate, update] {
    talkgate.unplug();
    update();
  });
  QObject::connect(plugIn, &QAction::triggered, &window, [&talkgate, update] {
    talkgate.plugIn();
    update();
  });
  QObject::connect(unplugLoader, &QAction::triggered, &window, [&loader, update] {
    loader.unplug();
    update();
  });
  QObject::connect(plugInLoader, &QAction::triggered, &window, [&loader, update] {
    loader.plugIn();
    update();
  });
  // The armed fault stays in view (checked in the menu, named in the status bar) until the
  // loader has received the report it strikes at; a menu's hints cannot wipe it.
  auto* armedLabel = new QLabel(&window);
  armedLabel->setObjectName(QStringLiteral("armedFaultLabel"));
  window.statusStrip1->addPermanentWidget(armedLabel);
  auto* strikeWatch = new QTimer(&window);
  strikeWatch->setInterval(kStrikePollMs);
  auto strikesAt = std::make_shared<int>(0);
  QList<QAction*> faultActions;
  for (const FaultChoice& choice : kFaults) {
    QAction* action = faults->addAction(QString::fromLatin1(choice.text));
    action->setCheckable(true);
    faultActions << action;
  }
  const auto showArmed = [faultActions, armedLabel](QAction* armed) {
    for (QAction* action : faultActions) action->setChecked(action == armed);
    armedLabel->setText(armed != nullptr
                            ? QStringLiteral("Armed for the next upgrade: %1").arg(armed->text())
                            : QString());
  };
  for (qsizetype i = 0; i < faultActions.size(); ++i) {
    QAction* action = faultActions[i];
    const FaultChoice choice = kFaults[i];
    QObject::connect(action, &QAction::triggered, &window,
                     [&loader, choice, action, showArmed, strikeWatch, strikesAt] {
                       loader.failAtReport(choice.fault, choice.report);
                       *strikesAt = loader.reportsReceived() + choice.report;
                       showArmed(action);
                       strikeWatch->start();
                     });
  }
  QObject::connect(strikeWatch, &QTimer::timeout, &window,
                   [&loader, showArmed, strikeWatch, strikesAt] {
                     if (loader.reportsReceived() < *strikesAt) return;
                     strikeWatch->stop();
                     showArmed(nullptr);
                   });
  QObject::connect(menu, &QMenu::aboutToShow, &window, update);
  update();
}

}  // namespace talkgate::app
