// Ending the program through its own exit path ("Exit" button, menu, window manager) with
// other windows open: the self test puts the device's settings back before the device closes
// and the message loop ends; a running upgrade keeps everything open until it is over.

#include <QAction>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

#include "app/run_utility.h"
#include "devtest/self_test.h"
#include "tests/firmware_ui/upgrade_desk.h"
#include "tests/scenarios/scenario_desk.h"

using dorrin_usb_encoder::firmware_upgrade;
using dorrin_usb_encoder::Form1;
using scen::Desk;

namespace {

const QString kUpgradeRunning =
    QString::fromLatin1(firmware_upgrade::kUpgradeRunningText) + QLatin1Char('\n');

// Gives the bus back as the active port when the scope ends, whatever the test left there.
struct BusAsPort {
  explicit BusAsPort(Desk& desk) : desk(desk) {}
  ~BusAsPort() { talkgate::hid::setActivePort(&desk.bus); }
  Desk& desk;
};

}  // namespace

class ExitTest : public QObject {
  Q_OBJECT

 private slots:
  void exitWithSelfTestOpenPutsSettingsBackAndEndsTheLoop();
  void exitWhileUpgradingOnlySaysSoAndWorksOnceItIsOver();
};

void ExitTest::exitWithSelfTestOpenPutsSettingsBackAndEndsTheLoop() {
  Desk desk(scen::talkgateWorld(5, 0, 1));  // Customise Table, brightness 5
  // Only a loop that never ends lets this fire.
  bool stuck = false;
  QTimer watchdog;
  watchdog.setSingleShot(true);
  connect(&watchdog, &QTimer::timeout, [&stuck] {
    stuck = true;
    QApplication::exit(1);
  });
  QPointer<Form1> main;
  QPointer<QWidget> test;
  const int result = talkgate::app::runWindows([&](Form1& w) {
    main = &w;
    w.show();
    QTimer::singleShot(0, &w, [&] {
      w.button2->click();
      test = w.selfTestFrm;
      // The worker has put the device on its default table.
      if (!QTest::qWaitFor([&] { return desk.talkgate().state().working.keypadType == 0; },
                           scen::kWaitMs)) {
        return;  // the watchdog ends the loop
      }
      QTest::keyClick(test.data(), Qt::Key_F20);
      w.button10->click();
    });
    watchdog.start(scen::kWaitMs);
  });

  QVERIFY(!stuck);
  QCOMPARE(result, 0);
  QVERIFY(main.isNull());
  QVERIFY(test.isNull());
  QVERIFY(talkgate::hid_handle == nullptr);
  const auto state = desk.talkgate().state().working;
  QCOMPARE(int(state.keypadType), 1);
  QCOMPARE(int(state.symbolBrightness), 5);
  // LED on, then the restore; nothing after it.
  const auto codes = desk.commands();
  QVERIFY(codes.size() >= 3);
  QCOMPARE(std::vector<int>(codes.end() - 3, codes.end()),
           (std::vector<int>{talkgate::kCmdSetSymbolBrightness, talkgate::kCmdSetKeypadType,
                             talkgate::kCmdSetSymbolBrightness}));
  for (QWidget* top : QApplication::topLevelWidgets()) QVERIFY(!top->isVisible());
}

void ExitTest::exitWhileUpgradingOnlySaysSoAndWorksOnceItIsOver() {
  Desk desk;
  Form1& w = desk.start();
  firmware_upgrade* window = scen::openUpgradeWindow(desk, w);
  QVERIFY(window != nullptr);
  fwuitest::GatePort gate(desk.bus);
  BusAsPort busBack(desk);
  // Hold the programming worker at its first report to the loader.
  talkgate::hid::setActivePort(&gate);
  gate.arm();
  QSignalSpy exitSpy(&w, &Form1::exitRequested);
  QSignalSpy done(window, &firmware_upgrade::upgradeCompleted);
  window->btnUpgrade->click();
  QTRY_VERIFY_WITH_TIMEOUT(gate.reached(), scen::kWaitMs);
  const auto handleBefore = talkgate::hid_handle;
  QVERIFY(handleBefore != nullptr);
  desk.dialogs.clear();

  // Each way out only says why not, once per attempt.
  w.button10->click();
  w.exitAction->trigger();
  QVERIFY(!w.close());
  QCOMPARE(desk.dialogs.texts(), QStringList(3, kUpgradeRunning));
  QCOMPARE(desk.dialogs.messages[0].caption, QStringLiteral("Velkor Talkgate"));
  QCOMPARE(exitSpy.count(), 0);
  QCOMPARE(talkgate::hid_handle, handleBefore);
  QVERIFY(w.isVisible());
  QVERIFY(window->isVisible());

  gate.release(false);
  QTRY_COMPARE_WITH_TIMEOUT(done.count(), 1, scen::kWaitMs);
  QVERIFY(done.at(0).at(0).toBool());
  desk.dialogs.clear();
  QPointer<firmware_upgrade> upgrade = window;
  w.button10->click();
  QCOMPARE(exitSpy.count(), 1);
  QVERIFY(desk.dialogs.messages.isEmpty());
  QVERIFY(talkgate::hid_handle == nullptr);
  QVERIFY(upgrade.isNull() || !upgrade->isVisible());
}

QTEST_MAIN(ExitTest)
#include "exit_test.moc"
