// The self test window driven with key events against the simulated Talkgate: the request
// sequence, the LED keys, the restoring end and the failed status read.

#include "devtest/self_test.h"

#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

#include "tests/keycodes/talkgate_on_bus.h"

using dorrin_usb_encoder::self_test;
using talkgate::test::TalkgateOnBus;
using Request = std::pair<int, std::vector<std::uint8_t>>;

namespace {

constexpr int kWorkerWaitMs = 2000;  // the worker polls a manual clock, so this is generous
const QColor kBlue{0, 0, 255};
const QColor kWhite{255, 255, 255};

talkgate::sim::TalkgateState deviceWith(int keypadType, int brightness) {
  talkgate::sim::TalkgateState state;
  state.working.keypadType = static_cast<std::uint8_t>(keypadType);
  state.working.symbolBrightness = static_cast<std::uint8_t>(brightness);
  return state;
}

}  // namespace

class SelfTestTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<TalkgateOnBus> device_;
  QPointer<self_test> window_;

  std::vector<Request> requests() const {
    std::vector<Request> out;
    for (const auto& r : device_->requests()) out.emplace_back(r.command, r.payload);
    return out;
  }
  // Opens a window and waits until its worker has put the device on the default table.
  bool openRunning(int keypadType, int brightness) {
    device_ = std::make_unique<TalkgateOnBus>(deviceWith(keypadType, brightness));
    window_ = new self_test();
    window_->show();
    const auto keypadTypeZero = std::vector<std::uint8_t>{0};
    return QTest::qWaitFor(
        [&] {
          const auto sent = requests();
          return !sent.empty() && sent.back() == Request{11, keypadTypeZero};
        },
        kWorkerWaitMs);
  }
  QPushButton* button(const char* name) { return window_->findChild<QPushButton*>(name); }
  QColor indicatorColour() { return button("button1")->palette().color(QPalette::Button); }

 private slots:
  void cleanup() {
    delete window_.data();
    device_.reset();
  }

  void completeTestSwitchesTablesAndRestoresSettings() {
    QVERIFY(openRunning(1, 4));
    QCOMPARE(window_->windowTitle(), QString("Test Talkgate "));
    QCOMPARE(window_->size(), QSize(763, 621));
    QCOMPARE(window_->findChild<QLabel*>("label3")->text(), QString("TEST Talkgate"));
    QVERIFY(button("endBtn")->isEnabled());
    QCOMPARE(requests(), (std::vector<Request>{{12, {}}, {1, {}}, {11, {0}}}));
    QCOMPARE(device_->talkgate().state().working.keypadType, 0);

    QTest::keyClick(window_.data(), Qt::Key_F20);
    QVERIFY(window_->indicatorLit());
    QCOMPARE(indicatorColour(), kBlue);
    QTest::keyClick(window_.data(), Qt::Key_F20);
    QCOMPARE(indicatorColour(), kBlue);
    QTest::keyClick(window_.data(), Qt::Key_F21);
    QVERIFY(!window_->indicatorLit());
    QCOMPARE(indicatorColour(), kWhite);
    QTest::keyClick(window_.data(), Qt::Key_F20);
    QCOMPARE(device_->talkgate().state().working.symbolBrightness, 9);

    QTest::mouseClick(button("endBtn"), Qt::LeftButton);
    QVERIFY(!window_.isNull());  // the worker's completion closes it, later
    QVERIFY(!button("endBtn")->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(window_.isNull(), kWorkerWaitMs);
    QCOMPARE(requests(), (std::vector<Request>{{12, {}},
                                               {1, {}},
                                               {11, {0}},
                                               {3, {9}},
                                               {3, {9}},
                                               {3, {0}},
                                               {3, {9}},
                                               {11, {1}},
                                               {3, {4}}}));
    const auto state = device_->talkgate().state().working;
    QCOMPARE(state.keypadType, 1);
    QCOMPARE(state.symbolBrightness, 4);
  }

  void indicatorIsAVisibleButtonInEveryState() {
    QVERIFY(openRunning(0, 2));
    QPushButton* indicator = button("button1");
    const QPoint centre = indicator->rect().center();
    const QPoint edge(0, indicator->height() / 2);
    const auto look = [&] { return indicator->grab().toImage(); };
    QVERIFY(indicator->text().isEmpty());
    QVERIFY(indicator->isVisible());

    // Before any key: a raised button, whose edge stands out from its face.
    const QImage before = look();
    QVERIFY(before.pixelColor(edge) != before.pixelColor(centre));
    QVERIFY(before.pixelColor(centre) != kBlue);

    QTest::keyClick(window_.data(), Qt::Key_F20);
    const QImage lit = look();
    QCOMPARE(lit.pixelColor(centre), kBlue);
    QVERIFY(lit.pixelColor(edge) != kBlue);

    // White needs a dark edge to be seen on the light window.
    QTest::keyClick(window_.data(), Qt::Key_F21);
    const QImage dark = look();
    QCOMPARE(dark.pixelColor(centre), kWhite);
    QVERIFY(qGray(dark.pixelColor(edge).rgb()) < 160);
  }

  void keysHeldWithAModifierAreIgnored() {
    QVERIFY(openRunning(0, 2));
    QTest::keyClick(window_.data(), Qt::Key_F20, Qt::ShiftModifier);
    QTest::keyClick(window_.data(), Qt::Key_F20, Qt::ControlModifier);
    QTest::keyClick(window_.data(), Qt::Key_F21, Qt::AltModifier);
    QTest::keyClick(window_.data(), Qt::Key_F19);
    QTest::keyClick(window_.data(), Qt::Key_A);
    QCOMPARE(device_->commands(), (std::vector<int>{12, 1, 11}));
    QVERIFY(!window_->indicatorLit());
  }

  void keysReachTheWindowBeforeItsControls() {
    QVERIFY(openRunning(0, 2));
    // A key aimed at a control is the window's: F20 still acts, Space does not press Close.
    QTest::keyClick(button("endBtn"), Qt::Key_F20);
    QTest::keyClick(button("endBtn"), Qt::Key_Space);
    QTest::keyClick(button("button1"), Qt::Key_F21);
    QVERIFY(button("endBtn")->isEnabled());
    QCOMPARE(requests(), (std::vector<Request>{{12, {}}, {1, {}}, {11, {0}}, {3, {9}}, {3, {0}}}));
    QVERIFY(window_->isVisible());
  }

  void closingTheWindowOtherwiseStillRestores() {
    QVERIFY(openRunning(1, 7));
    window_->close();  // e.g. the window manager's shortcut
    QTRY_VERIFY_WITH_TIMEOUT(window_.isNull(), kWorkerWaitMs);
    const auto codes = device_->commands();
    QCOMPARE(codes, (std::vector<int>{12, 1, 11, 11, 3}));
    QCOMPARE(device_->talkgate().state().working.keypadType, 1);
    QCOMPARE(device_->talkgate().state().working.symbolBrightness, 7);
  }

  void destroyingARunningTestRestores() {
    QVERIFY(openRunning(1, 3));
    delete window_.data();
    QCOMPARE(requests().back(), (Request{3, {3}}));
    QCOMPARE(device_->talkgate().state().working.keypadType, 1);
  }

  void failedStatusReadLeavesAClosableWindow() {
    device_ = std::make_unique<TalkgateOnBus>(deviceWith(1, 5));
    device_->refuse(talkgate::kCmdStatus);
    window_ = new self_test();
    window_->show();
    QCOMPARE(device_->dialogs.texts(), QStringList{"Device status message error..\n"});
    QCOMPARE(device_->dialogs.messages.first().caption, QString("Velkor USB Encoder"));
    QVERIFY(device_->dialogs.messages.first().icon == talkgate::ui::Icon::Warning);
    QVERIFY(!window_->testRunning());
    // No worker: the device keeps its table, and the LED keys change nothing that could not
    // be put back.
    QTest::keyClick(window_.data(), Qt::Key_F20);
    QCOMPARE(device_->commands(), (std::vector<int>{12, 1}));
    QTest::mouseClick(button("endBtn"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(window_.isNull(), kWorkerWaitMs);
    QCOMPARE(device_->commands(), (std::vector<int>{12, 1}));
    QCOMPARE(device_->talkgate().state().working.keypadType, 1);
  }

  void pictureIsOptional() {
    QVERIFY(openRunning(0, 0));
    auto* picture = window_->findChild<QLabel*>("pictureBox1");
    window_->setPicture("/nonexistent/Lumesk.jpg");
    QVERIFY(picture->pixmap().isNull());
    QTemporaryDir dir;
    QImage image(20, 28, QImage::Format_RGB32);
    image.fill(Qt::gray);
    QVERIFY(image.save(dir.filePath("Lumesk.jpg"), "JPG"));
    window_->setPicture(dir.filePath("Lumesk.jpg"));
    QVERIFY(!picture->pixmap().isNull());
  }
};

QTEST_MAIN(SelfTestTest)
#include "self_test_test.moc"
