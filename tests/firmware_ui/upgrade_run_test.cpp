// Upgrades through the window on the simulated Talkgate: the log and the bar, the wait for the
// new firmware, reconnection, the serial number and the settings restore with its stops.

#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

#include "firmware/loader_images.h"
#include "tests/device/recording_port.h"
#include "tests/device/scripted_port.h"
#include "tests/firmware/loader_images_fixture.h"
#include "tests/firmware_ui/upgrade_desk.h"

using dorrin_usb_encoder::firmware_upgrade;
using fwuitest::Desk;
using talkgate::sim::Fault;
using talkgate::ui::Answer;
using talkgate::ui::Buttons;
using talkgate::ui::Icon;

namespace {

constexpr int kWaitMs = 30000;
const talkgate::KeyTable kSnapshotTable{0x00, 0x04, 0xE1, 0x05, 0x00, 0x06,
                                        0xE0, 0x07, 0x00, 0x08, 0x00, 0x09};

// The settings the main window hands over: all different from the factory values.
void setSnapshot(const QString& serial) {
  firmware_upgrade::setSettingsSnapshot(1, kSnapshotTable, serial, 7, 1);
}

std::vector<std::uint8_t> bytesOf(const std::string& text) {
  return {text.begin(), text.end()};
}

// Opens the window on a Talkgate in its loader, picks the image and presses Upgrade; returns
// once the programming completion has run.
struct Run {
  explicit Run(Desk& desk, const std::string& image = fwuitest::demoImagePath("1.1.0"))
      : desk(desk) {
    desk.switchTalkgateToLoader();
    window = desk.openWindow();
    QTRY_VERIFY_WITH_TIMEOUT(window->btnBrowse->isEnabled(), kWaitMs);
    desk.dialogs.fileAnswers << QString::fromStdString(image);
    window->btnBrowse->click();
    desk.world.talkgate().clearRequests();
  }

  // Presses Upgrade and waits for the completion; true when it reported an upgrade.
  bool upgrade() {
    QSignalSpy done(window, &firmware_upgrade::upgradeCompleted);
    window->btnUpgrade->click();
    if (!QTest::qWaitFor([&done] { return done.count() == 1; }, kWaitMs)) return false;
    return done.at(0).at(0).toBool();
  }

  Desk& desk;
  firmware_upgrade* window = nullptr;
};

// Messages other than the settings question.
QStringList warnings(const talkgate::ui::ScriptedDialogs& dialogs) {
  QStringList out;
  for (const auto& m : dialogs.messages) {
    if (m.buttons == Buttons::Ok) out << m.text;
  }
  return out;
}

}  // namespace

class UpgradeRunTest : public QObject {
  Q_OBJECT

 private slots:
  void init() { fwuitest::resetWindowWideValues(); }
  void cleanup() { fwuitest::resetWindowWideValues(); }

  void upgradeWithoutFileLogsAndChecksAgain();
  void upgradeOnHardwareWithoutLoaderImagesIsRefusedBeforeAnythingIsSent();
  void successfulUpgradeRestoresSerialNumberAndSettings();
  void waitForNewFirmwareIsOnTheWindowClockAndKeepsEventsFlowing_data();
  void waitForNewFirmwareIsOnTheWindowClockAndKeepsEventsFlowing();
  void serialNumberIsWrittenOnlyWithEightOrTwelveCharacters_data();
  void serialNumberIsWrittenOnlyWithEightOrTwelveCharacters();
  void answeringNoSendsNothingFurther();
  void noSnapshotEverReadLeavesTheNewSettings();
  void restoreStopsAtTheFirstFailure_data();
  void restoreStopsAtTheFirstFailure();
  void failedSerialNumberStopsBeforeTheQuestion();
  void talkgateNotBackIsReported();
  void failedVerificationChecksAgainWithoutReconnecting();
  void closeWhileProgrammingSaysSoOnceAndNoBoxStacks();
  void loaderThisProgramDidNotStartIsProgrammedOnlyAfterAYes();
  void loaderOnAnotherPortThanTheSwitchedTalkgateIsNotProgrammed();
};

void UpgradeRunTest::loaderThisProgramDidNotStartIsProgrammedOnlyAfterAYes() {
  Desk desk;
  desk.switchTalkgateToLoader();
  firmware_upgrade::openerStartedLoader = false;  // as if it had been waiting before
  firmware_upgrade* window = desk.openWindow();
  QTRY_VERIFY_WITH_TIMEOUT(window->btnBrowse->isEnabled(), kWaitMs);
  desk.dialogs.fileAnswers << QString::fromStdString(fwuitest::demoImagePath("1.1.0"));
  window->btnBrowse->click();
  const QString question = QString::fromLatin1(firmware_upgrade::kLoneLoaderQuestion) + "\n";

  desk.dialogs.questionAnswers << Answer::No;
  window->btnUpgrade->click();
  QCOMPARE(desk.dialogs.texts(), QStringList{question});
  QCOMPARE(desk.dialogs.messages[0].icon, Icon::Question);
  QVERIFY(!window->upgradeRunning() && window->btnUpgrade->isEnabled());
  QCOMPARE(desk.world.loader().reportsReceived(), 0);

  desk.dialogs.clear();
  desk.dialogs.questionAnswers << Answer::Yes << Answer::No;  // then no settings restore
  QSignalSpy done(window, &firmware_upgrade::upgradeCompleted);
  window->btnUpgrade->click();
  QTRY_COMPARE_WITH_TIMEOUT(done.count(), 1, kWaitMs);
  QVERIFY(done.at(0).at(0).toBool());
  QCOMPARE(desk.dialogs.texts().value(0), question);
}

void UpgradeRunTest::loaderOnAnotherPortThanTheSwitchedTalkgateIsNotProgrammed() {
  Desk desk;
  desk.world.loader().failAtReport(talkgate::sim::LoaderFault::OtherPort, 1);
  Run run(desk);
  QVERIFY(!run.upgrade());
  const std::string refusal =
      "The bootstrap loader on the bus hangs on USB port " + desk.world.loader().location() +
      ", not on " + firmware_upgrade::openerTalkgateLocation + " where the Talkgate was switched";
  QVERIFY2(run.window->statusLog().contains(QString::fromStdString(refusal)),
           qPrintable(run.window->statusLog()));
  QCOMPARE(desk.world.loader().reportsReceived(), 0);
}

void UpgradeRunTest::upgradeWithoutFileLogsAndChecksAgain() {
  Desk desk;
  desk.switchTalkgateToLoader();
  firmware_upgrade* window = desk.openWindow();
  QTRY_VERIFY_WITH_TIMEOUT(window->btnUpgrade->isEnabled(), kWaitMs);
  QTRY_VERIFY_WITH_TIMEOUT(!window->workerBusy(), kWaitMs);
  window->progressBar->setValue(40);

  QSignalSpy checked(window, &firmware_upgrade::countCheckCompleted);
  QSignalSpy done(window, &firmware_upgrade::upgradeCompleted);
  window->btnUpgrade->click();
  QVERIFY(!window->btnUpgrade->isEnabled());
  QCOMPARE(window->statusLog(), QStringLiteral("Starting\r\n"));
  QTRY_COMPARE_WITH_TIMEOUT(done.count(), 1, kWaitMs);
  QCOMPARE(done.at(0).at(0).toBool(), false);
  QCOMPARE(window->statusLog(), QStringLiteral("Starting\r\nNo file specified\r\n"));
  QCOMPARE(window->statusBox->toPlainText(), QStringLiteral("Starting\nNo file specified\n"));
  QCOMPARE(window->progressBar->value(), 0);

  QTRY_COMPARE_WITH_TIMEOUT(checked.count(), 1, kWaitMs);
  QVERIFY(window->btnUpgrade->isEnabled());
  QCOMPARE(window->labelNumOfDevices->text(), QStringLiteral("Found 1 device"));
  QVERIFY(desk.dialogs.messages.isEmpty());
  QVERIFY(desk.world.loader().commands().empty());
}

void UpgradeRunTest::upgradeOnHardwareWithoutLoaderImagesIsRefusedBeforeAnythingIsSent() {
  Desk desk;
  Run run(desk);
  QTRY_VERIFY_WITH_TIMEOUT(!run.window->workerBusy(), kWaitMs);
  talkgate::firmware::test::ScopedLoaderImageSources standard({"/nonexistent/loader"});
  talkgate::testing::RecordingPort hardware(desk.bus, true);
  talkgate::testing::ScopedPort onHardware(hardware);
  run.window->btnUpgrade->click();

  const QString text =
      QString::fromStdString(talkgate::firmware::loaderImagesRefusal(hardware, standard.sources()));
  QVERIFY(!text.isEmpty());
  QCOMPARE(warnings(desk.dialogs), QStringList({text + "\n"}));
  QCOMPARE(run.window->statusLog(), text + "\r\n");
  QVERIFY(!run.window->workerBusy() && run.window->btnUpgrade->isEnabled());
  QVERIFY(hardware.log->attempts.empty());
  QCOMPARE(desk.world.loader().reportsReceived(), 0);
}

void UpgradeRunTest::successfulUpgradeRestoresSerialNumberAndSettings() {
  Desk desk;
  desk.useConfigFile();
  setSnapshot("AB123456");
  firmware_upgrade::key_codes[20] = 0x55;  // beyond the table: never sent
  QCOMPARE(desk.world.talkgate().state().firmwareVersion, std::string("1.0.4"));
  Run run(desk);
  desk.dialogs.questionAnswers << Answer::Yes;
  QVERIFY(run.upgrade());
  firmware_upgrade* window = run.window;

  QCOMPARE(window->progressBar->value(), 100);
  const QString path = QString::fromStdString(fwuitest::demoImagePath("1.1.0"));
  const QStringList lines = {"Starting\r\n",
                             "Password Sent Successfully\r\n",
                             "Sending RAM BSL v00.06.05.34\r\n",
                             "Done RAM BSL v00.06.05.34\r\n",
                             "Erasing memory segments \r\n",
                             "Sending " + path + "\r\n",
                             "Firmware Sent\r\n",
                             "Verifying memory\r\n",
                             "Memory successfully verified\r\n",
                             "Total programming time is ",
                             "Resetting Device...\r\nStarting application\r\n",
                             "Done!"};
  const QString log = window->statusLog();
  QVERIFY2(log.startsWith(lines.first()), qPrintable(log));
  QVERIFY2(log.endsWith(lines.last()), qPrintable(log));
  qsizetype from = 0;
  for (const QString& line : lines) {
    const qsizetype at = log.indexOf(line, from);
    QVERIFY2(at >= 0, qPrintable("missing or out of order: " + line + "\nlog:\n" + log));
    from = at + line.size();
  }
  QCOMPARE(window->statusBox->toPlainText(), QString(log).replace("\r\n", "\n"));

  // The Talkgate is back on the new firmware, reachable through the shared handle.
  QCOMPARE(desk.world.upgrades(), 1);
  QVERIFY(talkgate::hid_handle != nullptr);
  talkgate::DeviceStatus status;
  QCOMPARE(talkgate::readStatus(talkgate::hid_handle, status), talkgate::kOk);
  QCOMPARE(status.firmwareVersion, std::string("1.1.0"));
  QCOMPARE(status.serialNumber, std::string("AB123456"));

  // Serial number, then the five settings requests in order.
  const auto requests = desk.world.talkgate().requests();
  QCOMPARE(desk.commands(), (std::vector<int>{10, 11, 6, 3, 4, 7, 1}));
  QCOMPARE(requests[0].payload, bytesOf("AB123456"));
  QCOMPARE(requests[1].payload, (std::vector<std::uint8_t>{1}));
  QCOMPARE(requests[2].payload,
           std::vector<std::uint8_t>(kSnapshotTable.begin(), kSnapshotTable.end()));
  QCOMPARE(requests[3].payload, (std::vector<std::uint8_t>{7}));
  QCOMPARE(requests[4].payload, (std::vector<std::uint8_t>{1}));
  QVERIFY(requests[5].payload.empty());
  const auto state = desk.world.talkgate().state();
  QCOMPARE(state.working.keypadType, std::uint8_t{1});
  QCOMPARE(state.working.symbolBrightness, std::uint8_t{7});
  QCOMPARE(state.working.ambientConfig, std::uint8_t{1});
  QVERIFY(state.working.keyTable == kSnapshotTable);
  QVERIFY(state.defaults == state.working);

  QCOMPARE(desk.dialogs.messages.size(), 1);
  QCOMPARE(desk.dialogs.messages[0].text,
           QStringLiteral("Do you want to load previous setting..\n"));
  QCOMPARE(desk.dialogs.messages[0].caption, QStringLiteral("Velkor QDS"));
  QCOMPARE(desk.dialogs.messages[0].buttons, Buttons::YesNo);
  QCOMPARE(desk.dialogs.messages[0].icon, Icon::Warning);

  // The loader left during the upgrade; the count follows once the upgrade is through, and
  // Upgrade stays off.
  QTRY_COMPARE_WITH_TIMEOUT(window->labelNumOfDevices->text(),
                            QStringLiteral("No device connected"), kWaitMs);
  QVERIFY(!window->btnUpgrade->isEnabled());
  QVERIFY(!firmware_upgrade::scanDeviceAgain);

  // TALKGATE_UPGRADE_SCREENSHOT=FILE.png keeps a picture of the window as it now stands.
  const QString screenshot = qEnvironmentVariable("TALKGATE_UPGRADE_SCREENSHOT");
  if (!screenshot.isEmpty()) QVERIFY(window->grab().save(screenshot));
}

void UpgradeRunTest::waitForNewFirmwareIsOnTheWindowClockAndKeepsEventsFlowing_data() {
  QTest::addColumn<int>("ramLoaderBackMs");
  QTest::addColumn<int>("talkgateBackMs");
  QTest::addColumn<bool>("found");
  const int typical = static_cast<int>(talkgate::sim::kTypicalPart.talkgateBack.count());
  const int worst = static_cast<int>(talkgate::sim::kWorstPart.talkgateBack.count());
  QTest::newRow("typical part") << 600 << typical << true;
  QTest::newRow("worst part") << 1000 << worst << true;
  // Slower than the three fixed seconds the upgrade used to wait after starting the RAM loader.
  QTest::newRow("RAM loader after 3.5 s") << 3500 << typical << true;
  QTest::newRow("Talkgate after 5.9 s") << 600 << 5900 << true;
  QTest::newRow("Talkgate after the 6 s bound") << 600 << 6500 << false;
}

void UpgradeRunTest::waitForNewFirmwareIsOnTheWindowClockAndKeepsEventsFlowing() {
  QFETCH(int, ramLoaderBackMs);
  QFETCH(int, talkgateBackMs);
  QFETCH(bool, found);
  auto options = fwuitest::worldRunning("1.0.4");
  options.timing = talkgate::sim::kTypicalPart;
  options.timing.ramLoaderBack = std::chrono::milliseconds(ramLoaderBackMs);
  options.timing.talkgateBack = std::chrono::milliseconds(talkgateBackMs);
  Desk desk(options);
  setSnapshot("AB123456");
  Run run(desk);
  desk.dialogs.questionAnswers << Answer::No;

  // Sleeps of the window thread before the Talkgate hears anything belong to the wait.
  long long waitedMs = 0;
  int slices = 0;
  bool longSlice = false;
  long long waitedWhenEventRan = -1;
  desk.clock.onWindowThreadSleep = [&](std::chrono::milliseconds duration) {
    if (!desk.world.talkgate().requests().empty()) return;
    if (slices++ == 0) {
      QMetaObject::invokeMethod(
          run.window, [&] { waitedWhenEventRan = waitedMs; }, Qt::QueuedConnection);
    }
    waitedMs += duration.count();
    longSlice = longSlice || duration.count() > firmware_upgrade::kPaintSliceMs;
  };
  QVERIFY(run.upgrade());
  desk.clock.onWindowThreadSleep = nullptr;

  // The wait ends at the first look that finds the Talkgate back, never later than 6 s.
  const long long expected = found ? talkgateBackMs : firmware_upgrade::kRebootWaitMs;
  QVERIFY2(waitedMs > expected - firmware_upgrade::kPaintSliceMs &&
               waitedMs <= expected + (found ? firmware_upgrade::kPaintSliceMs : 0),
           qPrintable(QString::number(waitedMs)));
  QVERIFY(!longSlice);
  QVERIFY(slices >= waitedMs / firmware_upgrade::kPaintSliceMs);
  // An event posted at the start of the wait ran during it, not after.
  QVERIFY(waitedWhenEventRan >= 0);
  QVERIFY(waitedWhenEventRan < waitedMs);
  if (found) {
    QCOMPARE(desk.commands(), (std::vector<int>{10}));
  } else {
    QVERIFY(desk.commands().empty());
    QCOMPARE(warnings(desk.dialogs), QStringList{QStringLiteral("Velkor QDS not connected..\n")});
  }
}

void UpgradeRunTest::serialNumberIsWrittenOnlyWithEightOrTwelveCharacters_data() {
  QTest::addColumn<QString>("serial");
  QTest::addColumn<bool>("written");
  QTest::newRow("empty") << QString() << false;
  QTest::newRow("7") << QStringLiteral("ABC1234") << false;
  QTest::newRow("8") << QStringLiteral("ABC12345") << true;
  QTest::newRow("10") << QStringLiteral("ABCDE12345") << false;
  QTest::newRow("12") << QStringLiteral("ABCDEF123456") << true;
}

void UpgradeRunTest::serialNumberIsWrittenOnlyWithEightOrTwelveCharacters() {
  QFETCH(QString, serial);
  QFETCH(bool, written);
  Desk desk;
  setSnapshot(serial);
  Run run(desk);
  desk.dialogs.questionAnswers << Answer::No;
  QVERIFY(run.upgrade());

  QCOMPARE(desk.commands(), written ? std::vector<int>{10} : std::vector<int>{});
  const std::string kept = desk.world.talkgate().state().serialNumber;
  QCOMPARE(kept, written ? serial.toStdString() : std::string("TG260001"));
  // The settings question is asked either way.
  QCOMPARE(desk.dialogs.texts(), QStringList{"Do you want to load previous setting..\n"});
}

void UpgradeRunTest::answeringNoSendsNothingFurther() {
  Desk desk;
  setSnapshot("AB123456");
  Run run(desk);
  desk.dialogs.questionAnswers << Answer::No;
  QVERIFY(run.upgrade());

  QCOMPARE(desk.commands(), (std::vector<int>{10}));
  // The new firmware's own start-up settings stay.
  const auto state = desk.world.talkgate().state();
  QVERIFY(state.working == talkgate::sim::SimTalkgate::factoryState().working);
  QCOMPARE(state.firmwareVersion, std::string("1.1.0"));
  QCOMPARE(desk.dialogs.messages.size(), 1);
}

void UpgradeRunTest::noSnapshotEverReadLeavesTheNewSettings() {
  // The main window could not read the status before the upgrade: writing the empty snapshot
  // back would zero the key table and store it as the device's defaults.
  Desk desk;
  Run run(desk);
  QVERIFY(run.upgrade());

  QCOMPARE(desk.commands(), std::vector<int>{});
  QVERIFY(desk.dialogs.messages.isEmpty());
  // On a line of its own after "Done!".
  QVERIFY(run.window->statusLog().endsWith(
      "Done!\r\nNo earlier settings to load: the device keeps its new ones\r\n"));
  const auto state = desk.world.talkgate().state();
  QVERIFY(state.working == talkgate::sim::SimTalkgate::factoryState().working);
  QVERIFY(state.defaults == talkgate::sim::SimTalkgate::factoryState().defaults);
}

void UpgradeRunTest::restoreStopsAtTheFirstFailure_data() {
  QTest::addColumn<int>("failing");
  QTest::addColumn<QString>("message");
  QTest::addColumn<std::vector<int>>("sent");
  QTest::newRow("keypad type") << 11 << "Unable to set Keypad Type..\n" << std::vector<int>{10, 11};
  QTest::newRow("key table") << 6 << "Unable to Load Table..\n" << std::vector<int>{10, 11, 6};
  QTest::newRow("brightness") << 3 << "Unable to set LED Brightness..\n"
                              << std::vector<int>{10, 11, 6, 3};
  QTest::newRow("ambient") << 4 << "Unable to set ambient cfgs..\n"
                           << std::vector<int>{10, 11, 6, 3, 4};
  QTest::newRow("store") << 7 << "Unable to Write Default..\n"
                         << std::vector<int>{10, 11, 6, 3, 4, 7};
}

void UpgradeRunTest::restoreStopsAtTheFirstFailure() {
  QFETCH(int, failing);
  QFETCH(QString, message);
  QFETCH(std::vector<int>, sent);
  Desk desk;
  setSnapshot("AB123456");
  Run run(desk);
  desk.world.talkgate().addFault({Fault::Refuse, 1, 0, failing, 1});
  desk.dialogs.questionAnswers << Answer::Yes;
  QVERIFY(run.upgrade());

  QCOMPARE(desk.commands(), sent);
  QCOMPARE(warnings(desk.dialogs), QStringList{message});
  QCOMPARE(desk.dialogs.messages.last().caption, QStringLiteral("Velkor QDS"));
  QCOMPARE(desk.dialogs.messages.last().icon, Icon::Warning);
}

void UpgradeRunTest::failedSerialNumberStopsBeforeTheQuestion() {
  Desk desk;
  setSnapshot("ABCDEF123456");
  Run run(desk);
  desk.world.talkgate().addFault({Fault::Refuse, 1, 0, 10, 1});
  QVERIFY(run.upgrade());

  QCOMPARE(desk.commands(), (std::vector<int>{10}));
  QCOMPARE(desk.dialogs.texts(), QStringList{"Unable to set SerialNumber..\n"});
  QCOMPARE(desk.dialogs.messages[0].caption, QStringLiteral("Velkor QDS"));
}

void UpgradeRunTest::talkgateNotBackIsReported() {
  Desk desk;
  setSnapshot("AB123456");
  // The part resets but the Talkgate does not show up again.
  desk.world.loader().setResetHandler([](const talkgate::sim::BslMemory&) {});
  Run run(desk);
  QVERIFY(run.upgrade());

  QVERIFY(talkgate::hid_handle == nullptr);
  QCOMPARE(desk.dialogs.texts(), QStringList{"Velkor QDS not connected..\n"});
  QCOMPARE(desk.dialogs.messages[0].caption, QStringLiteral("Velkor QDS"));
  QVERIFY(desk.commands().empty());
}

void UpgradeRunTest::failedVerificationChecksAgainWithoutReconnecting() {
  Desk desk;
  setSnapshot("AB123456");
  Run run(desk);
  desk.world.loader().corruptWhenProgrammed(0x4410, 0x04);
  const talkgate::DeviceHandle before = talkgate::hid_handle;
  QSignalSpy checked(run.window, &firmware_upgrade::countCheckCompleted);
  QVERIFY(!run.upgrade());

  QVERIFY(run.window->statusLog().endsWith("Memory verification error\r\n"));
  QCOMPARE(run.window->progressBar->value(), 85);
  QTRY_VERIFY_WITH_TIMEOUT(checked.count() >= 1, kWaitMs);
  QTRY_VERIFY_WITH_TIMEOUT(!run.window->workerBusy(), kWaitMs);
  // The loader is still there: the window is ready for another go.
  QCOMPARE(run.window->labelNumOfDevices->text(), QStringLiteral("Found 1 device"));
  QVERIFY(run.window->btnUpgrade->isEnabled());
  QVERIFY(talkgate::hid_handle == before);
  QVERIFY(desk.dialogs.messages.isEmpty());
  QVERIFY(desk.commands().empty());
  QCOMPARE(desk.world.upgrades(), 0);
}

void UpgradeRunTest::closeWhileProgrammingSaysSoOnceAndNoBoxStacks() {
  setSnapshot("TG123456");
  Desk desk;
  Run run(desk);
  firmware_upgrade* window = run.window;
  // Hold the programming worker at its first report to the loader.
  talkgate::hid::setActivePort(&desk.gate);
  desk.gate.arm();
  QSignalSpy done(window, &firmware_upgrade::upgradeCompleted);
  // Queued after the window's own completion handler, so it runs once that has.
  bool programmingReported = false;
  connect(window, &firmware_upgrade::programmingDone, window,
          [&programmingReported] { programmingReported = true; });
  window->btnUpgrade->click();
  QTRY_VERIFY_WITH_TIMEOUT(desk.gate.reached(), kWaitMs);

  // The programming ends while the operator still looks at the Close box.
  qsizetype shownMeanwhile = -1;
  desk.dialogs.whileOpen = [&] {
    desk.dialogs.whileOpen = nullptr;
    desk.gate.release(false);
    if (!QTest::qWaitFor([&] { return programmingReported; }, kWaitMs)) return;
    shownMeanwhile = desk.dialogs.messages.size();
  };
  window->btnClose->click();
  QVERIFY(programmingReported);
  QCOMPARE(shownMeanwhile, 1);
  QVERIFY(window->isVisible());

  // Only then the reconnection and its question, one box at a time.
  QTRY_COMPARE_WITH_TIMEOUT(done.count(), 1, kWaitMs);
  QVERIFY(done.at(0).at(0).toBool());
  QCOMPARE(desk.dialogs.texts(),
           QStringList({QString::fromLatin1(firmware_upgrade::kUpgradeRunningText) + "\n",
                        "Do you want to load previous setting..\n"}));
  QCOMPARE(desk.dialogs.messages[0].caption, QStringLiteral("Velkor Tabrin"));
  QVERIFY(!window->statusLog().contains("Please wait"));
  QCOMPARE(int(desk.world.talkgate().state().working.symbolBrightness), 7);
  QVERIFY(window->isVisible());
}

QTEST_MAIN(UpgradeRunTest)
#include "upgrade_run_test.moc"
