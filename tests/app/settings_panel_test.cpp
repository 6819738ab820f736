// The settings lists and action buttons of the main window against a simulated Talkgate.

#include <QAbstractItemView>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

#include "app/process_state.h"
#include "config/config_ui.h"
#include "firmware/loader_images.h"
#include "tests/app/app_fixture.h"
#include "tests/device/recording_port.h"
#include "tests/device/scripted_port.h"
#include "tests/firmware/loader_images_fixture.h"

using dorrin_usb_encoder::configArray;
using dorrin_usb_encoder::Form1;
using talkgate::app::UpgradeSnapshot;
using talkgate::sim::Fault;
using talkgate::ui::Answer;
using talkgate::ui::Buttons;
using talkgate::ui::Icon;

namespace {

QString blanks(int count) {
  return QString(count, QLatin1Char(' '));
}

talkgate::sim::FaultPlan refuse(std::uint8_t command) {
  return {.fault = Fault::Refuse, .command = command};
}

}  // namespace

class SettingsPanelTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    QVERIFY(userFolder_.isValid());
    apptest::isolateUserFolder(userFolder_);
  }
  void init() { configArray = {}; }

  void choiceSendsItsPositionEvenWhenAlreadySelected();
  void refusedChoiceRollsBack_data();
  void refusedChoiceRollsBack();
  void keypadTypeChoiceRewritesLine2();
  void refusedKeypadTypeLeavesLinesAndList();
  void keystrokesInKeypadAndAmbientListsAreSwallowed();
  void wheelActsOnlyOnTheFocusedBrightnessList();
  void saveChangesStoresDefaultsAndWritesTheFile();
  void refusedSaveChangesLeavesTheFile();
  void factoryResetWithoutDeviceShowsNothing();
  void factoryResetDoesNotRefreshTheWindow();
  void restoreSendsFileValuesAndShowsRestoredLines();
  void restoreWhoseStatusReadFailsDisconnects();
  void restoreWhoseFirstRequestFailsStops();
  void testWithoutDeviceRefusesWithMessage();
  void updateFirmwareAnsweredNoSendsNoLoaderCommand();
  void updateFirmwareAnsweredYesEntersLoaderWithSnapshot();
  void updateFirmwareWithoutDeviceStillAsksAndDisables();
  void updateFirmwareOnHardwareWithoutLoaderImagesSendsNothing();

 private:
  QTemporaryDir userFolder_;
};

void SettingsPanelTest::choiceSendsItsPositionEvenWhenAlreadySelected() {
  apptest::Desk desk(apptest::deviceWith(5, 0, 0));
  Form1& w = desk.start();
  desk.talkgate.clearRequests();
  apptest::Desk::choose(w.led2BrightnessJOCbox, 8);
  apptest::Desk::choose(w.led2BrightnessJOCbox, 8);
  apptest::Desk::choose(w.led1BrightnessJOCbox, 1);

  const auto requests = desk.talkgate.requests();
  QCOMPARE(requests.size(), 3u);
  QCOMPARE(requests[0].command, talkgate::kCmdSetSymbolBrightness);
  QCOMPARE(requests[0].payload, std::vector<std::uint8_t>({8}));
  QCOMPARE(requests[1].payload, std::vector<std::uint8_t>({8}));
  QCOMPARE(requests[2].command, talkgate::kCmdSetAmbientConfig);
  QCOMPARE(requests[2].payload, std::vector<std::uint8_t>({1}));
  QCOMPARE(w.prev_symbolBrightness_index, 8);
  QCOMPARE(w.prev_ambient_cfg_index, 1);
  QCOMPARE(desk.talkgate.state().working.symbolBrightness, 8);
  QVERIFY(desk.dialogs.messages.isEmpty());
}

void SettingsPanelTest::refusedChoiceRollsBack_data() {
  QTest::addColumn<int>("command");
  QTest::addColumn<int>("chosen");
  QTest::addColumn<QString>("expectedText");
  // Right after start-up: the remembered value is the one the status read gave.
  QTest::newRow("symbol brightness")
      << int(talkgate::kCmdSetSymbolBrightness) << 9 << "Symbol LED Brightness - 5";
  QTest::newRow("ambient") << int(talkgate::kCmdSetAmbientConfig) << 1 << "Ambient Cfg - Disable";
}

void SettingsPanelTest::refusedChoiceRollsBack() {
  QFETCH(int, command);
  QFETCH(int, chosen);
  QFETCH(QString, expectedText);
  apptest::Desk desk(apptest::deviceWith(5, 0, 0));
  Form1& w = desk.start();
  auto* list = command == talkgate::kCmdSetSymbolBrightness ? w.led2BrightnessJOCbox
                                                            : w.led1BrightnessJOCbox;
  desk.talkgate.addFault(refuse(static_cast<std::uint8_t>(command)));
  apptest::Desk::choose(list, chosen);

  QCOMPARE(desk.dialogs.texts(), QStringList({"Unable to set the LED Brightness..\n"}));
  QCOMPARE(desk.dialogs.messages[0].caption, QString("Velkor Talkgate"));
  QCOMPARE(desk.dialogs.messages[0].icon, Icon::Warning);
  QCOMPARE(list->displayText(), expectedText);
  QCOMPARE(w.prev_symbolBrightness_index, 5);
  QCOMPARE(w.prev_ambient_cfg_index, 0);

  // After an accepted change the roll-back target is the accepted value.
  apptest::Desk::choose(list, chosen);
  desk.talkgate.addFault(refuse(static_cast<std::uint8_t>(command)));
  apptest::Desk::choose(list, 0);
  QCOMPARE(list->currentIndex(), chosen);
}

void SettingsPanelTest::keypadTypeChoiceRewritesLine2() {
  apptest::Desk desk(apptest::deviceWith(5, 0, 0));
  Form1& w = desk.start();
  const QString line1 = configArray[0];
  const QString line3 = configArray[2];
  apptest::Desk::choose(w.keypadTypeCbox, 1);

  QCOMPARE(configArray[1], "Code Table Loaded" + blanks(6) + "Customise Table");
  QCOMPARE(w.richTextBox1->toPlainText().split('\n').value(1), configArray[1]);
  QCOMPARE(configArray[0], line1);
  QCOMPARE(configArray[2], line3);
  QCOMPARE(w.prev_keypadType_index, 1);
  QCOMPARE(desk.talkgate.state().working.keypadType, 1);
}

void SettingsPanelTest::refusedKeypadTypeLeavesLinesAndList() {
  apptest::Desk desk(apptest::deviceWith(5, 0, 0));
  Form1& w = desk.start();
  const QString shown = w.richTextBox1->toPlainText();
  desk.talkgate.addFault(refuse(talkgate::kCmdSetKeypadType));
  apptest::Desk::choose(w.keypadTypeCbox, 1);

  QCOMPARE(desk.dialogs.texts(), QStringList({"Unable to set Keypad Type..\n"}));
  QCOMPARE(desk.dialogs.messages[0].caption, QString("Velkor Talkgate"));
  QCOMPARE(w.keypadTypeCbox->displayText(), QString("Default Table"));
  QCOMPARE(w.richTextBox1->toPlainText(), shown);
  QCOMPARE(w.prev_keypadType_index, 0);
}

void SettingsPanelTest::keystrokesInKeypadAndAmbientListsAreSwallowed() {
  apptest::Desk desk(apptest::deviceWith(5, 0, 0));
  Form1& w = desk.start();
  desk.talkgate.clearRequests();
  for (auto* list : {w.keypadTypeCbox, w.led1BrightnessJOCbox}) {
    QTest::keyClick(list, Qt::Key_Down);
    QTest::keyClick(list, Qt::Key_End);
    QTest::keyClicks(list, "CustomiseEnable");
    // Neither a selection move nor an opening key gets through.
    QTest::keyClick(list, Qt::Key_Up, Qt::AltModifier);
    QTest::keyClick(list, Qt::Key_Down, Qt::AltModifier);
    QTest::keyClick(list, Qt::Key_F4);
    QTest::keyClick(list, Qt::Key_Space);
    QVERIFY(!list->view()->isVisible());
  }
  // Alt+Up from the second entry is what would have moved the selection.
  w.keypadTypeCbox->selectEntry(1);
  QTest::keyClick(w.keypadTypeCbox, Qt::Key_Up, Qt::AltModifier);
  QCOMPARE(desk.commands().size(), 0u);
  QCOMPARE(w.keypadTypeCbox->currentIndex(), 1);
  QCOMPARE(w.led1BrightnessJOCbox->currentIndex(), 0);
}

void SettingsPanelTest::wheelActsOnlyOnTheFocusedBrightnessList() {
  apptest::Desk desk(apptest::deviceWith(5, 0, 0));
  Form1& w = desk.start();
  w.activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(&w));
  desk.talkgate.clearRequests();
  const auto turnWheel = [](QComboBox* list) {
    const QPointF centre = QRectF(list->rect()).center();
    // One notch towards the operator: the next entry down.
    QWheelEvent wheel(centre, list->mapToGlobal(centre), QPoint(), QPoint(0, -120), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(list, &wheel);
  };
  // A turn of the wheel never takes focus for a list.
  for (auto* list : {w.keypadTypeCbox, w.led1BrightnessJOCbox, w.led2BrightnessJOCbox}) {
    QVERIFY((list->focusPolicy() & Qt::WheelFocus) != Qt::WheelFocus);
  }
  w.button11->setFocus();
  for (auto* list : {w.keypadTypeCbox, w.led1BrightnessJOCbox, w.led2BrightnessJOCbox}) {
    turnWheel(list);
  }
  QCOMPARE(desk.commands().size(), 0u);
  QCOMPARE(w.led2BrightnessJOCbox->currentIndex(), 5);

  // With focus the wheel works the brightness list, and only that one.
  w.keypadTypeCbox->setFocus();
  QVERIFY(w.keypadTypeCbox->hasFocus());
  turnWheel(w.keypadTypeCbox);
  w.led1BrightnessJOCbox->setFocus();
  turnWheel(w.led1BrightnessJOCbox);
  QCOMPARE(desk.commands().size(), 0u);
  QCOMPARE(w.keypadTypeCbox->currentIndex(), 0);
  QCOMPARE(w.led1BrightnessJOCbox->currentIndex(), 0);
  w.led2BrightnessJOCbox->setFocus();
  QVERIFY(w.led2BrightnessJOCbox->hasFocus());
  turnWheel(w.led2BrightnessJOCbox);
  QCOMPARE(w.led2BrightnessJOCbox->currentIndex(), 6);
  QCOMPARE(desk.talkgate.state().working.symbolBrightness, 6);
}

void SettingsPanelTest::saveChangesStoresDefaultsAndWritesTheFile() {
  auto state = apptest::deviceWith(5, 0, 1);
  state.working.keyTable = {0, 4, 0, 5, 0, 6, 0, 7, 0, 8, 0, 9};
  apptest::Desk desk(state);
  Form1& w = desk.start();
  apptest::Desk::choose(w.led2BrightnessJOCbox, 2);
  desk.talkgate.clearRequests();
  QTest::mouseClick(w.button8, Qt::LeftButton);

  // The file takes the status before the device is asked to store it.
  QCOMPARE(desk.commands(), std::vector<int>({talkgate::kCmdStatus, talkgate::kCmdStoreDefaults}));
  QVERIFY2(desk.dialogs.messages.isEmpty(), qPrintable(desk.dialogs.texts().join('|')));
  QCOMPARE(desk.talkgate.state().defaults.symbolBrightness, 2);
  QCOMPARE(talkgate::config::GetSettings("LEDBrightness"), QString("2"));
  QCOMPARE(talkgate::config::GetSettings("KeypadLayout"), QString("1"));
  QCOMPARE(talkgate::config::GetSettings("SerialNumber"), QString("TG123456"));
}

void SettingsPanelTest::refusedSaveChangesLeavesTheFile() {
  apptest::Desk desk(apptest::deviceWith(5, 0, 0));
  Form1& w = desk.start();
  QVERIFY(talkgate::config::SetSettings("LEDBrightness", "1"));
  desk.talkgate.addFault(refuse(talkgate::kCmdStoreDefaults));
  desk.talkgate.clearRequests();
  QTest::mouseClick(w.button8, Qt::LeftButton);

  QCOMPARE(desk.dialogs.texts(), QStringList({"Unable to Write Default..\n"}));
  QCOMPARE(desk.dialogs.messages[0].caption, QString("Velkor Talkgate"));
  QCOMPARE(desk.commands(), std::vector<int>({talkgate::kCmdStatus, talkgate::kCmdStoreDefaults}));
  QCOMPARE(talkgate::config::GetSettings("LEDBrightness"), QString("1"));
}

void SettingsPanelTest::factoryResetWithoutDeviceShowsNothing() {
  apptest::Desk desk(apptest::deviceWith(5, 0, 0));
  Form1& w = desk.start();
  desk.talkgate.unplug();
  QVERIFY(w.button9->isEnabled());
  QTest::mouseClick(w.button9, Qt::LeftButton);
  QVERIFY(desk.dialogs.messages.isEmpty());
  QVERIFY(w.button9->isEnabled());
  QCOMPARE(w.led2BrightnessJOCbox->displayText(), QString("Symbol LED Brightness - 5"));
}

void SettingsPanelTest::factoryResetDoesNotRefreshTheWindow() {
  apptest::Desk desk(apptest::deviceWith(9, 1, 1));
  Form1& w = desk.start();
  const QString shown = w.richTextBox1->toPlainText();
  desk.talkgate.clearRequests();
  QTest::mouseClick(w.button9, Qt::LeftButton);

  QCOMPARE(desk.commands(), std::vector<int>({talkgate::kCmdFactoryReset}));
  QCOMPARE(desk.talkgate.state().working, talkgate::sim::SimTalkgate::factoryState().working);
  QCOMPARE(w.led2BrightnessJOCbox->displayText(), QString("Symbol LED Brightness - 9"));
  QCOMPARE(w.keypadTypeCbox->displayText(), QString("Customise Table"));
  QCOMPARE(w.richTextBox1->toPlainText(), shown);
}

void SettingsPanelTest::restoreSendsFileValuesAndShowsRestoredLines() {
  apptest::Desk desk(apptest::deviceWith(5, 0, 1));
  Form1& w = desk.start();
  QVERIFY(talkgate::config::SetSettings("KeypadLayout", "0"));
  QVERIFY(talkgate::config::SetSettings("Ambient_cfg", "1"));
  QVERIFY(talkgate::config::SetSettings("LEDBrightness", "3"));
  QVERIFY(talkgate::config::SetSettings("CodeTableValues", "0,1,2,3,4,5,6,7,8,9,10,11"));
  desk.talkgate.clearRequests();
  QTest::mouseClick(w.button3, Qt::LeftButton);

  QVERIFY2(desk.dialogs.messages.isEmpty(), qPrintable(desk.dialogs.texts().join('|')));
  QCOMPARE(desk.commands(),
           std::vector<int>({talkgate::kCmdSetKeypadType, talkgate::kCmdSetAmbientConfig,
                             talkgate::kCmdSetSymbolBrightness, talkgate::kCmdStatus}));
  QCOMPARE(configArray[0], "Device Connected" + blanks(9) + "Talkgate" + blanks(34) +
                               "Firmware Version" + blanks(8) + "-" + blanks(3) + "2.3.1");
  QCOMPARE(configArray[1], "Code Table Loaded" + blanks(6) + "Default Table");
  QCOMPARE(configArray[2], "Serial Number" + blanks(15) + "TG123456" + blanks(5) +
                               "Jack Status :" + blanks(8) + "HV Status : ");
  QCOMPARE(w.led2BrightnessJOCbox->displayText(), QString("Symbol LED Brightness - 3"));
  QCOMPARE(w.led1BrightnessJOCbox->displayText(), QString("Ambient Cfg - Enable"));
  QCOMPARE(w.keypadTypeCbox->displayText(), QString("Default Table"));
}

void SettingsPanelTest::restoreWhoseStatusReadFailsDisconnects() {
  apptest::Desk desk(apptest::deviceWith(5, 0, 0));
  Form1& w = desk.start();
  QVERIFY(talkgate::config::SetSettings("KeypadLayout", "0"));
  QVERIFY(talkgate::config::SetSettings("Ambient_cfg", "0"));
  QVERIFY(talkgate::config::SetSettings("LEDBrightness", "4"));
  const QString line2 = configArray[1];
  desk.talkgate.addFault(refuse(talkgate::kCmdStatus));
  QTest::mouseClick(w.button3, Qt::LeftButton);

  QVERIFY(desk.dialogs.messages.isEmpty());
  QCOMPARE(w.keypadTypeCbox->displayText(), QString("Keypad - Layout"));
  QCOMPARE(w.led1BrightnessJOCbox->displayText(), QString("ZONE1 Brightness"));
  QCOMPARE(w.led2BrightnessJOCbox->displayText(), QString("ZONE2 Brightness"));
  QVERIFY(configArray[0].startsWith("Device Connected" + blanks(3) + "-" + blanks(4) + "None"));
  QCOMPARE(configArray[1], line2);
  for (QWidget* control : apptest::deviceControls(w)) QVERIFY(!control->isEnabled());
}

void SettingsPanelTest::restoreWhoseFirstRequestFailsStops() {
  apptest::Desk desk(apptest::deviceWith(5, 0, 0));
  Form1& w = desk.start();
  QVERIFY(talkgate::config::SetSettings("KeypadLayout", "1"));
  QVERIFY(talkgate::config::SetSettings("Ambient_cfg", "1"));
  QVERIFY(talkgate::config::SetSettings("LEDBrightness", "4"));
  const QString shown = w.richTextBox1->toPlainText();
  desk.talkgate.addFault(refuse(talkgate::kCmdSetKeypadType));
  desk.talkgate.clearRequests();
  QTest::mouseClick(w.button3, Qt::LeftButton);

  QCOMPARE(desk.commands(), std::vector<int>({talkgate::kCmdSetKeypadType}));
  QCOMPARE(desk.dialogs.texts(), QStringList({"Unable to set Keypad Type..\n"}));
  QCOMPARE(desk.dialogs.messages[0].caption, QString("Velkor QDS"));
  QCOMPARE(w.richTextBox1->toPlainText(), shown);
  QVERIFY(w.button3->isEnabled());
}

void SettingsPanelTest::testWithoutDeviceRefusesWithMessage() {
  apptest::Desk desk(apptest::deviceWith(5, 0, 0));
  Form1& w = desk.start();
  desk.talkgate.unplug();
  QTest::mouseClick(w.button2, Qt::LeftButton);
  QCOMPARE(
      desk.dialogs.texts(),
      QStringList({"Unable to get device message..Please click on Scan for and try again..\n"}));
  QCOMPARE(desk.dialogs.messages[0].caption, QString("Velkor Talkgate"));
  QVERIFY(w.selfTestFrm.isNull());
}

void SettingsPanelTest::updateFirmwareAnsweredNoSendsNoLoaderCommand() {
  apptest::Desk desk(apptest::deviceWith(5, 0, 0));
  Form1& w = desk.start();
  QSignalSpy upgradeSpy(&w, &Form1::upgradeWindowRequested);
  desk.dialogs.questionAnswers = {Answer::No};
  desk.talkgate.clearRequests();
  QTest::mouseClick(w.btnLoadFirmware, Qt::LeftButton);

  QCOMPARE(desk.dialogs.messages.size(), 1);
  const auto& question = desk.dialogs.messages[0];
  QCOMPARE(question.text, QString("Are you sure you want to upgrade the firmware?\n"));
  QCOMPARE(question.caption, QString("Firmware Upgrade"));
  QCOMPARE(question.buttons, Buttons::YesNo);
  QCOMPARE(question.icon, Icon::Question);
  QCOMPARE(desk.commands(), std::vector<int>({talkgate::kCmdStatus}));
  QCOMPARE(upgradeSpy.count(), 0);
  QVERIFY(desk.talkgate.pluggedIn());
}

void SettingsPanelTest::updateFirmwareAnsweredYesEntersLoaderWithSnapshot() {
  auto state = apptest::deviceWith(7, 1, 1);
  state.working.keyTable = {0xE0, 4, 0, 5, 0xE2, 6, 0, 7, 0, 8, 0, 9};
  apptest::Desk desk(state);
  Form1& w = desk.start();
  QSignalSpy upgradeSpy(&w, &Form1::upgradeWindowRequested);
  desk.talkgate.clearRequests();
  QTest::mouseClick(w.btnLoadFirmware, Qt::LeftButton);

  QCOMPARE(desk.commands(), std::vector<int>({talkgate::kCmdStatus, talkgate::kCmdEnterLoader}));
  QCOMPARE(desk.dialogs.messages.size(), 1);
  QCOMPARE(upgradeSpy.count(), 1);
  const auto snapshot = upgradeSpy.at(0).at(0).value<UpgradeSnapshot>();
  QCOMPARE(snapshot.symbolBrightness, 7);
  QCOMPARE(snapshot.ambientConfig, 1);
  QCOMPARE(snapshot.keypadType, 1);
  QCOMPARE(snapshot.serialNumber, QString("TG123456"));
  QVERIFY(std::equal(snapshot.keyCodes.begin(), snapshot.keyCodes.end(),
                     state.working.keyTable.begin()));
  // The device jumps into its loader without a reply; the request counts as failed.
  QVERIFY(!desk.talkgate.pluggedIn());
  for (QWidget* control : apptest::deviceControls(w)) QVERIFY(!control->isEnabled());
  QVERIFY(w.btnLoadFirmware->isEnabled() && w.button11->isEnabled());
}

void SettingsPanelTest::updateFirmwareWithoutDeviceStillAsksAndDisables() {
  apptest::Desk desk(apptest::deviceWith(7, 1, 1));
  Form1& w = desk.start();
  desk.talkgate.unplug();
  QSignalSpy upgradeSpy(&w, &Form1::upgradeWindowRequested);
  QTest::mouseClick(w.btnLoadFirmware, Qt::LeftButton);

  QCOMPARE(desk.dialogs.texts(), QStringList({"Unable to get device status information\n",
                                              "Are you sure you want to upgrade the firmware?\n"}));
  QCOMPARE(desk.dialogs.messages[0].caption, QString("Velkor Talkgate"));
  QCOMPARE(desk.dialogs.messages[0].icon, Icon::Warning);
  QCOMPARE(desk.dialogs.messages[1].icon, Icon::Question);
  for (QWidget* control : apptest::deviceControls(w)) QVERIFY(!control->isEnabled());
  QVERIFY(w.btnLoadFirmware->isEnabled());
  QCOMPARE(upgradeSpy.count(), 1);
  // Nothing was read, so the snapshot holds no device's values.
  QCOMPARE(upgradeSpy.at(0).at(0).value<UpgradeSnapshot>().serialNumber, QString());
}

void SettingsPanelTest::updateFirmwareOnHardwareWithoutLoaderImagesSendsNothing() {
  apptest::Desk desk(apptest::deviceWith(7, 1, 1));
  Form1& w = desk.start();
  talkgate::firmware::test::ScopedLoaderImageSources standard({"/nonexistent/loader"});
  talkgate::testing::RecordingPort hardware(desk.bus, true);
  talkgate::testing::ScopedPort onHardware(hardware);
  desk.talkgate.clearRequests();
  QTest::mouseClick(w.btnLoadFirmware, Qt::LeftButton);

  const std::string text = talkgate::firmware::loaderImagesRefusal(hardware, standard.sources());
  QVERIFY(!text.empty());
  QCOMPARE(desk.dialogs.texts(), QStringList({QString::fromStdString(text) + "\n"}));
  QVERIFY(desk.commands().empty() && hardware.log->attempts.empty());
  QVERIFY(desk.talkgate.pluggedIn());
}

QTEST_MAIN(SettingsPanelTest)
#include "settings_panel_test.moc"
