#include "devtest/self_test.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <chrono>

#include "device/clock.h"
#include "device/commands.h"
#include "ui/dialogs.h"
#include "ui/unit_picture.h"
#include "ui/window_geometry.h"

namespace dorrin_usb_encoder {
namespace {

constexpr QSize kClientSize{763, 621};
constexpr QSize kMinimumSize{751, 500};
constexpr QSize kMaximumSize{900, 800};
constexpr std::chrono::milliseconds kClosePollInterval{100};
constexpr int kLedOn = 9;
constexpr int kLedOff = 0;
constexpr int kDefaultKeyTable = 0;
const QColor kLitColour{0, 0, 255};
const QColor kDarkColour{255, 255, 255};
// White on the window's light grey needs an edge to be seen at all.
const QColor kIndicatorEdge{96, 96, 96};
const Qt::KeyboardModifiers kHeldModifiers =
    Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier;

// A raised button face in one colour with a dark edge, so that both colours stand out.
void setButtonColour(QPushButton* button, const QColor& colour) {
  QPalette palette = button->palette();
  palette.setColor(QPalette::Button, colour);
  button->setPalette(palette);
  button->setStyleSheet(
      QStringLiteral("QPushButton { background-color: %1; border: 3px outset %2; }")
          .arg(colour.name(), kIndicatorEdge.name()));
}

}  // namespace

self_test::self_test(QWidget* parent)
    // Dialog-type: the window manager keeps it in front of its owner.
    : QWidget(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(QStringLiteral("Test Talkgate "));
  resize(kClientSize);
  setMinimumSize(kMinimumSize);
  setMaximumSize(kMaximumSize);
  // The window takes every key itself, before any control sees it.
  setFocusPolicy(Qt::StrongFocus);
  buildControls();
  // Shorter would cut "Close".
  talkgate::ui::keepEveryControlInView(*this);
  if (QScreen* display = screen()) move(display->availableGeometry().center() - rect().center());
  endBtn_->setEnabled(true);
  InitializeSelfTest();
}

self_test::~self_test() {
  stopWorker();
  // Destroyed without its completion having run: the device must not stay on the test table.
  if (workerRunning_) {
    setKeyboardTable(keypadType_index);
    SetSymbolLed(prev_symbolBrightness_index);
  }
}

void self_test::buildControls() {
  label3_ = new QLabel(QStringLiteral("TEST Talkgate"), this);
  label3_->setObjectName("label3");
  label3_->setFont(QFont(QStringLiteral("Microsoft Sans Serif"), 24));
  label3_->setGeometry(250, 15, 320, 56);

  pictureBox1_ = new QLabel(this);
  pictureBox1_->setObjectName("pictureBox1");
  pictureBox1_->setAlignment(Qt::AlignCenter);
  pictureBox1_->setGeometry(40, 90, 330, 462);

  button1_ = new QPushButton(this);
  button1_->setObjectName("button1");
  button1_->setGeometry(470, 200, 75, 134);
  // Until the first key it is a plain raised button, so the operator sees where the LED shows.

  endBtn_ = new QPushButton(QStringLiteral("Close"), this);
  endBtn_->setObjectName("endBtn");
  QFont endFont = endBtn_->font();
  endFont.setPointSize(18);
  endBtn_->setFont(endFont);
  endBtn_->setGeometry(590, 540, 140, 50);
  connect(endBtn_, &QPushButton::clicked, this, &self_test::endBtn_MouseClick_1);

  for (QWidget* control : {static_cast<QWidget*>(label3_), static_cast<QWidget*>(pictureBox1_),
                           static_cast<QWidget*>(button1_), static_cast<QWidget*>(endBtn_)}) {
    control->setFocusPolicy(Qt::NoFocus);
    control->installEventFilter(this);
  }
}

void self_test::setPicture(const QString& path) {
  talkgate::ui::showPicture(pictureBox1_, path);
}

void self_test::InitializeSelfTest() {
  closeForm = 0;
  connect(this, &self_test::workerFinished, this, &self_test::onWorkerFinished,
          Qt::QueuedConnection);
  std::uint16_t ambient = 0;
  talkgate::readAmbientValue(talkgate::hid_handle, ambient);  // the value is not used
  if (GetDeviceStatusMessage() != 0) {
    talkgate::ui::dialogs().message(this, QStringLiteral("Device status message error..\n"),
                                    QStringLiteral("Velkor USB Encoder"), talkgate::ui::Buttons::Ok,
                                    talkgate::ui::Icon::Warning);
    return;
  }
  workerRunning_ = true;
  worker_ = std::thread([this] {
    // Nothing may escape the thread; the completion must run whatever happened here.
    try {
      setKeyboardTable(kDefaultKeyTable);  // the result is not looked at
      while (closeForm.load() == 0) {
        talkgate::activeClock().sleepFor(kClosePollInterval);
        std::this_thread::yield();  // a manual clock returns at once
      }
    } catch (...) {
    }
    emit workerFinished();
  });
}

int self_test::GetDeviceStatusMessage() {
  talkgate::DeviceStatus status;
  if (talkgate::readStatus(talkgate::hid_handle, status) != talkgate::kOk) return -1;
  keypadType_index = status.keypadType;
  prev_symbolBrightness_index = status.symbolBrightness;
  return 0;
}

int self_test::SetSymbolLed(int on_off) {
  return talkgate::setSymbolBrightness(talkgate::hid_handle, static_cast<std::uint8_t>(on_off));
}

int self_test::setKeyboardTable(int table) {
  return talkgate::setKeypadType(talkgate::hid_handle, static_cast<std::uint8_t>(table));
}

void self_test::setIndicator(bool lit) {
  indicatorLit_ = lit;
  setButtonColour(button1_, lit ? kLitColour : kDarkColour);
}

void self_test::ProcessCmdKey(const QKeyEvent* event) {
  // Without a running test there is no brightness to put back, so the LED is left alone.
  if (!workerRunning_ || closeForm.load() != 0 || event->isAutoRepeat()) return;
  if (event->modifiers() & kHeldModifiers) return;
  if (event->key() == Qt::Key_F20) {
    setIndicator(true);
    SetSymbolLed(kLedOn);
  } else if (event->key() == Qt::Key_F21) {
    setIndicator(false);
    SetSymbolLed(kLedOff);
  }
}

void self_test::keyPressEvent(QKeyEvent* event) {
  ProcessCmdKey(event);
  event->accept();
}

void self_test::keyReleaseEvent(QKeyEvent* event) {
  event->accept();
}

bool self_test::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress) {
    ProcessCmdKey(static_cast<QKeyEvent*>(event));
    return true;
  }
  if (event->type() == QEvent::KeyRelease) return true;
  return QWidget::eventFilter(watched, event);
}

bool self_test::focusNextPrevChild(bool) {
  return false;
}  // Tab is a key like any other

void self_test::endBtn_MouseClick_1() {
  endBtn_->setEnabled(false);
  closeForm = 1;
  // With no worker (the status read failed) nothing else would ever close the window.
  if (!workerRunning_) close();
}

void self_test::onWorkerFinished() {
  // Already ended by a close from outside.
  if (!workerRunning_) return;
  finishTest();
  close();
}

void self_test::finishTest() {
  endBtn_->setEnabled(false);
  stopWorker();
  workerRunning_ = false;
  setKeyboardTable(keypadType_index);
  SetSymbolLed(prev_symbolBrightness_index);
}

void self_test::closeEvent(QCloseEvent* event) {
  // Closed from outside (the program ending, the window manager): the test ends now, while
  // the device is still open, so its own settings go back before anything else happens.
  if (workerRunning_) finishTest();
  event->accept();
}

void self_test::stopWorker() {
  closeForm = 1;
  if (worker_.joinable()) worker_.join();
}

}  // namespace dorrin_usb_encoder
