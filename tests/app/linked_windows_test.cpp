// The windows the main window's buttons open: key code editor, self test, firmware upgrade.

#include <QAction>
#include <QApplication>
#include <QPushButton>
#include <QStatusBar>
#include <QWindow>
#include <QtTest>

#include "app/about.h"
#include "devtest/self_test.h"
#include "firmware/firmware_upgrade.h"
#include "keycodes/my4way_layout.h"
#include "tests/app/app_fixture.h"

using dorrin_usb_encoder::firmware_upgrade;
using dorrin_usb_encoder::Form1;

namespace {

template <typename Window>
QList<Window*> openWindows() {
  QList<Window*> found;
  for (QWidget* top : QApplication::topLevelWidgets()) {
    if (auto* window = qobject_cast<Window*>(top); window && window->isVisible()) found << window;
  }
  return found;
}

}  // namespace

class LinkedWindowsTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    QVERIFY(userFolder_.isValid());
    apptest::isolateUserFolder(userFolder_);
  }

  void customiseCodeTableOpensEditorAtMainWindow();
  void testOpensSelfTestAtMainWindowAndKeepsIt();
  void upgradeWindowOpensWithTheSnapshotJustRead();
  void upgradeWindowWithoutStatusKeepsEarlierSnapshot();
  void snapshotIsTakenEvenWhenTheUpgradeIsDeclined();
  void secondaryWindowsAreOwnedByTheMainWindow();
  void windowsAtTheirSmallestShowEveryButton();
  void updateFirmwareDuringAnUpgradeOnlyBringsItsWindowForward();

 private:
  QTemporaryDir userFolder_;
};

void LinkedWindowsTest::customiseCodeTableOpensEditorAtMainWindow() {
  apptest::Desk desk(apptest::deviceWith(5, 0, 1));
  Form1& w = desk.start();
  w.move(40, 60);
  QTest::mouseClick(w.button1, Qt::LeftButton);
  QTest::mouseClick(w.button1, Qt::LeftButton);
  const auto editors = openWindows<dorrin_usb_encoder::My4way_layout>();
  QCOMPARE(editors.size(), 2);  // each press opens a new one
  QCOMPARE(editors[0]->pos(), w.pos());
  QVERIFY(desk.dialogs.messages.isEmpty());
}

void LinkedWindowsTest::testOpensSelfTestAtMainWindowAndKeepsIt() {
  apptest::Desk desk(apptest::deviceWith(5, 0, 0));
  Form1& w = desk.start();
  w.move(70, 30);
  desk.talkgate.clearRequests();
  QTest::mouseClick(w.button2, Qt::LeftButton);

  QVERIFY(!w.selfTestFrm.isNull());
  QVERIFY(qobject_cast<dorrin_usb_encoder::self_test*>(w.selfTestFrm.data()) != nullptr);
  QVERIFY(w.selfTestFrm->isVisible());
  QCOMPARE(w.selfTestFrm->pos(), w.pos());
  QCOMPARE(desk.commands().front(), int(talkgate::kCmdStatus));
  QVERIFY(desk.dialogs.messages.isEmpty());
}

void LinkedWindowsTest::upgradeWindowOpensWithTheSnapshotJustRead() {
  auto state = apptest::deviceWith(4, 1, 1);
  state.working.keyTable = {0, 0x3A, 0xE1, 0x3B, 0, 0x3C, 0, 0x3D, 0, 0, 0, 0};
  apptest::Desk desk(state);
  Form1& w = desk.start();
  w.move(50, 50);
  QTest::mouseClick(w.btnLoadFirmware, Qt::LeftButton);

  const auto windows = openWindows<firmware_upgrade>();
  QCOMPARE(windows.size(), 1);
  QCOMPARE(windows[0]->pos(), w.pos());
  QCOMPARE(firmware_upgrade::keypadType, 1);
  QCOMPARE(firmware_upgrade::led2Brightness_jo, 4);
  QCOMPARE(firmware_upgrade::led1Brightness_jo, 1);
  QCOMPARE(firmware_upgrade::serialNumber, QString("TG123456"));
  QCOMPARE(int(firmware_upgrade::key_codes[2]), 0xE1);
  QCOMPARE(int(firmware_upgrade::key_codes[3]), 0x3B);
}

void LinkedWindowsTest::upgradeWindowWithoutStatusKeepsEarlierSnapshot() {
  firmware_upgrade::setSettingsSnapshot(1, talkgate::KeyTable{}, "EARLIER1", 6, 1);
  apptest::Desk desk(apptest::deviceWith(2, 0, 0));
  Form1& w = desk.start();
  desk.talkgate.unplug();
  QTest::mouseClick(w.btnLoadFirmware, Qt::LeftButton);

  QCOMPARE(openWindows<firmware_upgrade>().size(), 1);
  QCOMPARE(firmware_upgrade::serialNumber, QString("EARLIER1"));
  QCOMPARE(firmware_upgrade::led2Brightness_jo, 6);
  QCOMPARE(firmware_upgrade::keypadType, 1);
}

void LinkedWindowsTest::snapshotIsTakenEvenWhenTheUpgradeIsDeclined() {
  firmware_upgrade::setSettingsSnapshot(0, talkgate::KeyTable{}, "EARLIER1", 0, 0);
  auto state = apptest::deviceWith(6, 1, 1);
  state.working.keyTable = {0, 0x3A, 0xE1, 0x3B, 0, 0x3C, 0, 0x3D, 0, 0, 0, 0};
  apptest::Desk desk(state);
  Form1& w = desk.start();
  desk.dialogs.questionAnswers = {talkgate::ui::Answer::No};
  QTest::mouseClick(w.btnLoadFirmware, Qt::LeftButton);

  QVERIFY(openWindows<firmware_upgrade>().isEmpty());
  QCOMPARE(firmware_upgrade::serialNumber, QString("TG123456"));
  QCOMPARE(firmware_upgrade::led2Brightness_jo, 6);
  QCOMPARE(firmware_upgrade::led1Brightness_jo, 1);
  QCOMPARE(firmware_upgrade::keypadType, 1);
  QCOMPARE(int(firmware_upgrade::key_codes[2]), 0xE1);
  QVERIFY(firmware_upgrade::snapshotTaken);
}

void LinkedWindowsTest::secondaryWindowsAreOwnedByTheMainWindow() {
  apptest::Desk desk(apptest::deviceWith(5, 0, 1));  // the editor needs the customised table
  Form1& w = desk.start();
  w.move(40, 60);
  QTest::mouseClick(w.button1, Qt::LeftButton);
  QTest::mouseClick(w.button2, Qt::LeftButton);
  w.aboutAction->trigger();
  QTest::mouseClick(w.btnLoadFirmware, Qt::LeftButton);  // answered Yes

  const QList<QWidget*> opened = {openWindows<dorrin_usb_encoder::My4way_layout>().value(0),
                                  openWindows<dorrin_usb_encoder::self_test>().value(0),
                                  openWindows<dorrin_usb_encoder::about>().value(0),
                                  openWindows<firmware_upgrade>().value(0)};
  for (QWidget* window : opened) {
    QVERIFY(window != nullptr);
    // Owned: a window of its own that the window system keeps above the main window.
    QVERIFY(window->isWindow());
    QCOMPARE(window->parentWidget(), &w);
    QVERIFY(window->windowHandle() != nullptr);
    QCOMPARE(window->windowHandle()->transientParent(), w.windowHandle());
    QCOMPARE(window->pos(), w.pos());
  }
  // They leave with it.
  QList<QPointer<QWidget>> watched(opened.begin(), opened.end());
  desk.window.reset();
  for (const auto& window : watched) QVERIFY(window.isNull());
}

void LinkedWindowsTest::windowsAtTheirSmallestShowEveryButton() {
  apptest::Desk desk(apptest::deviceWith(5, 0, 1));
  Form1& w = desk.start();
  QTest::mouseClick(w.button1, Qt::LeftButton);
  QTest::mouseClick(w.button2, Qt::LeftButton);
  w.aboutAction->trigger();
  QTest::mouseClick(w.btnLoadFirmware, Qt::LeftButton);
  const QList<QWidget*> windows = {&w, openWindows<dorrin_usb_encoder::My4way_layout>().value(0),
                                   openWindows<dorrin_usb_encoder::self_test>().value(0),
                                   openWindows<dorrin_usb_encoder::about>().value(0),
                                   openWindows<firmware_upgrade>().value(0)};
  for (QWidget* window : windows) {
    QVERIFY(window != nullptr);
    window->resize(window->minimumSize());
    QCoreApplication::processEvents();
    // Nothing may cover a button either: the main window's status bar lies over its client.
    const QRect covered = window == &w ? w.statusStrip1->geometry() : QRect();
    for (QPushButton* button : window->findChildren<QPushButton*>()) {
      if (!button->isVisibleTo(window) || button->window() != window) continue;
      const QRect shown(button->mapTo(window, QPoint(0, 0)), button->size());
      QVERIFY2(window->rect().contains(shown) && !shown.intersects(covered),
               qPrintable(window->windowTitle() + ": " + button->text()));
    }
  }
}

void LinkedWindowsTest::updateFirmwareDuringAnUpgradeOnlyBringsItsWindowForward() {
  apptest::Desk desk(apptest::deviceWith(5, 0, 0));
  Form1& w = desk.start();
  QTest::mouseClick(w.btnLoadFirmware, Qt::LeftButton);
  firmware_upgrade* upgrade = openWindows<firmware_upgrade>().value(0);
  QVERIFY(upgrade != nullptr);
  // The worker starts (with no file, it ends at once, but its end is reported through the
  // event queue): until then the upgrade runs.
  QVERIFY(QMetaObject::invokeMethod(upgrade, "btnUpgrade_MouseClick"));
  QVERIFY(upgrade->upgradeRunning());
  const auto commandsBefore = desk.commands();
  desk.dialogs.clear();

  QTest::mouseClick(w.btnLoadFirmware, Qt::LeftButton);
  QCOMPARE(openWindows<firmware_upgrade>(), QList<firmware_upgrade*>{upgrade});
  QCOMPARE(desk.commands(), commandsBefore);  // no status read, no second command 9
  QVERIFY(desk.dialogs.messages.isEmpty());   // not even the question
  QTRY_VERIFY(!upgrade->upgradeRunning());
}

QTEST_MAIN(LinkedWindowsTest)
#include "linked_windows_test.moc"
