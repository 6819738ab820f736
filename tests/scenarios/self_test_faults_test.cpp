// The Talkgate leaving the bus, or refusing, while the self test opened from the main window
// runs: the window always closes with its Close button, nothing hangs, and the device's stored
// defaults are never touched.

#include <QPushButton>
#include <QtTest>

#include "devtest/self_test.h"
#include "tests/scenarios/scenario_desk.h"

using dorrin_usb_encoder::Form1;
using dorrin_usb_encoder::self_test;
using scen::Desk;
using talkgate::sim::Fault;
using talkgate::sim::FaultPlan;

namespace {

FaultPlan faultOn(Fault fault, int command) {
  FaultPlan plan;
  plan.fault = fault;
  plan.command = command;
  return plan;
}

// Opens the test from the main window's "Test" button.
QPointer<self_test> openTest(Desk& desk, Form1& w) {
  desk.talkgate().clearRequests();
  w.button2->click();
  return qobject_cast<self_test*>(w.selfTestFrm.data());
}

// Waits until the worker has sent its keypad type request (whatever came of it).
bool workerSwitched(Desk& desk) {
  return QTest::qWaitFor(
      [&] {
        const auto requests = desk.talkgate().requests();
        for (const auto& r : requests) {
          if (r.command == talkgate::kCmdSetKeypadType) return true;
        }
        return false;
      },
      scen::kWaitMs);
}

bool closedWithItsButton(QPointer<self_test>& test) {
  auto* close = test->findChild<QPushButton*>(QStringLiteral("endBtn"));
  if (close == nullptr || !close->isEnabled()) return false;
  close->click();
  return QTest::qWaitFor([&] { return test.isNull(); }, scen::kWaitMs);
}

}  // namespace

class SelfTestFaultsTest : public QObject {
  Q_OBJECT

 private slots:
  void talkgateLeavingWhileTheTestRuns();
  void talkgateLeavingAtTheOpeningStatusRead();
  void talkgateLeavingAtTheSwitchToTheDefaultTable();
  void talkgateLeavingWhileSettingsArePutBack();
  void refusedSwitchIsNotReportedAndTheEndStillRestores();
};

void SelfTestFaultsTest::talkgateLeavingWhileTheTestRuns() {
  Desk desk;  // keypad type 1, brightness 5
  Form1& w = desk.start();
  QPointer<self_test> test = openTest(desk, w);
  QVERIFY(test);
  QVERIFY(workerSwitched(desk));
  QCOMPARE(desk.talkgate().state().working.keypadType, 0);

  desk.talkgate().unplug();
  QTest::keyClick(test.data(), Qt::Key_F20);
  QVERIFY(test->indicatorLit());  // the indicator follows the key, the LED request fails
  QVERIFY(closedWithItsButton(test));

  // LED and keypad type failures are not reported.
  QVERIFY2(desk.dialogs.messages.isEmpty(), qPrintable(desk.dialogs.texts().join('|')));
  // The device left while on the test table; what it stored as its defaults is untouched.
  const auto state = desk.talkgate().state();
  QCOMPARE(state.working.keypadType, 0);
  QCOMPARE(state.working.symbolBrightness, 5);
  QCOMPARE(state.defaults.keypadType, 1);
  QCOMPARE(state.defaults.symbolBrightness, 5);

  // The main window is still usable: a scan after plugging in shows the device as it is.
  desk.talkgate().plugIn();
  w.button11->click();
  QVERIFY(desk.dialogs.messages.isEmpty());
  QCOMPARE(w.keypadTypeCbox->displayText(), QStringLiteral("Default Table"));
}

void SelfTestFaultsTest::talkgateLeavingAtTheOpeningStatusRead() {
  Desk desk;
  Form1& w = desk.start();
  // The main window reads the status, then the test window reads the ambient value (the
  // device leaves on it) and its own status.
  desk.talkgate().addFault(faultOn(Fault::LeaveBus, talkgate::kCmdAmbientValue));
  QPointer<self_test> test = openTest(desk, w);
  QVERIFY(test);

  QCOMPARE(desk.dialogs.texts(), QStringList{"Device status message error..\n"});
  QCOMPARE(desk.dialogs.messages[0].caption, QStringLiteral("Velkor USB Encoder"));
  QCOMPARE(desk.dialogs.messages[0].icon, talkgate::ui::Icon::Warning);
  QVERIFY(!test->testRunning());
  QCOMPARE(desk.commands(), std::vector<int>({talkgate::kCmdStatus, talkgate::kCmdAmbientValue}));

  QVERIFY(closedWithItsButton(test));
  QCOMPARE(desk.dialogs.messages.size(), 1);
  QCOMPARE(desk.talkgate().state().working.keypadType, 1);
}

void SelfTestFaultsTest::talkgateLeavingAtTheSwitchToTheDefaultTable() {
  Desk desk;
  Form1& w = desk.start();
  desk.talkgate().addFault(faultOn(Fault::LeaveBus, talkgate::kCmdSetKeypadType));
  QPointer<self_test> test = openTest(desk, w);
  QVERIFY(test);
  QVERIFY(workerSwitched(desk));
  QTRY_VERIFY_WITH_TIMEOUT(!desk.talkgate().pluggedIn(), scen::kWaitMs);

  QVERIFY(closedWithItsButton(test));
  QVERIFY(desk.dialogs.messages.isEmpty());
  // The device never switched, and nothing was sent after it left.
  QCOMPARE(desk.talkgate().state().working.keypadType, 1);
  QCOMPARE(desk.commands().back(), int(talkgate::kCmdSetKeypadType));
}

void SelfTestFaultsTest::talkgateLeavingWhileSettingsArePutBack() {
  Desk desk;
  Form1& w = desk.start();
  QPointer<self_test> test = openTest(desk, w);
  QVERIFY(test);
  QVERIFY(workerSwitched(desk));
  // The next keypad type request is the one that puts the device's own type back.
  desk.talkgate().addFault(faultOn(Fault::LeaveBus, talkgate::kCmdSetKeypadType));

  QVERIFY(closedWithItsButton(test));
  QVERIFY(desk.dialogs.messages.isEmpty());
  const auto state = desk.talkgate().state();
  QCOMPARE(state.working.keypadType, 0);
  QCOMPARE(state.defaults.keypadType, 1);
  // Back on the bus, the window shows the table the device was left on, and the operator can
  // choose its own again.
  desk.talkgate().plugIn();
  w.button11->click();
  QVERIFY(desk.dialogs.messages.isEmpty());
  QCOMPARE(w.keypadTypeCbox->displayText(), QStringLiteral("Default Table"));
  Desk::choose(w.keypadTypeCbox, 1);
  QVERIFY(desk.dialogs.messages.isEmpty());
  QCOMPARE(desk.talkgate().state().working.keypadType, 1);
}

void SelfTestFaultsTest::refusedSwitchIsNotReportedAndTheEndStillRestores() {
  Desk desk(scen::talkgateWorld(3, 1, 1));
  Form1& w = desk.start();
  desk.talkgate().addFault(faultOn(Fault::Refuse, talkgate::kCmdSetKeypadType));
  QPointer<self_test> test = openTest(desk, w);
  QVERIFY(test);
  QVERIFY(workerSwitched(desk));
  QTest::keyClick(test.data(), Qt::Key_F20);
  QCOMPARE(desk.talkgate().state().working.symbolBrightness, 9);

  QVERIFY(closedWithItsButton(test));
  QVERIFY(desk.dialogs.messages.isEmpty());
  const auto working = desk.talkgate().state().working;
  QCOMPARE(working.keypadType, 1);
  QCOMPARE(working.symbolBrightness, 3);
  QCOMPARE(working.ambientConfig, 1);
  const auto requests = desk.talkgate().requests();
  QCOMPARE(requests.back().command, talkgate::kCmdSetSymbolBrightness);
  QCOMPARE(requests.back().payload, std::vector<std::uint8_t>{3});
}

QTEST_MAIN(SelfTestFaultsTest)
#include "self_test_faults_test.moc"
