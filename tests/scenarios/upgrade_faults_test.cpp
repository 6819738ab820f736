// Firmware upgrades started from the main window that go wrong: the loader leaves the bus in
// each phase, a bit flips in flash, the password is refused. Each scenario checks the log and
// messages, what the part holds afterwards, and that upgrading again brings the Talkgate back
// on the new firmware with its settings.

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>
#include <algorithm>

#include "firmware/ti_txt.h"
#include "tests/scenarios/scenario_desk.h"

using dorrin_usb_encoder::firmware_upgrade;
using dorrin_usb_encoder::Form1;
using scen::Desk;
using talkgate::sim::BslPhase;
using talkgate::ui::Answer;

Q_DECLARE_METATYPE(talkgate::sim::BslPhase)

namespace {

using scen::kNewImage;
using scen::openUpgradeWindow;

// Presses Upgrade and waits for the completion (reconnection included). -1: no completion.
int pressUpgrade(firmware_upgrade* window) {
  QSignalSpy done(window, &firmware_upgrade::upgradeCompleted);
  window->btnUpgrade->click();
  if (!QTest::qWaitFor([&] { return done.count() == 1; }, scen::kWaitMs)) return -1;
  return done.at(0).at(0).toBool() ? 1 : 0;
}

QString lastLine(const QString& log) {
  QStringList lines = log.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
  return lines.isEmpty() ? QString() : lines.last();
}

// True when flash holds every byte of the image.
bool flashHolds(talkgate::sim::SimBslDevice& loader, const std::string& imagePath) {
  talkgate::firmware::TiTxtImage image;
  talkgate::firmware::TiTxtError error;
  if (!talkgate::firmware::readTiTxtFile(imagePath, image, error)) return false;
  for (const auto& section : image.sections) {
    if (loader.readMemory(section.address, section.data.size()) != section.data) return false;
  }
  return true;
}

// The device the operator started from: firmware 1.0.4, keypad 1, brightness 5 and so on.
void checkBackOnNewFirmwareWithItsSettings(Desk& desk) {
  QVERIFY(desk.talkgate().pluggedIn());
  QVERIFY(!desk.loader().pluggedIn());
  const auto state = desk.talkgate().state();
  QCOMPARE(state.firmwareVersion, std::string("1.1.0"));
  QCOMPARE(state.serialNumber, std::string("TG123456"));
  const auto expected = scen::talkgateWorld().talkgate.working;
  QVERIFY(state.working == expected);
  QVERIFY(state.defaults == expected);
  QVERIFY(flashHolds(desk.loader(), scen::demoImagePath("1.1.0")));
}

}  // namespace

class UpgradeFaultsTest : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    firmware_upgrade::scanDeviceAgain = false;
    firmware_upgrade::setSettingsSnapshot(0, talkgate::KeyTable{}, QString(), 0, 0);
  }
  void loaderLeavingInEachPhaseIsRecoveredByUpgradingAgain_data();
  void loaderLeavingInEachPhaseIsRecoveredByUpgradingAgain();
  void flippedBitIsCaughtByTheVerificationAndTheNextRunFixesIt();
  void refusedPasswordMassErasesAndStillEndsWithAWorkingTalkgate();
  void talkgateLeavingDuringTheWriteBackIsRepairedFromTheConfigurationFile();
};

void UpgradeFaultsTest::loaderLeavingInEachPhaseIsRecoveredByUpgradingAgain_data() {
  QTest::addColumn<BslPhase>("phase");
  QTest::addColumn<bool>("upgraded");  // the run's own verdict
  QTest::addColumn<QString>("lastLogLine");
  QTest::addColumn<int>("bar");
  QTest::addColumn<QString>("poweredUpAs");  // what the part runs when power comes back
  const QString unplugged = QStringLiteral("USB device was unplugged!");
  const QString verifyError = QStringLiteral("Memory verification error");
  // Before the reset vector is erased the old firmware is intact and starts again.
  QTest::newRow("ROM password") << BslPhase::RomPassword << false << unplugged << 0 << "1.0.4";
  QTest::newRow("RAM loader data") << BslPhase::RamData << false << unplugged << 0 << "1.0.4";
  QTest::newRow("load PC") << BslPhase::LoadPc << false << unplugged << 0 << "1.0.4";
  QTest::newRow("RAM password") << BslPhase::RamPassword << false << unplugged << 0 << "1.0.4";
  QTest::newRow("version") << BslPhase::Version << false << unplugged << 0 << "1.0.4";
  // Gone on the reset vector erase itself: nothing was erased, and the run stops there.
  QTest::newRow("erase") << BslPhase::Erase << false
                         << QStringLiteral("The device keeps its old firmware: unplug it and plug "
                                           "it in again to start it.")
                         << 50 << "1.0.4";
  // Vector erased, image not complete: the part waits in its loader.
  QTest::newRow("program") << BslPhase::Program << false << verifyError << 85 << "loader";
  // Verification cut short: the reset vector's segment is still held back, so the part
  // starts its loader.
  QTest::newRow("CRC check") << BslPhase::CrcCheck << false << verifyError << 85 << "loader";
  // The reset request is lost with the loader; the image was verified.
  QTest::newRow("reset") << BslPhase::Reset << true << QStringLiteral("Done!") << 100 << "1.1.0";
}

void UpgradeFaultsTest::loaderLeavingInEachPhaseIsRecoveredByUpgradingAgain() {
  QFETCH(BslPhase, phase);
  QFETCH(bool, upgraded);
  QFETCH(QString, lastLogLine);
  QFETCH(int, bar);
  QFETCH(QString, poweredUpAs);
  Desk desk;
  Form1& w = desk.start();
  firmware_upgrade* window = openUpgradeWindow(desk, w);
  QVERIFY(window != nullptr);
  desk.loader().unplugInPhase(phase);
  QCOMPARE(pressUpgrade(window), upgraded ? 1 : 0);

  QCOMPARE(lastLine(window->statusLog()), lastLogLine);
  QCOMPARE(window->progressBar->value(), bar);
  QVERIFY(!desk.loader().pluggedIn());
  QCOMPARE(desk.loader().massErases(), 0);  // a vanished loader is not a refused password
  QVERIFY(!desk.talkgate().pluggedIn());
  QCOMPARE(desk.world.upgrades(), 0);
  if (upgraded) {
    // Verified and reset requested, but no Talkgate came back within the wait.
    QCOMPARE(scen::warnings(desk.dialogs), QStringList{"Velkor QDS not connected..\n"});
    QCOMPARE(desk.dialogs.messages.last().caption, QStringLiteral("Velkor QDS"));
  } else {
    // Failures are told in the log only; the count check then finds no loader.
    QVERIFY(scen::warnings(desk.dialogs).isEmpty());
    QTRY_COMPARE_WITH_TIMEOUT(window->labelNumOfDevices->text(),
                              QStringLiteral("No device connected"), scen::kWaitMs);
    QVERIFY(!window->btnUpgrade->isEnabled());
  }

  // Power comes back; whatever the part runs, it can be upgraded again.
  desk.dialogs.clear();
  desk.loader().clearFaults();
  desk.powerUp();
  if (poweredUpAs == QStringLiteral("loader")) {
    QVERIFY(!desk.talkgate().pluggedIn());
    QTRY_VERIFY_WITH_TIMEOUT(window->btnUpgrade->isEnabled(), scen::kWaitMs);
    QCOMPARE(window->labelNumOfDevices->text(), QStringLiteral("Found 1 device"));
    QCOMPARE(window->filenameTextBox->text(), kNewImage);
  } else {
    QVERIFY(desk.talkgate().pluggedIn());
    QCOMPARE(desk.talkgate().state().firmwareVersion, poweredUpAs.toStdString());
    // The operator scans and starts the upgrade again from the main window.
    w.button11->click();
    QVERIFY(desk.dialogs.messages.isEmpty());
    QVERIFY(dorrin_usb_encoder::configArray[0].endsWith(poweredUpAs));
    window = openUpgradeWindow(desk, w);
    QVERIFY(window != nullptr);
  }
  desk.dialogs.questionAnswers << Answer::Yes;  // load the previous settings
  QCOMPARE(pressUpgrade(window), 1);
  QCOMPARE(lastLine(window->statusLog()), QStringLiteral("Done!"));
  QVERIFY2(scen::warnings(desk.dialogs).isEmpty(),
           qPrintable(scen::warnings(desk.dialogs).join('|')));
  checkBackOnNewFirmwareWithItsSettings(desk);
  QCOMPARE(desk.world.upgrades(), 1);
}

void UpgradeFaultsTest::flippedBitIsCaughtByTheVerificationAndTheNextRunFixesIt() {
  constexpr std::uint32_t kFlippedAddress = 0x4410;
  Desk desk;
  Form1& w = desk.start();
  firmware_upgrade* window = openUpgradeWindow(desk, w);
  QVERIFY(window != nullptr);
  desk.loader().corruptWhenProgrammed(kFlippedAddress, 0x04);
  QCOMPARE(pressUpgrade(window), 0);

  QCOMPARE(lastLine(window->statusLog()), QStringLiteral("Memory verification error"));
  QVERIFY(!window->statusLog().contains(QStringLiteral("Memory successfully verified")));
  QCOMPARE(window->progressBar->value(), 85);
  QVERIFY(scen::warnings(desk.dialogs).isEmpty());
  // No reset was sent: the loader still waits, and the window is ready for another go.
  QVERIFY(desk.loader().pluggedIn());
  QVERIFY(!desk.talkgate().pluggedIn());
  QCOMPARE(desk.loader().resets(), 0);
  QVERIFY(!flashHolds(desk.loader(), scen::demoImagePath("1.1.0")));
  QTRY_VERIFY_WITH_TIMEOUT(window->btnUpgrade->isEnabled(), scen::kWaitMs);
  QCOMPARE(window->labelNumOfDevices->text(), QStringLiteral("Found 1 device"));

  desk.loader().clearFaults();
  desk.dialogs.questionAnswers << Answer::Yes;
  QCOMPARE(pressUpgrade(window), 1);
  QVERIFY(window->statusLog().contains(QStringLiteral("Memory successfully verified\r\n")));
  QVERIFY(scen::warnings(desk.dialogs).isEmpty());
  checkBackOnNewFirmwareWithItsSettings(desk);
}

void UpgradeFaultsTest::refusedPasswordMassErasesAndStillEndsWithAWorkingTalkgate() {
  Desk desk;
  Form1& w = desk.start();
  firmware_upgrade* window = openUpgradeWindow(desk, w);
  QVERIFY(window != nullptr);
  desk.loader().refuseNextPasswords(1);
  desk.dialogs.questionAnswers << Answer::Yes;
  QCOMPARE(pressUpgrade(window), 1);

  const QString log = window->statusLog();
  QVERIFY2(log.contains(QStringLiteral("Mass erase occured!\r\n")), qPrintable(log));
  QVERIFY(!log.contains(QStringLiteral("Erasing memory segments")));
  QVERIFY(!log.contains(QStringLiteral("Password FAILED")));
  QVERIFY(log.contains(QStringLiteral("Memory successfully verified\r\n")));
  QCOMPARE(desk.loader().massErases(), 1);
  QCOMPARE(desk.dialogs.messages.last().text,
           QStringLiteral("Do you want to load previous setting..\n"));
  QVERIFY(scen::warnings(desk.dialogs).isEmpty());
  checkBackOnNewFirmwareWithItsSettings(desk);

  // The main window finds the upgraded device at the next scan.
  w.button11->click();
  QVERIFY(scen::warnings(desk.dialogs).isEmpty());
  QVERIFY(dorrin_usb_encoder::configArray[0].endsWith(QStringLiteral("1.1.0")));
  QCOMPARE(w.keypadTypeCbox->displayText(), QStringLiteral("Customise Table"));
}

void UpgradeFaultsTest::talkgateLeavingDuringTheWriteBackIsRepairedFromTheConfigurationFile() {
  Desk desk;
  Form1& w = desk.start();
  w.button8->click();  // Save Changes: the device's settings are in the file too
  QVERIFY(desk.dialogs.messages.isEmpty());
  firmware_upgrade* window = openUpgradeWindow(desk, w);
  QVERIFY(window != nullptr);
  // The new firmware comes up and leaves again while its key table is being written.
  desk.talkgate().addFault({talkgate::sim::Fault::LeaveBus, 1, 0, talkgate::kCmdSetKeyTable, 1});
  desk.dialogs.questionAnswers << Answer::Yes;
  QCOMPARE(pressUpgrade(window), 1);

  QCOMPARE(scen::warnings(desk.dialogs), QStringList{"Unable to Load Table..\n"});
  QCOMPARE(desk.dialogs.messages.last().caption, QStringLiteral("Velkor QDS"));
  QVERIFY(!desk.talkgate().pluggedIn());
  const auto partly = desk.talkgate().state();
  QCOMPARE(partly.firmwareVersion, std::string("1.1.0"));
  QCOMPARE(partly.serialNumber, std::string("TG123456"));
  QCOMPARE(partly.working.keypadType, 1);  // written before the table
  QVERIFY(partly.working.keyTable == talkgate::sim::SimTalkgate::factoryState().working.keyTable);

  // Plugged in again: a scan and a restore from the file bring the settings back.
  desk.dialogs.clear();
  desk.powerUp();
  w.button11->click();
  w.button3->click();
  w.button8->click();
  QVERIFY2(desk.dialogs.messages.isEmpty(), qPrintable(desk.dialogs.texts().join('|')));
  checkBackOnNewFirmwareWithItsSettings(desk);
}

QTEST_MAIN(UpgradeFaultsTest)
#include "upgrade_faults_test.moc"
