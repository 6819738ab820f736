// The four-key code table editor driven through its real controls against the simulated
// Talkgate: opening checks, selection states, assignment, Reset and Apply.

#include "keycodes/my4way_layout.h"

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QWheelEvent>
#include <memory>

#include "tests/keycodes/talkgate_on_bus.h"
#include "ui/unit_picture.h"

using dorrin_usb_encoder::My4way_layout;
using talkgate::test::chooseEntry;
using talkgate::test::TalkgateOnBus;
using Bytes = std::vector<std::uint8_t>;

namespace {

const QColor kOrange{255, 165, 0};
const QColor kAqua{0, 255, 255};

QColor colourOf(const QPushButton* button) {
  return button->palette().color(QPalette::Button);
}

talkgate::sim::TalkgateState customisedDevice(const talkgate::KeyTable& table) {
  talkgate::sim::TalkgateState state;
  state.working.keypadType = 1;
  state.working.keyTable = table;
  return state;
}

}  // namespace

class My4wayLayoutTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<TalkgateOnBus> device_;
  std::unique_ptr<QWidget> owner_;
  QPointer<My4way_layout> editor_;
  QTemporaryDir pictureDir_;
  QString previousDir_;

  // Opens an editor through the main window's entry point on a device holding table.
  My4way_layout* open(const talkgate::KeyTable& table) {
    device_ = std::make_unique<TalkgateOnBus>(customisedDevice(table));
    editor_ = dorrin_usb_encoder::openKeyCodeEditor(owner_.get());
    device_->talkgate().clearRequests();
    return editor_;
  }
  QPushButton* button(const char* name) { return editor_->findChild<QPushButton*>(name); }
  QComboBox* list(const char* name) { return editor_->findChild<QComboBox*>(name); }
  void click(const char* name) { QTest::mouseClick(button(name), Qt::LeftButton); }
  Bytes lastPayload(std::uint8_t command) {
    const auto requests = device_->requests();
    for (auto it = requests.rbegin(); it != requests.rend(); ++it)
      if (it->command == command) return it->payload;
    return {};
  }
  // Lets a closed editor's deferred deletion happen.
  void flushDeletes() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

 private slots:
  void initTestCase() {
    QVERIFY(pictureDir_.isValid());
    QImage picture(30, 40, QImage::Format_RGB32);
    picture.fill(Qt::darkGray);
    QVERIFY(picture.save(pictureDir_.filePath("Lumesk.jpg"), "JPG"));
    previousDir_ = QDir::currentPath();
  }
  void init() {
    QDir::setCurrent(pictureDir_.path());
    owner_ = std::make_unique<QWidget>();
    owner_->move(140, 90);
  }
  void cleanup() {
    delete editor_.data();
    owner_.reset();
    device_.reset();
    QDir::setCurrent(previousDir_);
  }

  void statusFailureOpensNothing() {
    device_ = std::make_unique<TalkgateOnBus>(customisedDevice({}));
    device_->refuse(talkgate::kCmdStatus);
    QVERIFY(dorrin_usb_encoder::openKeyCodeEditor(owner_.get()) == nullptr);
    QCOMPARE(device_->dialogs.messages.size(), 1);
    const auto& shown = device_->dialogs.messages.first();
    QCOMPARE(shown.text, QString("Load Table-Unable to get device status..\n"));
    QCOMPARE(shown.caption, QString("Velkor Talkgate"));
    QVERIFY(shown.icon == talkgate::ui::Icon::Warning);
    QVERIFY(owner_->findChildren<My4way_layout*>().isEmpty());
  }

  void defaultTableOpensNothing() {
    talkgate::sim::TalkgateState state;
    state.working.keypadType = 0;
    device_ = std::make_unique<TalkgateOnBus>(state);
    QVERIFY(dorrin_usb_encoder::openKeyCodeEditor(owner_.get()) == nullptr);
    QCOMPARE(device_->dialogs.texts(), QStringList{"Please select a customise table..\n"});
    QCOMPARE(device_->dialogs.messages.first().caption, QString("Velkor Talkgate"));
    QCOMPARE(device_->commands(), std::vector<int>{talkgate::kCmdStatus});
  }

  void openingFillsSlotsFromTheDevice() {
    QVERIFY(open({0xE1, 0x0F, 0x00, 0x70, 0x03, 0xE2, 0xE7, 0x72, 0x11, 0x22, 0x33, 0x44}));
    QVERIFY(editor_->isVisible());
    QVERIFY(editor_->isWindow());
    QCOMPARE(editor_->parentWidget(), owner_.get());
    QCOMPARE(editor_->pos(), owner_->pos());
    QCOMPARE(editor_->size(), QSize(569, 577));
    QCOMPARE(editor_->windowTitle(), QString("Customise Keycode Table"));
    QVERIFY(!(editor_->windowFlags() & Qt::WindowCloseButtonHint));
    QCOMPARE(editor_->findChild<QLabel*>("label1")->text(),
             QString("Customise Keycode Table\n       (USB Codes in Hex)"));
    QCOMPARE(button("key1Btn")->text(), QString("Detected  0x0F"));
    QCOMPARE(button("key2Btn")->text(), QString("Not Detected 0x70"));
    QCOMPARE(button("key3Btn")->text(), QString("Day   0xE2"));  // above the list, shown as is
    QCOMPARE(button("key4Btn")->text(), QString("Night 0x72"));
    QCOMPARE(button("modifierBtn1")->text(), QString("Left Shift"));
    QCOMPARE(button("modifierBtn2")->text(), QString(" None"));
    QCOMPARE(button("modifierBtn3")->text(), QString("Left    Alt"));  // byte 3 taken as index
    QCOMPARE(button("modifierBtn4")->text(), QString("Right   Gui"));
    QVERIFY(!list("selectCodeCbox")->isVisible());
    QVERIFY(!list("selectModifierCbox")->isVisible());
    QCOMPARE(list("selectCodeCbox")->count(), 130);
    QCOMPARE(list("selectModifierCbox")->count(), 9);
    QCOMPARE(list("selectCodeCbox")->geometry(), list("selectModifierCbox")->geometry());
    QCOMPARE(list("selectCodeCbox")->placeholderText(), QString("Select Code"));
    QCOMPARE(list("selectModifierCbox")->placeholderText(), QString("Modifier"));
    QVERIFY(!editor_->findChild<QLabel*>("pictureBox1")->pixmap().isNull());
    QCOMPARE(editor_->keySelected(), 0);
    QCOMPARE(editor_->modSelected(), 0);
    QVERIFY(device_->requests().empty());  // nothing is written before Apply
  }

  void applyStraightAfterOpeningWritesWhatWasLoaded() {
    QVERIFY(open({0xE1, 0x0F, 0x00, 0x70, 0x03, 0xE2, 0xE7, 0x72, 0x11, 0x22, 0x33, 0x44}));
    click("applyBtn");
    QCOMPARE(device_->commands(), std::vector<int>{talkgate::kCmdSetKeyTable});
    // Slots 5 and 6 are not carried over from the device; a loaded byte 3 goes out as 0xE2.
    const Bytes expected{0xE1, 0x0F, 0x00, 0x70, 0xE2, 0xE2, 0xE7, 0x72, 0, 0, 0, 0};
    QCOMPARE(lastPayload(talkgate::kCmdSetKeyTable), expected);
    QVERIFY(device_->dialogs.messages.isEmpty());
    flushDeletes();
    QVERIFY(editor_.isNull());  // closes on success
    const auto table = device_->talkgate().state().working.keyTable;
    QCOMPARE(Bytes(table.begin(), table.end()), expected);
  }

  void missingPictureLeavesTheAreaEmpty() {
    QTemporaryDir empty;
    QVERIFY(QDir::setCurrent(empty.path()));
    talkgate::ui::setUnitPictureFallbackFolders({});
    const bool opened = open(talkgate::KeyTable{});
    talkgate::ui::resetUnitPictureFallbackFolders();
    QVERIFY(opened);
    QVERIFY(editor_->findChild<QLabel*>("pictureBox1")->pixmap().isNull());
    QVERIFY(editor_->isVisible());
  }

  void pictureBesideTheProgramIsFoundFromAnotherFolder() {
    QTemporaryDir empty;
    QVERIFY(QDir::setCurrent(empty.path()));
    talkgate::ui::setUnitPictureFallbackFolders({empty.path() + "/nowhere", pictureDir_.path()});
    const bool opened = open(talkgate::KeyTable{});
    talkgate::ui::resetUnitPictureFallbackFolders();
    QVERIFY(opened);
    QVERIFY(!editor_->findChild<QLabel*>("pictureBox1")->pixmap().isNull());
  }

  void codeChosenForSeveralKeysAtOnce() {
    QVERIFY(open({0, 0x6F, 0, 0x70, 0, 0x71, 0, 0x72}));
    const QColor plain = colourOf(button("key1Btn"));
    QVERIFY(plain != kOrange && plain != kAqua);
    click("key1Btn");
    click("key3Btn");
    QCOMPARE(editor_->keySelected(), 0b0101);
    QCOMPARE(colourOf(button("key1Btn")), kOrange);
    QCOMPARE(colourOf(button("key3Btn")), kOrange);
    QCOMPARE(colourOf(button("key2Btn")), plain);
    QVERIFY(list("selectCodeCbox")->isVisible());
    QVERIFY(!list("selectModifierCbox")->isVisible());

    chooseEntry(list("selectCodeCbox"), 0x28);
    QVERIFY(!list("selectCodeCbox")->isVisible());
    QCOMPARE(editor_->keyCode(1), 0x28);
    QCOMPARE(editor_->keyCode(3), 0x28);
    QCOMPARE(editor_->keyCode(2), 0x70);
    QCOMPARE(button("key1Btn")->text(), QString("Detected  0x28"));
    QCOMPARE(button("key3Btn")->text(), QString("Day  0x28"));
    QCOMPARE(button("key2Btn")->text(), QString("Not Detected 0x70"));
    QCOMPARE(colourOf(button("key1Btn")), kAqua);
    QCOMPARE(colourOf(button("key3Btn")), kAqua);
    QCOMPARE(editor_->keySelected(), 0);

    // The chosen-code prefixes of the two other keys differ from their opening ones.
    click("key2Btn");
    click("key4Btn");
    chooseEntry(list("selectCodeCbox"), 0x81);  // "VolumeDown" with its trailing tabs
    QCOMPARE(button("key2Btn")->text(), QString("Not Detected  0x81"));
    QCOMPARE(button("key4Btn")->text(), QString("Night  0x81"));
    click("applyBtn");
    QCOMPARE(lastPayload(talkgate::kCmdSetKeyTable),
             (Bytes{0, 0x28, 0, 0x81, 0, 0x28, 0, 0x81, 0, 0, 0, 0}));
  }

  // The open list shows the code (or modifier) of the buttons now selected, never an entry
  // left over from an earlier choice; the placeholder when they differ or have no entry.
  void listsShowTheSelectedButtonsEntry_data() {
    QTest::addColumn<QStringList>("presses");  // buttons; "=0x28" chooses that code entry
    QTest::addColumn<QString>("listName");
    QTest::addColumn<int>("shown");  // entry position, -1 for the placeholder
    const QString codes = "selectCodeCbox", modifiers = "selectModifierCbox";
    QTest::newRow("key 4 after key 1 got Enter")
        << QStringList{"key1Btn", "=0x28", "key4Btn"} << codes << 0x72;
    QTest::newRow("key 2 alone") << QStringList{"key2Btn"} << codes << 0x70;
    QTest::newRow("keys with different codes") << QStringList{"key1Btn", "key2Btn"} << codes << -1;
    QTest::newRow("keys now sharing a code")
        << QStringList{"key1Btn", "key3Btn", "=0x28", "key1Btn", "key3Btn"} << codes << 0x28;
    QTest::newRow("one of two deselected")
        << QStringList{"key1Btn", "key2Btn", "key2Btn"} << codes << 0x6F;
    QTest::newRow("code above the list") << QStringList{"key3Btn"} << codes << -1;
    QTest::newRow("modifier of button 2") << QStringList{"modifierBtn2"} << modifiers << 2;
    QTest::newRow("modifier of button 1") << QStringList{"modifierBtn1"} << modifiers << 0;
  }
  void listsShowTheSelectedButtonsEntry() {
    QFETCH(QStringList, presses);
    QFETCH(QString, listName);
    QFETCH(int, shown);
    QVERIFY(open({0, 0x6F, 0xE1, 0x70, 0, 0x90, 0, 0x72}));
    for (const QString& press : presses) {
      if (press.startsWith('=')) {
        chooseEntry(list("selectCodeCbox"), press.mid(1).toInt(nullptr, 16));
      } else {
        click(press.toLatin1().constData());
      }
    }
    QComboBox* shownList = list(listName.toLatin1().constData());
    QVERIFY(shownList->isVisible());
    QCOMPARE(shownList->currentIndex(), shown);
  }

  void pressingASelectedKeyMakesItPlainAgain() {
    QVERIFY(open({0, 0x6F, 0, 0x70, 0, 0x71, 0, 0x72}));
    const QColor plain = colourOf(button("key1Btn"));
    click("key1Btn");
    chooseEntry(list("selectCodeCbox"), 0x04);
    QCOMPARE(colourOf(button("key1Btn")), kAqua);
    click("key1Btn");  // a changed key is selected again at the first press
    QCOMPARE(colourOf(button("key1Btn")), kOrange);
    QCOMPARE(editor_->keySelected(), 1);
    click("key1Btn");
    QCOMPARE(colourOf(button("key1Btn")), plain);
    QCOMPARE(editor_->keySelected(), 0);
    QCOMPARE(editor_->keyCode(1), 0x04);           // the code stays changed
    QVERIFY(list("selectCodeCbox")->isVisible());  // the list stays as it was
  }

  void codeChosenWithoutSelectionOnlyHidesTheList() {
    QVERIFY(open({0, 0x6F, 0, 0x70, 0, 0x71, 0, 0x72}));
    click("key2Btn");
    click("key2Btn");
    QVERIFY(list("selectCodeCbox")->isVisible());
    chooseEntry(list("selectCodeCbox"), 0x10);
    QVERIFY(!list("selectCodeCbox")->isVisible());
    for (int slot = 1; slot <= 4; ++slot) QCOMPARE(editor_->keyCode(slot), 0x6E + slot);
    QCOMPARE(button("key2Btn")->text(), QString("Not Detected 0x70"));
  }

  void typingIntoTheCodeListAssignsNothing() {
    QVERIFY(open({0, 0x6F, 0, 0x70, 0, 0x71, 0, 0x72}));
    click("key1Btn");
    QComboBox* codes = list("selectCodeCbox");
    QTest::keyClick(codes, Qt::Key_A);
    QTest::keyClick(codes, Qt::Key_Down);
    QWheelEvent wheel(QPointF(5, 5), codes->mapToGlobal(QPointF(5, 5)), QPoint(), QPoint(0, -120),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(codes, &wheel);
    QCOMPARE(editor_->keyCode(1), 0x6F);
    QCOMPARE(editor_->keySelected(), 1);
    QVERIFY(codes->isVisible());
  }

  void modifierChosenForSeveralButtonsAtOnce() {
    QVERIFY(open({0, 0x6F, 0, 0x70, 0, 0x71, 0, 0x72}));
    const QColor plain = colourOf(button("modifierBtn1"));
    click("modifierBtn2");
    click("modifierBtn4");
    QCOMPARE(editor_->modSelected(), 0b1010);
    QCOMPARE(colourOf(button("modifierBtn2")), kOrange);
    QVERIFY(list("selectModifierCbox")->isVisible());
    QVERIFY(!list("selectCodeCbox")->isVisible());

    chooseEntry(list("selectModifierCbox"), 6);
    QVERIFY(!list("selectModifierCbox")->isVisible());
    QCOMPARE(button("modifierBtn2")->text(), QString("Right Shift"));
    QCOMPARE(button("modifierBtn4")->text(), QString("Right Shift"));
    QCOMPARE(button("modifierBtn1")->text(), QString(" None"));
    QCOMPARE(editor_->modifierIndex(2), 6);
    QCOMPARE(editor_->modifierIndex(4), 6);
    QCOMPARE(colourOf(button("modifierBtn2")), plain);
    QCOMPARE(colourOf(button("modifierBtn4")), plain);
    QCOMPARE(editor_->modSelected(), 0);

    click("modifierBtn2");  // selected again at the first press
    QCOMPARE(editor_->modSelected(), 0b0010);
    QCOMPARE(colourOf(button("modifierBtn2")), kOrange);
    click("modifierBtn2");
    QCOMPARE(colourOf(button("modifierBtn2")), plain);

    click("applyBtn");
    QCOMPARE(lastPayload(talkgate::kCmdSetKeyTable),
             (Bytes{0, 0x6F, 0xE5, 0x70, 0, 0x71, 0xE5, 0x72, 0, 0, 0, 0}));
  }

  void selectingAKeyKeepsTheModifierSelection() {
    QVERIFY(open({0, 0x6F, 0, 0x70, 0, 0x71, 0, 0x72}));
    click("modifierBtn3");
    click("key1Btn");
    QVERIFY(list("selectCodeCbox")->isVisible());
    QVERIFY(!list("selectModifierCbox")->isVisible());
    QCOMPARE(editor_->modSelected(), 0b0100);
    QCOMPARE(colourOf(button("modifierBtn3")), kOrange);
    click("modifierBtn1");  // and back: the key selection survives too
    QVERIFY(!list("selectCodeCbox")->isVisible());
    QVERIFY(list("selectModifierCbox")->isVisible());
    QCOMPARE(editor_->keySelected(), 0b0001);
  }

  void resetRestoresTheFixedTableWithoutSending() {
    QVERIFY(open({0xE0, 0x04, 0xE1, 0x05, 0xE2, 0x06, 0xE3, 0x07}));
    const QColor plainKey = colourOf(button("key1Btn"));
    const QColor plainModifier = colourOf(button("modifierBtn1"));
    click("key1Btn");
    chooseEntry(list("selectCodeCbox"), 0x30);
    click("key2Btn");
    click("modifierBtn3");
    QVERIFY(list("selectModifierCbox")->isVisible());

    click("resetBtn");
    QVERIFY(device_->requests().empty());
    QCOMPARE(button("key1Btn")->text(), QString("Detected  0x6F"));
    QCOMPARE(button("key2Btn")->text(), QString("Not Detected 0x70"));
    QCOMPARE(button("key3Btn")->text(), QString("Day 0x71"));
    QCOMPARE(button("key4Btn")->text(), QString("Night 0x72"));
    for (const char* name : {"modifierBtn1", "modifierBtn2", "modifierBtn3", "modifierBtn4"}) {
      QCOMPARE(button(name)->text(), QString("None"));
      QCOMPARE(colourOf(button(name)), plainModifier);
    }
    for (const char* name : {"key1Btn", "key2Btn", "key3Btn", "key4Btn"})
      QCOMPARE(colourOf(button(name)), plainKey);
    QCOMPARE(editor_->keySelected(), 0);
    QCOMPARE(editor_->modSelected(), 0);
    QVERIFY(list("selectModifierCbox")->isVisible());  // visibility untouched

    click("applyBtn");
    QCOMPARE(lastPayload(talkgate::kCmdSetKeyTable),
             (Bytes{0x00, 0x6F, 0x00, 0x70, 0x00, 0x71, 0x00, 0x72, 0x00, 0x52, 0x00, 0x28}));
  }

  void failedApplyKeepsTheEditorAndRetriesTheSamePayload() {
    QVERIFY(open({0xE4, 0x1E, 0, 0x70, 0, 0x71, 0, 0x72}));
    click("key3Btn");
    chooseEntry(list("selectCodeCbox"), 0x2C);
    device_->refuse(talkgate::kCmdSetKeyTable);
    click("applyBtn");
    QCOMPARE(device_->dialogs.texts(), QStringList{"Unable to Load Table..\n"});
    QCOMPARE(device_->dialogs.messages.first().caption, QString("Velkor Quillet"));
    QVERIFY(device_->dialogs.messages.first().icon == talkgate::ui::Icon::Warning);
    flushDeletes();
    QVERIFY(!editor_.isNull());
    QVERIFY(editor_->isVisible());
    QCOMPARE(button("key3Btn")->text(), QString("Day  0x2C"));
    QCOMPARE(colourOf(button("key3Btn")), kAqua);
    const Bytes first = lastPayload(talkgate::kCmdSetKeyTable);

    click("applyBtn");
    QCOMPARE(device_->commands(), (std::vector<int>{6, 6}));
    QCOMPARE(lastPayload(talkgate::kCmdSetKeyTable), first);
    QCOMPARE(first, (Bytes{0xE4, 0x1E, 0, 0x70, 0, 0x2C, 0, 0x72, 0, 0, 0, 0}));
    flushDeletes();
    QVERIFY(editor_.isNull());
  }

  void modifierBytesWithoutEntryAreWrittenBackUnchanged() {
    QVERIFY(open({0x09, 0x04, 0xE8, 0x05, 0xDF, 0x06, 0xFF, 0x07}));
    QCOMPARE(button("modifierBtn1")->text(), QString("0x09"));
    QCOMPARE(button("modifierBtn2")->text(), QString("0xE8"));
    QCOMPARE(button("modifierBtn3")->text(), QString("0xDF"));
    QCOMPARE(button("modifierBtn4")->text(), QString("0xFF"));
    QCOMPARE(editor_->tableToWrite()[0], 0x09);
    // A modifier chosen by the operator replaces the raw byte.
    click("modifierBtn3");
    chooseEntry(list("selectModifierCbox"), 0);
    QCOMPARE(button("modifierBtn3")->text(), QString(" None"));
    device_->refuse(talkgate::kCmdSetKeyTable);
    click("applyBtn");
    QCOMPARE(lastPayload(talkgate::kCmdSetKeyTable),
             (Bytes{0x09, 0x04, 0xE8, 0x05, 0x00, 0x06, 0xFF, 0x07, 0, 0, 0, 0}));
    // Reset drops the raw bytes as well.
    click("resetBtn");
    click("applyBtn");
    QCOMPARE(lastPayload(talkgate::kCmdSetKeyTable),
             (Bytes{0x00, 0x6F, 0x00, 0x70, 0x00, 0x71, 0x00, 0x72, 0x00, 0x52, 0x00, 0x28}));
  }

  void closeWritesNothing() {
    QVERIFY(open({0, 0x6F, 0, 0x70, 0, 0x71, 0, 0x72}));
    click("key1Btn");
    chooseEntry(list("selectCodeCbox"), 0x05);
    click("exitBtn");
    flushDeletes();
    QVERIFY(editor_.isNull());
    QVERIFY(device_->requests().empty());
    QCOMPARE(device_->talkgate().state().working.keyTable[1], 0x6F);
  }

  void eachOpeningGivesANewEditor() {
    QVERIFY(open({0, 0x6F, 0, 0x70, 0, 0x71, 0, 0x72}));
    QPointer<My4way_layout> second = dorrin_usb_encoder::openKeyCodeEditor(owner_.get());
    QVERIFY(second);
    QVERIFY(second != editor_);
    QCOMPARE(owner_->findChildren<My4way_layout*>().size(), 2);
    delete second.data();
  }
};

QTEST_MAIN(My4wayLayoutTest)
#include "my4way_layout_test.moc"
