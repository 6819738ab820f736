// The main window's start-up, connection, status lines, scan and exit against a simulated
// Talkgate.

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QStatusBar>
#include <QtTest>

#include "app/process_state.h"
#include "tests/app/app_fixture.h"

using dorrin_usb_encoder::configArray;
using dorrin_usb_encoder::Form1;
using talkgate::ui::Buttons;
using talkgate::ui::Icon;

namespace {

QString blanks(int count) {
  return QString(count, QLatin1Char(' '));
}

QString connectedLine1(const QString& firmware) {
  return "Device Connected" + blanks(9) + "Talkgate" + blanks(4) + "Firmware Version" + blanks(8) +
         "-" + blanks(3) + firmware;
}
const QString kDisconnectedLine1 = "Device Connected" + blanks(3) + "-" + blanks(4) + "None" +
                                   blanks(32) + "Firmware Version" + blanks(8) + "-" + blanks(3) +
                                   "None";
QString codeTableLine(const QString& entry) {
  return "Code Table Loaded" + blanks(6) + entry;
}
QString serialLine(const QString& serial) {
  return "Serial Number" + blanks(15) + serial;
}

const QString kPermissionHint =
    "Permission denied opening the Talkgate. Install the udev rule 70-talkgate.rules (the "
    "package puts it in /usr/lib/udev/rules.d; from a source build copy "
    "packaging/70-talkgate.rules to /etc/udev/rules.d), then unplug and replug the device.";

QStringList shownLines(const Form1& w) {
  return w.richTextBox1->toPlainText().split('\n');
}

}  // namespace

class MainWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    QVERIFY(userFolder_.isValid());
    apptest::isolateUserFolder(userFolder_);
  }
  void init() { configArray = {}; }

  void constructedWindowHasItsControlsTextsAndSizes();
  void startWithoutDeviceShowsOneMessageAndDisconnectedWindow();
  void startWithDeviceShowsItsStatusWithoutMessage();
  void scanWithoutDeviceShowsTwoMessagesAndKeepsLines2And3();
  void scanWithDeviceWritesBrightnessBackOnceThenRefreshes();
  void scanReportsRefusedBrightnessAndStaysConnected();
  void scanAfterFailedStartConnects();
  void unopenableDeviceAddsPermissionHintUntilAnOpenSucceeds();
  void statusOutOfRangeIsShownByItsValue();
  void exitWithoutDeviceSendsNothingAndEndsProgram();
  void exitFromMenuClosesTheDevice();

 private:
  QTemporaryDir userFolder_;
};

void MainWindowTest::constructedWindowHasItsControlsTextsAndSizes() {
  apptest::Desk desk;
  Form1 w;  // not shown: loading has not run
  QCOMPARE(w.windowTitle(), QString("Talkgate Configuration Utility"));
  QCOMPARE(w.size(), QSize(891, 533));
  QCOMPARE(w.minimumSize(), QSize(907 - 16, 500 - 39));
  QCOMPARE(w.maximumSize(), QSize(907 - 16, 1000 - 39));
  QVERIFY(!(w.windowFlags() & Qt::WindowCloseButtonHint));
  QVERIFY(!(w.windowFlags() & Qt::WindowMinMaxButtonsHint));
  QVERIFY(w.windowFlags() & Qt::CustomizeWindowHint);

  QCOMPARE(w.label1->text(), QString("Talkgate Configuration Utility"));
  QCOMPARE(w.button11->text(), QString("Scan For Device"));
  QCOMPARE(w.richTextBox1->size(), QSize(680, 68));
  QVERIFY(w.richTextBox1->isReadOnly());
  QCOMPARE(w.richTextBox1->lineWrapMode(), QPlainTextEdit::NoWrap);
  QCOMPARE(w.richTextBox1->focusPolicy(), Qt::NoFocus);
  QVERIFY(w.richTextBox1->toPlainText().isEmpty());
  QCOMPARE(w.keypadTypeCbox->displayText(), QString("Module - Layout"));
  QCOMPARE(w.led1BrightnessJOCbox->displayText(), QString("Ambient Cfg  - Disable"));
  QCOMPARE(w.led2BrightnessJOCbox->displayText(), QString("Symbol LED Brightness - 0"));

  // Entries stay behind the placeholder texts.
  QCOMPARE(w.keypadTypeCbox->count(), 2);
  QCOMPARE(w.keypadTypeCbox->itemText(1), QString("Customise Table"));
  QCOMPARE(w.led1BrightnessJOCbox->itemText(0), QString("Ambient Cfg - Disable"));
  QCOMPARE(w.led1BrightnessJOCbox->itemText(1), QString("Ambient Cfg - Enable"));
  QCOMPARE(w.led2BrightnessJOCbox->count(), 10);
  QCOMPARE(w.led2BrightnessJOCbox->itemText(9), QString("Symbol LED Brightness - 9"));

  const QList<QPair<QPushButton*, QString>> buttons = {{w.button1, "Customise Code Table"},
                                                       {w.button2, "Test"},
                                                       {w.button3, "Reset From Configuration File"},
                                                       {w.button8, "Save Changes"},
                                                       {w.button9, "Reset To Factory Default"},
                                                       {w.btnLoadFirmware, "Update Firmware"},
                                                       {w.button10, "Exit"}};
  for (const auto& [button, text] : buttons) QCOMPARE(button->text(), text);
  QVERIFY(!w.keypadTypeCbox->isEnabled());
  QVERIFY(!w.led1BrightnessJOCbox->isEnabled());
  QVERIFY(w.led2BrightnessJOCbox->isEnabled());
  QVERIFY(!w.button1->isEnabled() && !w.button2->isEnabled());
  QVERIFY(w.button3->isEnabled());
  QVERIFY(!w.button8->isEnabled() && !w.button9->isEnabled());
  QCOMPARE(w.btnLoadFirmware->focusPolicy(), Qt::NoFocus);

  const QList<QAction*> menus = w.menuStrip1->actions();
  QCOMPARE(menus.size(), 2);
  QCOMPARE(menus[0]->text(), QString("File"));
  QCOMPARE(menus[1]->text(), QString("Help"));
  QStringList fileEntries;
  for (QAction* action : menus[0]->menu()->actions()) fileEntries << action->text();
  QCOMPARE(fileEntries, QStringList({"Import Cfg File", "Export Cfg File", "Exit"}));
  QCOMPARE(menus[1]->menu()->actions().value(0)->text(),
           QString("About Talkgate Configuration Utility"));
  QCOMPARE(desk.commands().size(), 0u);  // constructing touches no device
}

void MainWindowTest::startWithoutDeviceShowsOneMessageAndDisconnectedWindow() {
  apptest::Desk desk;
  desk.talkgate.unplug();
  Form1& w = desk.start();

  QCOMPARE(desk.dialogs.messages.size(), 1);
  const auto& shown = desk.dialogs.messages[0];
  QCOMPARE(shown.text, QString("Velkor QDS not connected..\n"));
  QCOMPARE(shown.caption, QString("Velkor QDS"));
  QCOMPARE(shown.buttons, Buttons::Ok);
  QCOMPARE(shown.icon, Icon::Warning);

  QCOMPARE(shownLines(w), QStringList({kDisconnectedLine1, QString(), QString()}));
  QCOMPARE(w.keypadTypeCbox->displayText(), QString("Keypad - Layout"));
  QCOMPARE(w.led1BrightnessJOCbox->displayText(), QString("LED Brightness"));
  for (QWidget* control : apptest::deviceControls(w)) QVERIFY(!control->isEnabled());
  QVERIFY(w.button11->isEnabled() && w.btnLoadFirmware->isEnabled() && w.button10->isEnabled());
  QVERIFY(talkgate::hid_handle == nullptr);
  // An absent device is not a permission problem.
  QCOMPARE(w.statusStrip1->currentMessage(), QString());
}

void MainWindowTest::startWithDeviceShowsItsStatusWithoutMessage() {
  auto state = apptest::deviceWith(7, 1, 0);
  state.working.keyTable = {0, 0x10, 0x02, 0x11, 0, 0x12, 0, 0x13, 0, 0x14, 0xE1, 0x15};
  apptest::Desk desk(state);
  Form1& w = desk.start();

  QVERIFY(desk.dialogs.messages.isEmpty());
  QCOMPARE(desk.commands(), std::vector<int>({talkgate::kCmdStatus}));
  QCOMPARE(shownLines(w), QStringList({connectedLine1("2.3.1"), codeTableLine("Default Table"),
                                       serialLine("TG123456")}));
  QCOMPARE(configArray[1], codeTableLine("Default Table"));
  QCOMPARE(w.led2BrightnessJOCbox->currentIndex(), 7);
  QCOMPARE(w.led1BrightnessJOCbox->currentIndex(), 1);
  QCOMPARE(w.keypadTypeCbox->currentIndex(), 0);
  QCOMPARE(w.keypadTypeCbox->displayText(), QString("Default Table"));
  QCOMPARE(w.led1BrightnessJOCbox->displayText(), QString("Ambient Cfg - Enable"));
  for (QWidget* control : apptest::deviceControls(w)) QVERIFY(control->isEnabled());

  QCOMPARE(w.prev_symbolBrightness_index, 7);
  QCOMPARE(w.temperature, QString("23.5C"));
  for (std::size_t i = 0; i < state.working.keyTable.size(); ++i) {
    QCOMPARE(dorrin_usb_encoder::keyCodeArray[i], state.working.keyTable[i]);
  }
}

void MainWindowTest::scanWithoutDeviceShowsTwoMessagesAndKeepsLines2And3() {
  apptest::Desk desk(apptest::deviceWith(4, 0, 1));
  Form1& w = desk.start();
  desk.talkgate.unplug();
  QTest::mouseClick(w.button11, Qt::LeftButton);

  QCOMPARE(desk.dialogs.texts(),
           QStringList({"Velkor Talkgate not connected..\n", "Unable to Get Device Status..\n"}));
  for (const auto& shown : desk.dialogs.messages) {
    QCOMPARE(shown.caption, QString("Velkor Talkgate"));
    QCOMPARE(shown.icon, Icon::Warning);
    QCOMPARE(shown.buttons, Buttons::Ok);
  }
  QCOMPARE(shownLines(w), QStringList({kDisconnectedLine1, codeTableLine("Customise Table"),
                                       serialLine("TG123456")}));
  QCOMPARE(w.keypadTypeCbox->displayText(), QString("Keypad - Layout"));
  QCOMPARE(w.led1BrightnessJOCbox->displayText(), QString("LED1 Brightness"));
  QCOMPARE(w.led2BrightnessJOCbox->displayText(), QString("LED2 Brightness"));
  for (QWidget* control : apptest::deviceControls(w)) QVERIFY(!control->isEnabled());
}

void MainWindowTest::scanWithDeviceWritesBrightnessBackOnceThenRefreshes() {
  apptest::Desk desk(apptest::deviceWith(6, 1, 0));
  Form1& w = desk.start();
  // The device changed behind the window's back; the scan shows the new values.
  auto state = desk.talkgate.state();
  state.working.symbolBrightness = 3;
  state.working.keypadType = 1;
  desk.talkgate.setState(state);
  desk.talkgate.clearRequests();
  QTest::mouseClick(w.button11, Qt::LeftButton);

  const auto requests = desk.talkgate.requests();
  QCOMPARE(requests.size(), 2u);
  QCOMPARE(requests[0].command, talkgate::kCmdStatus);
  QCOMPARE(requests[1].command, talkgate::kCmdSetSymbolBrightness);
  QCOMPARE(requests[1].payload, std::vector<std::uint8_t>({3}));
  QVERIFY(desk.dialogs.messages.isEmpty());
  QCOMPARE(w.led2BrightnessJOCbox->displayText(), QString("Symbol LED Brightness - 3"));
  QCOMPARE(w.keypadTypeCbox->displayText(), QString("Customise Table"));
  QCOMPARE(shownLines(w).value(1), codeTableLine("Customise Table"));
}

void MainWindowTest::scanReportsRefusedBrightnessAndStaysConnected() {
  apptest::Desk desk(apptest::deviceWith(6, 0, 0));
  Form1& w = desk.start();
  desk.talkgate.addFault(
      {.fault = talkgate::sim::Fault::Refuse, .command = talkgate::kCmdSetSymbolBrightness});
  QTest::mouseClick(w.button11, Qt::LeftButton);
  QCOMPARE(desk.dialogs.texts(), QStringList({"Unable to set the SYMBOL_LEDs..\n"}));
  QCOMPARE(desk.dialogs.messages[0].caption, QString("Velkor Talkgate"));
  for (QWidget* control : apptest::deviceControls(w)) QVERIFY(control->isEnabled());
  QCOMPARE(shownLines(w).value(0), connectedLine1("2.3.1"));
}

void MainWindowTest::scanAfterFailedStartConnects() {
  apptest::Desk desk(apptest::deviceWith(8, 1, 0));
  desk.talkgate.unplug();
  Form1& w = desk.start();
  desk.talkgate.plugIn();
  desk.dialogs.clear();
  QTest::mouseClick(w.button11, Qt::LeftButton);
  QVERIFY(desk.dialogs.messages.isEmpty());
  for (QWidget* control : apptest::deviceControls(w)) QVERIFY(control->isEnabled());
  // The placeholders give way to the entries the device's values select.
  QCOMPARE(w.keypadTypeCbox->displayText(), QString("Default Table"));
  QCOMPARE(w.led1BrightnessJOCbox->displayText(), QString("Ambient Cfg - Enable"));
  QCOMPARE(w.led2BrightnessJOCbox->displayText(), QString("Symbol LED Brightness - 8"));
  QCOMPARE(shownLines(w).value(2), serialLine("TG123456"));
}

void MainWindowTest::unopenableDeviceAddsPermissionHintUntilAnOpenSucceeds() {
  apptest::Desk desk(apptest::deviceWith(5, 0, 0));
  desk.bus.setOpenError(desk.talkgate.configPath(), talkgate::hid::OpenError::PermissionDenied);
  Form1& w = desk.start();
  // The start-up message and the disconnected window stay as without the hint, which comes on top.
  QCOMPARE(desk.dialogs.texts(), QStringList({"Velkor QDS not connected..\n"}));
  QCOMPARE(shownLines(w).value(0), kDisconnectedLine1);
  for (QWidget* control : apptest::deviceControls(w)) QVERIFY(!control->isEnabled());
  QCOMPARE(w.statusStrip1->currentMessage(), kPermissionHint);
  QVERIFY(desk.talkgate.requests().empty());

  // Still refused at a scan: the scan's two messages, and the hint is kept.
  desk.dialogs.clear();
  QTest::mouseClick(w.button11, Qt::LeftButton);
  QCOMPARE(desk.dialogs.texts(),
           QStringList({"Velkor Talkgate not connected..\n", "Unable to Get Device Status..\n"}));
  QCOMPARE(w.statusStrip1->currentMessage(), kPermissionHint);

  // The rule is installed and the device replugged: the next scan connects and clears the hint.
  desk.bus.setOpenError(desk.talkgate.configPath(), talkgate::hid::OpenError::None);
  desk.dialogs.clear();
  QTest::mouseClick(w.button11, Qt::LeftButton);
  QVERIFY(desk.dialogs.messages.isEmpty());
  QCOMPARE(shownLines(w).value(0), connectedLine1("2.3.1"));
  QCOMPARE(w.statusStrip1->currentMessage(), QString());
}

void MainWindowTest::statusOutOfRangeIsShownByItsValue() {
  apptest::Desk desk(apptest::deviceWith(12, 3, 7));
  Form1& w = desk.start();
  QCOMPARE(w.led2BrightnessJOCbox->displayText(), QString("Symbol LED Brightness - 12"));
  QCOMPARE(w.led1BrightnessJOCbox->displayText(), QString("Ambient Cfg - 3"));
  QCOMPARE(w.keypadTypeCbox->displayText(), QString("Keypad Type - 7"));
  QCOMPARE(shownLines(w).value(1), codeTableLine("Keypad Type - 7"));
  QCOMPARE(w.led2BrightnessJOCbox->currentIndex(), -1);

  // A refused choice goes back to the value the device reported, still shown by number.
  desk.talkgate.addFault(
      {.fault = talkgate::sim::Fault::Refuse, .command = talkgate::kCmdSetSymbolBrightness});
  apptest::Desk::choose(w.led2BrightnessJOCbox, 4);
  QCOMPARE(w.led2BrightnessJOCbox->displayText(), QString("Symbol LED Brightness - 12"));
  QCOMPARE(w.prev_symbolBrightness_index, 12);
}

void MainWindowTest::exitWithoutDeviceSendsNothingAndEndsProgram() {
  apptest::Desk desk;
  desk.talkgate.unplug();
  Form1& w = desk.start();
  desk.bus.resetCounters();
  QSignalSpy exitSpy(&w, &Form1::exitRequested);
  QTest::mouseClick(w.button10, Qt::LeftButton);
  QCOMPARE(exitSpy.count(), 1);
  QCOMPARE(desk.bus.reportsWritten(), 0u);
  QCOMPARE(desk.bus.reportsRead(), 0u);
}

void MainWindowTest::exitFromMenuClosesTheDevice() {
  apptest::Desk desk;
  Form1& w = desk.start();
  QVERIFY(talkgate::hid_handle != nullptr);
  desk.talkgate.clearRequests();
  QSignalSpy exitSpy(&w, &Form1::exitRequested);
  w.exitAction->trigger();
  QCOMPARE(exitSpy.count(), 1);
  QVERIFY(talkgate::hid_handle == nullptr);
  QCOMPARE(desk.commands().size(), 0u);
}

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
