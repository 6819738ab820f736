// Faults met through the main window: the Talkgate leaving the bus during a setting change and
// during a restore from the configuration file, and replies that are late, repeated, stale,
// refused or corrupt. Each scenario checks the message shown, what the window shows, what the
// device holds and that the configuration file is untouched.

#include <QPlainTextEdit>
#include <QPushButton>
#include <QtTest>

#include "config/config_ui.h"
#include "tests/scenarios/scenario_desk.h"

using dorrin_usb_encoder::Form1;
using scen::Desk;
using talkgate::sim::Fault;
using talkgate::sim::FaultPlan;
using talkgate::ui::Icon;

namespace {

const QString kBrightnessRefused = QStringLiteral("Unable to set the LED Brightness..\n");

FaultPlan faultOn(Fault fault, int command, int delayMs = 0) {
  FaultPlan plan;
  plan.fault = fault;
  plan.command = command;
  plan.delayMs = delayMs;
  return plan;
}

// Values the restore scenarios put into the configuration file; all differ from the device's.
const talkgate::KeyTable kFileTable{0, 30, 0, 31, 0xE1, 32, 0, 33, 0, 34, 0, 35};

void writeRestoreValues() {
  QVERIFY(talkgate::config::SetSettings("KeypadLayout", "1"));
  QVERIFY(talkgate::config::SetSettings("CodeTableValues",
                                        talkgate::config::formatCodeTable(kFileTable)));
  QVERIFY(talkgate::config::SetSettings("Ambient_cfg", "1"));
  QVERIFY(talkgate::config::SetSettings("LEDBrightness", "2"));
}

}  // namespace

class MainWindowFaultsTest : public QObject {
  Q_OBJECT

 private slots:
  void talkgateLeavingBeforeActingLeavesBothSidesOnTheOldValue();
  void talkgateLeavingAfterActingIsSeenAtTheNextScan();
  void talkgateLeavingDuringRestoreStopsAtThatStep_data();
  void talkgateLeavingDuringRestoreStopsAtThatStep();
  void talkgateLeavingAtTheRestoresStatusReadDisconnectsTheWindow();
  void badReplyToASettingChange_data();
  void badReplyToASettingChange();
  void lateReplyBeyondTheTimeoutIsDroppedBeforeTheNextRequest();
  void staleReplyIsAcceptedAndTheReplyBehindItDropped();
  void repeatedReplyIsDroppedBeforeTheNextStatusRead();
};

void MainWindowFaultsTest::talkgateLeavingBeforeActingLeavesBothSidesOnTheOldValue() {
  Desk desk;
  Form1& w = desk.start();
  QVERIFY(desk.dialogs.messages.isEmpty());
  desk.talkgate().addFault(faultOn(Fault::LeaveBus, talkgate::kCmdSetSymbolBrightness));
  Desk::choose(w.led2BrightnessJOCbox, 8);

  QCOMPARE(desk.dialogs.texts(), QStringList{kBrightnessRefused});
  QCOMPARE(desk.dialogs.messages[0].caption, QStringLiteral("Velkor Talkgate"));
  QCOMPARE(desk.dialogs.messages[0].icon, Icon::Warning);
  QCOMPARE(w.led2BrightnessJOCbox->displayText(), QStringLiteral("Symbol LED Brightness - 5"));
  QCOMPARE(w.prev_symbolBrightness_index, 5);
  QVERIFY(!desk.talkgate().pluggedIn());
  QCOMPARE(desk.talkgate().state().working.symbolBrightness, 5);
  // Nothing watches the device: the controls stay on until a request shows it is gone.
  QVERIFY(scen::allEnabled(w, true));

  // A further choice fails at once, with the same message and no wait.
  const auto sleptBefore = desk.clock.totalSlept();
  Desk::choose(w.led1BrightnessJOCbox, 1);
  QCOMPARE(desk.dialogs.texts(), QStringList({kBrightnessRefused, kBrightnessRefused}));
  QCOMPARE(w.led1BrightnessJOCbox->displayText(), QStringLiteral("Ambient Cfg - Disable"));
  QCOMPARE(desk.clock.totalSlept(), sleptBefore);

  // Plugged in again, a scan brings the window back without a message.
  desk.talkgate().plugIn();
  desk.dialogs.clear();
  w.button11->click();
  QVERIFY(desk.dialogs.messages.isEmpty());
  QVERIFY(scen::allEnabled(w, true));
  QCOMPARE(w.led2BrightnessJOCbox->displayText(), QStringLiteral("Symbol LED Brightness - 5"));
  Desk::choose(w.led2BrightnessJOCbox, 8);
  QVERIFY(desk.dialogs.messages.isEmpty());
  QCOMPARE(desk.talkgate().state().working.symbolBrightness, 8);
}

void MainWindowFaultsTest::talkgateLeavingAfterActingIsSeenAtTheNextScan() {
  Desk desk;
  Form1& w = desk.start();
  // The device takes the request and is gone before its reply is read.
  desk.talkgate().unplugAfterReports(1);
  Desk::choose(w.led2BrightnessJOCbox, 8);

  QCOMPARE(desk.dialogs.texts(), QStringList{kBrightnessRefused});
  QCOMPARE(w.led2BrightnessJOCbox->displayText(), QStringLiteral("Symbol LED Brightness - 5"));
  // The window cannot know: the device holds the new value while the list shows the old one.
  QCOMPARE(desk.talkgate().state().working.symbolBrightness, 8);
  QCOMPARE(desk.talkgate().state().defaults.symbolBrightness, 5);

  desk.talkgate().plugIn();
  desk.dialogs.clear();
  w.button11->click();
  QVERIFY(desk.dialogs.messages.isEmpty());
  QCOMPARE(w.led2BrightnessJOCbox->displayText(), QStringLiteral("Symbol LED Brightness - 8"));
  QCOMPARE(w.prev_symbolBrightness_index, 8);
}

void MainWindowFaultsTest::talkgateLeavingDuringRestoreStopsAtThatStep_data() {
  QTest::addColumn<int>("command");
  QTest::addColumn<QString>("message");
  QTest::addColumn<int>("stepsInForce");  // requests the device acted on before it left
  QTest::newRow("keypad type") << int(talkgate::kCmdSetKeypadType)
                               << "Unable to set Keypad Type..\n"
                               << 0;
  QTest::newRow("key table") << int(talkgate::kCmdSetKeyTable) << "Unable to Load Table..\n" << 1;
  QTest::newRow("ambient") << int(talkgate::kCmdSetAmbientConfig) << "Unable to set ambient cfg..\n"
                           << 2;
  QTest::newRow("brightness") << int(talkgate::kCmdSetSymbolBrightness)
                              << "Unable to set led brightness..\n"
                              << 3;
}

void MainWindowFaultsTest::talkgateLeavingDuringRestoreStopsAtThatStep() {
  QFETCH(int, command);
  QFETCH(QString, message);
  QFETCH(int, stepsInForce);
  Desk desk(scen::talkgateWorld(5, 0, 0));
  Form1& w = desk.start();
  writeRestoreValues();
  const std::string fileBefore = scen::readBytes(desk.configFile());
  const QString shown = w.richTextBox1->toPlainText();
  const auto before = desk.talkgate().state();
  desk.talkgate().clearRequests();
  desk.talkgate().addFault(faultOn(Fault::LeaveBus, command));
  w.button3->click();

  QCOMPARE(desk.dialogs.texts(), QStringList{message});
  QCOMPARE(desk.dialogs.messages[0].caption, QStringLiteral("Velkor QDS"));
  QCOMPARE(desk.commands().back(), command);  // nothing after the failed request
  // The window is left as it was; the file is untouched.
  QCOMPARE(w.richTextBox1->toPlainText(), shown);
  QCOMPARE(w.keypadTypeCbox->displayText(), QStringLiteral("Default Table"));
  QCOMPARE(w.led2BrightnessJOCbox->displayText(), QStringLiteral("Symbol LED Brightness - 5"));
  QVERIFY(scen::allEnabled(w, true));
  QCOMPARE(scen::readBytes(desk.configFile()), fileBefore);

  // The requests before the one that met the unplugging stay in force on the device.
  const auto after = desk.talkgate().state().working;
  QCOMPARE(after.keypadType, stepsInForce >= 1 ? 1 : 0);
  QVERIFY(after.keyTable == (stepsInForce >= 2 ? kFileTable : before.working.keyTable));
  QCOMPARE(after.ambientConfig, stepsInForce >= 3 ? 1 : 0);
  QCOMPARE(after.symbolBrightness, 5);
  QVERIFY(desk.talkgate().state().defaults == before.defaults);

  // Back on the bus, a scan and a second restore bring the file's settings over completely.
  desk.talkgate().plugIn();
  desk.dialogs.clear();
  w.button11->click();
  w.button3->click();
  QVERIFY2(desk.dialogs.messages.isEmpty(), qPrintable(desk.dialogs.texts().join('|')));
  const auto restored = desk.talkgate().state().working;
  QCOMPARE(restored.keypadType, 1);
  QVERIFY(restored.keyTable == kFileTable);
  QCOMPARE(restored.ambientConfig, 1);
  QCOMPARE(restored.symbolBrightness, 2);
  QCOMPARE(w.keypadTypeCbox->displayText(), QStringLiteral("Customise Table"));
  QCOMPARE(scen::readBytes(desk.configFile()), fileBefore);
}

void MainWindowFaultsTest::talkgateLeavingAtTheRestoresStatusReadDisconnectsTheWindow() {
  Desk desk(scen::talkgateWorld(5, 0, 0));
  Form1& w = desk.start();
  writeRestoreValues();
  const std::string fileBefore = scen::readBytes(desk.configFile());
  desk.talkgate().addFault(faultOn(Fault::LeaveBus, talkgate::kCmdStatus));
  w.button3->click();

  // No message of its own: the window shows it is no longer connected.
  QVERIFY(desk.dialogs.messages.isEmpty());
  QCOMPARE(w.keypadTypeCbox->displayText(), QStringLiteral("Keypad - Layout"));
  QCOMPARE(w.led1BrightnessJOCbox->displayText(), QStringLiteral("ZONE1 Brightness"));
  QCOMPARE(w.led2BrightnessJOCbox->displayText(), QStringLiteral("ZONE2 Brightness"));
  QVERIFY(dorrin_usb_encoder::configArray[0].contains(QStringLiteral("None")));
  QVERIFY(scen::allEnabled(w, false));
  QVERIFY(w.button11->isEnabled() && w.btnLoadFirmware->isEnabled() && w.button10->isEnabled());
  // All four requests had been accepted before the device left.
  const auto working = desk.talkgate().state().working;
  QCOMPARE(working.keypadType, 1);
  QVERIFY(working.keyTable == kFileTable);
  QCOMPARE(working.ambientConfig, 1);
  QCOMPARE(working.symbolBrightness, 2);
  QCOMPARE(scen::readBytes(desk.configFile()), fileBefore);
}

void MainWindowFaultsTest::badReplyToASettingChange_data() {
  QTest::addColumn<int>("fault");
  QTest::addColumn<int>("delayMs");
  QTest::addColumn<bool>("accepted");      // the window takes the choice
  QTest::addColumn<int>("deviceHolds");    // the device's brightness afterwards
  QTest::addColumn<int>("minimumWaitMs");  // time the window thread was held
  // The device refuses: nothing changes anywhere.
  QTest::newRow("refused") << int(Fault::Refuse) << 0 << false << 5 << 0;
  // Garbled replies: the device acted, but the window cannot trust the reply and keeps the
  // old value; the next status read shows the truth.
  QTest::newRow("bad checksum") << int(Fault::BadChecksum) << 0 << false << 8 << 0;
  QTest::newRow("bad size byte") << int(Fault::BadSizeByte) << 0 << false << 8 << 0;
  QTest::newRow("wrong length") << int(Fault::WrongLength) << 0 << false << 8 << 0;
  QTest::newRow("bad status byte") << int(Fault::BadStatusByte) << 0 << false << 8 << 0;
  QTest::newRow("missing ETX") << int(Fault::MissingEtx) << 0 << false << 8 << 0;
  QTest::newRow("no reply") << int(Fault::NoReply) << 0 << false << 5 << 5000;
  QTest::newRow("acknowledged first") << int(Fault::AckFirst) << 0 << true << 8 << 0;
  QTest::newRow("late within timeout") << int(Fault::LateReply) << 4990 << true << 8 << 4990;
  QTest::newRow("late at timeout") << int(Fault::LateReply) << 5000 << false << 8 << 5000;
}

void MainWindowFaultsTest::badReplyToASettingChange() {
  QFETCH(int, fault);
  QFETCH(int, delayMs);
  QFETCH(bool, accepted);
  QFETCH(int, deviceHolds);
  QFETCH(int, minimumWaitMs);
  Desk desk;
  Form1& w = desk.start();
  FaultPlan plan = faultOn(static_cast<Fault>(fault), talkgate::kCmdSetSymbolBrightness, delayMs);
  plan.count = 3;  // acknowledgements before the reply
  desk.talkgate().addFault(plan);
  const auto sleptBefore = desk.clock.totalSlept();
  Desk::choose(w.led2BrightnessJOCbox, 8);
  const auto waited = (desk.clock.totalSlept() - sleptBefore).count();

  QCOMPARE(desk.dialogs.texts(), accepted ? QStringList{} : QStringList{kBrightnessRefused});
  const int shown = accepted ? 8 : 5;
  QCOMPARE(w.led2BrightnessJOCbox->displayText(),
           QStringLiteral("Symbol LED Brightness - %1").arg(shown));
  QCOMPARE(w.prev_symbolBrightness_index, shown);
  QCOMPARE(desk.talkgate().state().working.symbolBrightness, deviceHolds);
  QVERIFY2(waited >= minimumWaitMs && waited <= minimumWaitMs + 10,
           qPrintable(QString::number(waited)));
  QVERIFY(desk.talkgate().pluggedIn());
  QVERIFY(scen::allEnabled(w, true));

  if (static_cast<Fault>(fault) == Fault::LateReply && !accepted) return;  // see the next case
  // One bad exchange leaves nothing behind: the next choice goes through cleanly.
  desk.dialogs.clear();
  Desk::choose(w.led2BrightnessJOCbox, 7);
  QVERIFY(desk.dialogs.messages.isEmpty());
  QCOMPARE(desk.talkgate().state().working.symbolBrightness, 7);
  QCOMPARE(w.prev_symbolBrightness_index, 7);
}

void MainWindowFaultsTest::lateReplyBeyondTheTimeoutIsDroppedBeforeTheNextRequest() {
  Desk desk;
  Form1& w = desk.start();
  desk.talkgate().addFault(faultOn(Fault::LateReply, talkgate::kCmdSetSymbolBrightness, 6000));
  Desk::choose(w.led2BrightnessJOCbox, 8);
  QCOMPARE(desk.dialogs.texts(), QStringList{kBrightnessRefused});
  QCOMPARE(w.prev_symbolBrightness_index, 5);

  // The late reply arrives while nothing waits for it; the next request drops it and gets its
  // own reply, and nothing is left behind for the scan after it.
  desk.clock.advance(std::chrono::milliseconds(1000));
  desk.dialogs.clear();
  Desk::choose(w.led1BrightnessJOCbox, 1);
  QVERIFY(desk.dialogs.messages.isEmpty());
  QCOMPARE(w.prev_ambient_cfg_index, 1);
  QCOMPARE(desk.talkgate().state().working.ambientConfig, 1);
  QCOMPARE(desk.talkgate().state().working.symbolBrightness, 8);
  w.button11->click();
  QVERIFY(desk.dialogs.messages.isEmpty());
  QCOMPARE(w.led2BrightnessJOCbox->displayText(), QStringLiteral("Symbol LED Brightness - 8"));
  QCOMPARE(w.led1BrightnessJOCbox->displayText(), QStringLiteral("Ambient Cfg - Enable"));
}

void MainWindowFaultsTest::staleReplyIsAcceptedAndTheReplyBehindItDropped() {
  Desk desk;
  Form1& w = desk.start();
  // The status reply of start-up comes again right after the brightness request, before its
  // own reply; the first valid frame is taken, so the request counts as accepted.
  desk.talkgate().addFault(faultOn(Fault::StaleReply, talkgate::kCmdSetSymbolBrightness));
  Desk::choose(w.led2BrightnessJOCbox, 8);
  QVERIFY(desk.dialogs.messages.isEmpty());
  QCOMPARE(w.prev_symbolBrightness_index, 8);
  QCOMPARE(desk.talkgate().state().working.symbolBrightness, 8);

  // Save Changes: the brightness reply left behind is dropped before the status read, so the
  // status read and the store get their own replies and the file is written.
  w.button8->click();
  QVERIFY(desk.dialogs.messages.isEmpty());
  QCOMPARE(desk.talkgate().state().defaults.symbolBrightness, 8);
  QCOMPARE(talkgate::config::GetSettings("LEDBrightness"), QStringLiteral("8"));
  QCOMPARE(talkgate::config::GetSettings("SerialNumber"), QStringLiteral("TG123456"));
}

void MainWindowFaultsTest::repeatedReplyIsDroppedBeforeTheNextStatusRead() {
  Desk desk;
  Form1& w = desk.start();
  desk.talkgate().addFault(faultOn(Fault::RepeatedReply, talkgate::kCmdSetKeypadType));
  Desk::choose(w.keypadTypeCbox, 0);
  QVERIFY(desk.dialogs.messages.isEmpty());
  QCOMPARE(w.prev_keypadType_index, 0);
  QVERIFY(dorrin_usb_encoder::configArray[1].endsWith(QStringLiteral("Default Table")));
  QCOMPARE(desk.talkgate().state().working.keypadType, 0);

  // The copy is dropped before the status read of "Update Firmware", which gets the status;
  // the operator is asked, and on No nothing more is sent.
  desk.dialogs.questionAnswers << talkgate::ui::Answer::No;
  desk.talkgate().clearRequests();
  w.btnLoadFirmware->click();
  QCOMPARE(desk.dialogs.texts(), QStringList({"Are you sure you want to upgrade the firmware?\n"}));
  QCOMPARE(desk.commands(), std::vector<int>{talkgate::kCmdStatus});
  QVERIFY(desk.talkgate().pluggedIn());
  QVERIFY(Desk::upgradeWindows().empty());
}

QTEST_MAIN(MainWindowFaultsTest)
#include "main_window_faults_test.moc"
