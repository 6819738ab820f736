// The demo's Simulator menu: an armed loader fault stays in view until it strikes.

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QtTest>

#include "app/simulator_menu.h"
#include "sim/sim_world.h"
#include "tests/app/app_fixture.h"

class SimulatorMenuTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    QVERIFY(userFolder_.isValid());
    apptest::isolateUserFolder(userFolder_);
  }
  void armedFaultIsCheckedAndShownUntilItStrikes();

 private:
  QTemporaryDir userFolder_;
};

void SimulatorMenuTest::armedFaultIsCheckedAndShownUntilItStrikes() {
  apptest::Desk desk;
  dorrin_usb_encoder::Form1& w = desk.start();
  talkgate::sim::VirtualBus worldBus;
  talkgate::sim::SimWorld world(worldBus);
  talkgate::app::addSimulatorMenu(w, world);
  QMenu* faults = nullptr;
  for (QMenu* menu : w.menuStrip1->findChildren<QMenu*>()) {
    if (menu->title() == "Fail Once in the Next Upgrade") faults = menu;
  }
  QVERIFY(faults != nullptr);
  const QList<QAction*> choices = faults->actions();
  auto* shown = w.statusStrip1->findChild<QLabel*>("armedFaultLabel");
  QVERIFY(shown != nullptr);
  const auto checked = [&] {
    QStringList names;
    for (QAction* action : choices) {
      if (action->isChecked()) names << action->text();
    }
    return names;
  };

  choices[0]->trigger();  // leaves the bus at report 70
  choices[1]->trigger();  // replaced: the password is refused from the next report on
  QCOMPARE(checked(), QStringList{"Refuse the Password"});
  QCOMPARE(shown->text(), QString("Armed for the next upgrade: Refuse the Password"));
  // Hovering a menu entry shows its hint in the status bar; the armed fault stays in view.
  QStatusTipEvent hint(QString{});
  QCoreApplication::sendEvent(&w, &hint);
  QVERIFY(shown->isVisible());
  QCOMPARE(shown->text(), QString("Armed for the next upgrade: Refuse the Password"));

  // The report it strikes at reaches the loader: no longer armed.
  world.talkgate().unplug();
  world.loader().plugIn();
  auto loader = worldBus.open(world.loader().path(), nullptr);
  QVERIFY(loader != nullptr);
  std::uint8_t report[64] = {0x3F};
  QCOMPARE(loader->write(report, sizeof report), int(sizeof report));
  QTRY_VERIFY(shown->text().isEmpty());
  QVERIFY(checked().isEmpty());
}

QTEST_MAIN(SimulatorMenuTest)
#include "simulator_menu_test.moc"
