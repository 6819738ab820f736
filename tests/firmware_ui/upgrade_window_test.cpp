// The upgrade window before any programming: its controls, the loader count and its texts,
// device notifications, the busy test, Browse and the configuration file, and closing.

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

#include "config/ini_file.h"
#include "firmware/firmware_resources.h"
#include "tests/firmware_ui/upgrade_desk.h"

using dorrin_usb_encoder::firmware_upgrade;
using fwuitest::Desk;
using talkgate::ui::Buttons;
using talkgate::ui::Icon;

namespace {

constexpr int kWaitMs = 10000;

QString firmwareFileSetting() {
  return QString::fromStdString(talkgate::config::CIniFile::GetValue(
      talkgate::config::kKeyFirmwareFile, talkgate::config::kSection, talkgate::config::FileName));
}

}  // namespace

class UpgradeWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void init() { fwuitest::resetWindowWideValues(); }
  void cleanup() { fwuitest::resetWindowWideValues(); }

  void constructedWindowHasItsLayoutTextsAndStates();
  void filterIsGivenInQtFormWithItsTexts();
  void countCheckNamesTheLoaderDevices_data();
  void countCheckNamesTheLoaderDevices();
  void arrivalAndRemovalRecountWhileIdle();
  void failedRegistrationShowsErrorAndStartsNoCheck();
  void openWindowsShareOneRegistrationUntilTheLastCloses();
  void busyWindowFoldsNotificationsIntoOneLaterCheck();
  void browseFillsPathAndRemembersFileName();
  void browseCancelledChangesNothing();
  void closeButtonWarnsThenCloses();
  void closeBoxClosesWithoutMessage();
};

void UpgradeWindowTest::constructedWindowHasItsLayoutTextsAndStates() {
  Desk desk;
  firmware_upgrade window;
  QCOMPARE(window.windowTitle(), QStringLiteral("Velkor Quillet Firmware Upgrade"));
  QCOMPARE(window.minimumSize(), QSize(500, 320));
  QCOMPARE(window.maximumSize(), QSize(500, 320));
  QVERIFY(!(window.windowFlags() & Qt::WindowMinimizeButtonHint));
  QVERIFY(!(window.windowFlags() & Qt::WindowMaximizeButtonHint));
  QVERIFY(window.testAttribute(Qt::WA_DeleteOnClose));
  window.setAttribute(Qt::WA_DeleteOnClose, false);  // lives on the stack here

  QCOMPARE(window.groupBox1->title(), QStringLiteral("Select which firmware to download"));
  QCOMPARE(window.fileLabel->text(), QStringLiteral("File to download"));
  QCOMPARE(window.selectLabel->text(), QStringLiteral("Select Firmware"));
  QVERIFY(window.filenameTextBox->text().isEmpty());
  QVERIFY(window.filenameTextBox->isReadOnly());
  QCOMPARE(window.btnBrowse->text(), QStringLiteral("&Browse"));
  QVERIFY(!window.btnBrowse->isEnabled());
  QCOMPARE(window.btnUpgrade->text(), QStringLiteral("Upgrade Firmware"));
  QVERIFY(!window.btnUpgrade->isEnabled());
  QCOMPARE(window.btnUpgrade->font().pointSizeF(), 19.8);
  QCOMPARE(window.btnClose->text(), QStringLiteral("&Close"));
  QVERIFY(window.btnClose->isEnabled());
  QCOMPARE(window.btnClose->font().pointSizeF(), 19.8);
  QCOMPARE(window.progressBar->minimum(), 0);
  QCOMPARE(window.progressBar->maximum(), 100);
  QCOMPARE(window.progressBar->value(), 0);
  QVERIFY(window.statusBox->isReadOnly());
  QVERIFY(window.statusBox->toPlainText().isEmpty());
  QCOMPARE(window.vidTitle->text(), QStringLiteral("VID"));
  QCOMPARE(window.pidTitle->text(), QStringLiteral("PID"));
  QCOMPARE(window.labelNumOfDevices->text(), QStringLiteral("Searching for devices"));

  // The resource holds three digits; the window widens it.
  QCOMPARE(talkgate::firmware::firmwareResource("PID").value_or(""), std::string("0x200"));
  QCOMPARE(window.pidLbl->text(), QStringLiteral("0x0200"));
  QCOMPARE(firmware_upgrade::myPID, QStringLiteral("0x0200"));
  QCOMPARE(window.vidLbl->text(), QStringLiteral("0x2047"));
  QCOMPARE(firmware_upgrade::myVID, QStringLiteral("0x2047"));
  QCOMPARE(firmware_upgrade::myDeviceIndex, QStringLiteral("0"));
  // Nothing is registered or counted before the window is first shown.
  QVERIFY(!window.workerBusy());
}

void UpgradeWindowTest::filterIsGivenInQtFormWithItsTexts() {
  QCOMPARE(dorrin_usb_encoder::qtFileFilter("(*.txt)|*.txt|All files (*.*)|*.*"),
           QStringLiteral("(*.txt);;All files (*.*)"));
  QCOMPARE(dorrin_usb_encoder::qtFileFilter("Images|*.png;*.jpg|Text files|*.txt"),
           QStringLiteral("Images (*.png *.jpg);;Text files (*.txt)"));
}

void UpgradeWindowTest::countCheckNamesTheLoaderDevices_data() {
  QTest::addColumn<int>("loaders");
  QTest::addColumn<QString>("text");
  QTest::newRow("none") << 0 << QStringLiteral("No device connected");
  QTest::newRow("one") << 1 << QStringLiteral("Found 1 device");
  QTest::newRow("three") << 3 << QStringLiteral("Found 3 devices");
}

void UpgradeWindowTest::countCheckNamesTheLoaderDevices() {
  QFETCH(int, loaders);
  QFETCH(QString, text);
  Desk desk;
  if (loaders > 0) desk.switchTalkgateToLoader();
  for (int i = 1; i < loaders; ++i) desk.plugInExtraLoader();
  // A plain Talkgate on the bus is not a loader.
  if (loaders == 0) QVERIFY(desk.world.talkgate().pluggedIn());

  firmware_upgrade* window = desk.openWindow();
  QSignalSpy checked(window, &firmware_upgrade::countCheckCompleted);
  QTRY_COMPARE_WITH_TIMEOUT(checked.count(), 1, kWaitMs);
  QCOMPARE(window->labelNumOfDevices->text(), text);
  QCOMPARE(firmware_upgrade::numberOfUSBDevicesConnected, static_cast<std::uint32_t>(loaders));
  QCOMPARE(window->btnUpgrade->isEnabled(), loaders > 0);
  QCOMPARE(window->btnBrowse->isEnabled(), loaders > 0);
}

void UpgradeWindowTest::arrivalAndRemovalRecountWhileIdle() {
  Desk desk;
  firmware_upgrade* window = desk.openWindow();
  QTRY_COMPARE_WITH_TIMEOUT(window->labelNumOfDevices->text(),
                            QStringLiteral("No device connected"), kWaitMs);

  desk.switchTalkgateToLoader();
  QTRY_COMPARE_WITH_TIMEOUT(window->labelNumOfDevices->text(), QStringLiteral("Found 1 device"),
                            kWaitMs);
  QVERIFY(window->btnUpgrade->isEnabled());
  QVERIFY(window->btnBrowse->isEnabled());

  auto& extra = desk.plugInExtraLoader();
  QTRY_COMPARE_WITH_TIMEOUT(window->labelNumOfDevices->text(), QStringLiteral("Found 2 devices"),
                            kWaitMs);
  extra.unplug();
  desk.world.loader().unplug();
  QTRY_COMPARE_WITH_TIMEOUT(window->labelNumOfDevices->text(),
                            QStringLiteral("No device connected"), kWaitMs);
  QTRY_VERIFY_WITH_TIMEOUT(!window->workerBusy(), kWaitMs);
  QVERIFY(!window->btnUpgrade->isEnabled());
  QVERIFY(!window->btnBrowse->isEnabled());
  QVERIFY(!firmware_upgrade::scanDeviceAgain);
}

void UpgradeWindowTest::failedRegistrationShowsErrorAndStartsNoCheck() {
  Desk desk;
  desk.switchTalkgateToLoader();
  int unsubscribed = 0;
  firmware_upgrade::setNotificationFunctions(
      {[](talkgate::firmware::DeviceNotification) { return -1; },
       [&unsubscribed] {
         ++unsubscribed;
         return 0;
       }});

  firmware_upgrade* window = desk.openWindow();
  QCOMPARE(window->labelNumOfDevices->text(), QStringLiteral("ERROR: Unable to register device"));
  QVERIFY(!window->workerBusy());
  QCoreApplication::processEvents();
  QCOMPARE(window->labelNumOfDevices->text(), QStringLiteral("ERROR: Unable to register device"));
  QVERIFY(!window->btnUpgrade->isEnabled());
  QVERIFY(!window->btnBrowse->isEnabled());

  // What was never registered is not unregistered.
  delete window;
  QCOMPARE(unsubscribed, 0);
}

void UpgradeWindowTest::openWindowsShareOneRegistrationUntilTheLastCloses() {
  Desk desk;
  int subscribed = 0;
  int unsubscribed = 0;
  firmware_upgrade::setNotificationFunctions(
      {[&subscribed](talkgate::firmware::DeviceNotification notify) {
         ++subscribed;
         return talkgate::firmware::BSL_RegisterUSBDeviceNotification(std::move(notify));
       },
       [&unsubscribed] {
         ++unsubscribed;
         return talkgate::firmware::BSL_UnRegisterUSBDeviceNotification();
       }});

  QPointer<firmware_upgrade> first = desk.openWindow();
  QPointer<firmware_upgrade> second = desk.openWindow();
  QTRY_COMPARE_WITH_TIMEOUT(second->labelNumOfDevices->text(),
                            QStringLiteral("No device connected"), kWaitMs);
  QCOMPARE(subscribed, 1);

  // Closing one window leaves the other hearing of devices.
  first->close();
  QTRY_VERIFY_WITH_TIMEOUT(first.isNull(), kWaitMs);
  QCOMPARE(unsubscribed, 0);
  desk.switchTalkgateToLoader();
  QTRY_COMPARE_WITH_TIMEOUT(second->labelNumOfDevices->text(), QStringLiteral("Found 1 device"),
                            kWaitMs);

  second->close();
  QTRY_VERIFY_WITH_TIMEOUT(second.isNull(), kWaitMs);
  QCOMPARE(unsubscribed, 1);
  // No window is left to tell; a device change now must not reach a deleted one.
  desk.world.loader().unplug();
  QCoreApplication::processEvents();
}

void UpgradeWindowTest::busyWindowFoldsNotificationsIntoOneLaterCheck() {
  Desk desk;
  desk.switchTalkgateToLoader();
  firmware_upgrade* window = desk.openWindow();
  QTRY_COMPARE_WITH_TIMEOUT(window->labelNumOfDevices->text(), QStringLiteral("Found 1 device"),
                            kWaitMs);
  QTRY_VERIFY_WITH_TIMEOUT(!window->workerBusy(), kWaitMs);
  window->filenameTextBox->setText(QString::fromStdString(fwuitest::demoImagePath("1.1.0")));

  // Hold the programming worker at its first report to the loader.
  talkgate::hid::setActivePort(&desk.gate);
  desk.gate.arm();
  QSignalSpy checked(window, &firmware_upgrade::countCheckCompleted);
  QSignalSpy done(window, &firmware_upgrade::upgradeCompleted);
  window->btnUpgrade->click();
  QVERIFY(!window->btnUpgrade->isEnabled());
  QTRY_VERIFY_WITH_TIMEOUT(desk.gate.reached(), kWaitMs);

  desk.plugInExtraLoader();
  QTRY_VERIFY_WITH_TIMEOUT(firmware_upgrade::scanDeviceAgain, kWaitMs);
  QCoreApplication::processEvents();
  QCOMPARE(checked.count(), 0);
  QCOMPARE(window->labelNumOfDevices->text(), QStringLiteral("Found 1 device"));
  QVERIFY(!window->btnUpgrade->isEnabled());

  // The window does not close under a running upgrade, and says so in one box.
  QVERIFY(!window->close());
  QVERIFY(window->isVisible());
  QCOMPARE(desk.dialogs.texts(),
           QStringList{QString::fromLatin1(firmware_upgrade::kUpgradeRunningText) + "\n"});
  QCOMPARE(desk.dialogs.messages[0].caption, QStringLiteral("Velkor Tabrin"));
  desk.dialogs.clear();

  // Both attempts then lose the device; the failure re-checks, and that check's completion
  // runs the folded one.
  desk.gate.release(true);
  QTRY_COMPARE_WITH_TIMEOUT(done.count(), 1, kWaitMs);
  QCOMPARE(done.at(0).at(0).toBool(), false);
  QTRY_COMPARE_WITH_TIMEOUT(checked.count(), 2, kWaitMs);
  QVERIFY(!firmware_upgrade::scanDeviceAgain);
  QCOMPARE(window->labelNumOfDevices->text(), QStringLiteral("Found 2 devices"));
  QVERIFY(window->btnUpgrade->isEnabled());
  QVERIFY(window->statusLog().contains("Unsuccessful in starting the BSL. Restarting. \r\n"));
  QVERIFY(desk.dialogs.messages.isEmpty());
}

void UpgradeWindowTest::browseFillsPathAndRemembersFileName() {
  Desk desk;
  desk.useConfigFile();
  desk.switchTalkgateToLoader();
  firmware_upgrade* window = desk.openWindow();
  QTRY_VERIFY_WITH_TIMEOUT(window->btnBrowse->isEnabled(), kWaitMs);

  const QString path = QDir(desk.configFolder->path()).filePath("images/fw_2.3.txt");
  desk.dialogs.fileAnswers << path;
  window->btnBrowse->click();
  QCOMPARE(window->filenameTextBox->text(), path);
  QCOMPARE(desk.dialogs.fileDialogFilters, QStringList{"(*.txt);;All files (*.*)"});
  QCOMPARE(desk.dialogs.fileDialogInitialPaths, QStringList{QString()});
  QCOMPARE(firmwareFileSetting(), QStringLiteral("fw_2.3.txt"));
  QVERIFY(desk.dialogs.messages.isEmpty());

  // Without a configuration file the path is still taken; a set start folder is where the
  // dialog opens (the demo's images).
  talkgate::config::FileName.clear();
  firmware_upgrade::browseFolder = QStringLiteral("/opt/images");
  desk.dialogs.fileAnswers << "/elsewhere/fw_3.txt";
  window->btnBrowse->click();
  QCOMPARE(window->filenameTextBox->text(), QStringLiteral("/elsewhere/fw_3.txt"));
  QCOMPARE(desk.dialogs.fileDialogInitialPaths.last(), QStringLiteral("/opt/images"));
}

void UpgradeWindowTest::browseCancelledChangesNothing() {
  Desk desk;
  desk.useConfigFile();
  desk.switchTalkgateToLoader();
  firmware_upgrade* window = desk.openWindow();
  QTRY_VERIFY_WITH_TIMEOUT(window->btnBrowse->isEnabled(), kWaitMs);
  desk.dialogs.fileAnswers << "/images/first.txt";
  window->btnBrowse->click();

  window->btnBrowse->click();  // no answer left: cancelled
  QCOMPARE(desk.dialogs.fileDialogFilters.size(), 2);
  QCOMPARE(window->filenameTextBox->text(), QStringLiteral("/images/first.txt"));
  QCOMPARE(firmwareFileSetting(), QStringLiteral("first.txt"));
}

void UpgradeWindowTest::closeButtonWarnsThenCloses() {
  Desk desk;
  QPointer<firmware_upgrade> window = desk.openWindow();
  QTRY_VERIFY_WITH_TIMEOUT(!window->workerBusy(), kWaitMs);
  window->btnClose->click();
  QCOMPARE(desk.dialogs.messages.size(), 1);
  QCOMPARE(desk.dialogs.messages[0].text, QStringLiteral("Please Click on Scan for.\n"));
  QCOMPARE(desk.dialogs.messages[0].caption, QStringLiteral("Velkor Tabrin"));
  QCOMPARE(desk.dialogs.messages[0].buttons, Buttons::Ok);
  QCOMPARE(desk.dialogs.messages[0].icon, Icon::Warning);
  QTRY_VERIFY_WITH_TIMEOUT(window.isNull(), kWaitMs);
}

void UpgradeWindowTest::closeBoxClosesWithoutMessage() {
  Desk desk;
  QPointer<firmware_upgrade> window = desk.openWindow();
  QTRY_VERIFY_WITH_TIMEOUT(!window->workerBusy(), kWaitMs);
  QVERIFY(window->close());
  QTRY_VERIFY_WITH_TIMEOUT(window.isNull(), kWaitMs);
  QVERIFY(desk.dialogs.messages.isEmpty());
}

QTEST_MAIN(UpgradeWindowTest)
#include "upgrade_window_test.moc"
