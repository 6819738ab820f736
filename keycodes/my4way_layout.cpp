#include "keycodes/my4way_layout.h"

#include <QComboBox>
#include <QDir>
#include <QEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>

#include "device/commands.h"
#include "ui/dialogs.h"
#include "ui/unit_picture.h"
#include "ui/window_geometry.h"

namespace dorrin_usb_encoder {
namespace {

namespace kc = talkgate::keycodes;

constexpr QSize kClientSize{569, 577};
constexpr QSize kMinimumSize{75, 500};
constexpr QSize kMaximumSize{900, 800};
const QColor kSelectedColour{255, 165, 0};  // orange
const QColor kChangedColour{0, 255, 255};   // aqua

const QString kCaption = QStringLiteral("Customise Keycode Table");
const QString kEditorMessageCaption = QStringLiteral("Velkor Quillet");
const QString kOpeningMessageCaption = QStringLiteral("Velkor Talkgate");

// Label prefixes of the four key buttons; each moment that writes a label has its own.
const std::array<QString, 4> kOpeningPrefix{"Detected  ", "Not Detected ", "Day   ", "Night "};
const std::array<QString, 4> kChosenPrefix{"Detected  ", "Not Detected  ", "Day  ", "Night  "};
const std::array<QString, 4> kResetPrefix{"Detected  ", "Not Detected ", "Day ", "Night "};

QColor buttonColour(const QPushButton* button) {
  return button->palette().color(QPalette::Button);
}

void setButtonColour(QPushButton* button, const QColor& colour) {
  QPalette palette = button->palette();
  palette.setColor(QPalette::Button, colour);
  button->setPalette(palette);
}

QString toQString(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// Keys that open a closed drop-down list; everything else typed into it is swallowed, so only
// a choice made from the open list acts.
bool opensPopup(const QKeyEvent* key) {
  const bool alt = key->modifiers() & Qt::AltModifier;
  return key->key() == Qt::Key_F4 || key->key() == Qt::Key_Space ||
         (alt && (key->key() == Qt::Key_Down || key->key() == Qt::Key_Up));
}

}  // namespace

My4way_layout::My4way_layout(QWidget* owner)
    // Dialog-type: the window manager keeps it in front of its owner.
    : QWidget(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(kCaption);
  resize(kClientSize);
  setMinimumSize(kMinimumSize);
  setMaximumSize(kMaximumSize);
  buildControls();
  // Narrower or shorter would cut "Reset", "Apply" and "Close" or the keys.
  talkgate::ui::keepEveryControlInView(*this);

  // Load: lists hidden until a button is selected, colours captured for deselection.
  selectCodeCbox_->hide();
  selectModifierCbox_->hide();
  defaultButtonBackColor_ = buttonColour(keyBtn_[0]);
  currentMBColour_ = buttonColour(modifierBtn_[0]);
  for (int key = 0; key < kKeyButtons; ++key) {
    setKeyLabel(key, kOpeningPrefix[static_cast<std::size_t>(key)]);
    setModifierLabel(key, modifierText(key));
  }
  keySelected_ = 0;
  modSelected_ = 0;
}

void My4way_layout::buildControls() {
  label1_ = new QLabel(QStringLiteral("Customise Keycode Table\n       (USB Codes in Hex)"), this);
  label1_->setObjectName("label1");
  QFont headingFont = label1_->font();
  headingFont.setPointSize(13);
  headingFont.setBold(true);
  label1_->setFont(headingFont);
  label1_->setGeometry(15, 10, 320, 56);

  pictureBox1_ = new QLabel(this);
  pictureBox1_->setObjectName("pictureBox1");
  pictureBox1_->setAlignment(Qt::AlignCenter);
  pictureBox1_->setGeometry(170, 90, 230, 322);

  // Key 1 and 2 at one height left and right of the picture, 3 and 4 lower down; each
  // modifier button directly above its key button.
  const std::array<QPoint, kKeyButtons> keyPos{QPoint(12, 185), QPoint(408, 185), QPoint(12, 325),
                                               QPoint(408, 325)};
  constexpr int kKeyWidth = 150;
  constexpr int kKeyHeight = 50;
  constexpr int kModifierHeight = 30;
  constexpr int kModifierGap = 5;
  for (int key = 0; key < kKeyButtons; ++key) {
    const auto index = static_cast<std::size_t>(key);
    auto* modifier = new QPushButton(this);
    modifier->setObjectName(QStringLiteral("modifierBtn%1").arg(key + 1));
    modifier->setGeometry(keyPos[index].x(), keyPos[index].y() - kModifierGap - kModifierHeight,
                          kKeyWidth, kModifierHeight);
    connect(modifier, &QPushButton::clicked, this, [this, key] { onModifierButton(key); });
    modifierBtn_[index] = modifier;

    auto* button = new QPushButton(this);
    button->setObjectName(QStringLiteral("key%1Btn").arg(key + 1));
    button->setGeometry(keyPos[index].x(), keyPos[index].y(), kKeyWidth, kKeyHeight);
    connect(button, &QPushButton::clicked, this, [this, key] { onKeyButton(key); });
    keyBtn_[index] = button;
  }

  // Both lists at one spot: at most one of them is visible.
  const QRect listSpot(350, 15, 205, 28);
  selectCodeCbox_ = new QComboBox(this);
  selectCodeCbox_->setObjectName("selectCodeCbox");
  for (std::string_view entry : kc::shortCodeList) selectCodeCbox_->addItem(toQString(entry));
  selectCodeCbox_->setPlaceholderText(QStringLiteral("Select Code"));
  selectCodeCbox_->setCurrentIndex(-1);
  selectCodeCbox_->setGeometry(listSpot);
  selectCodeCbox_->installEventFilter(this);
  connect(selectCodeCbox_, &QComboBox::activated, this, &My4way_layout::onCodeChosen);

  selectModifierCbox_ = new QComboBox(this);
  selectModifierCbox_->setObjectName("selectModifierCbox");
  for (std::string_view entry : kc::modifierList) selectModifierCbox_->addItem(toQString(entry));
  selectModifierCbox_->setPlaceholderText(QStringLiteral("Modifier"));
  selectModifierCbox_->setCurrentIndex(-1);
  selectModifierCbox_->setGeometry(listSpot);
  selectModifierCbox_->installEventFilter(this);
  connect(selectModifierCbox_, &QComboBox::activated, this, &My4way_layout::onModifierChosen);

  constexpr int kSideX = 458;
  constexpr int kSideWidth = 100;
  constexpr int kSideHeight = 32;
  resetBtn_ = new QPushButton(QStringLiteral("Reset"), this);
  resetBtn_->setObjectName("resetBtn");
  resetBtn_->setGeometry(kSideX, 430, kSideWidth, kSideHeight);
  connect(resetBtn_, &QPushButton::clicked, this, &My4way_layout::onReset);
  applyBtn_ = new QPushButton(QStringLiteral("Apply"), this);
  applyBtn_->setObjectName("applyBtn");
  applyBtn_->setGeometry(kSideX, 472, kSideWidth, kSideHeight);
  connect(applyBtn_, &QPushButton::clicked, this, &My4way_layout::onApply);
  exitBtn_ = new QPushButton(QStringLiteral("Close"), this);
  exitBtn_->setObjectName("exitBtn");
  exitBtn_->setGeometry(kSideX, 514, kSideWidth, kSideHeight);
  connect(exitBtn_, &QPushButton::clicked, this, &QWidget::close);
}

void My4way_layout::setPicture(const QString& path) {
  talkgate::ui::showPicture(pictureBox1_, path);
}

void My4way_layout::loadSlots(const Table& table) {
  currentKCode_.fill(0);
  currentMCode_.fill(0);
  rawModifier_.fill(std::nullopt);
  for (int key = 0; key < kKeyButtons; ++key) {
    const auto slot = static_cast<std::size_t>(key);
    const int modifierByte = table[2 * slot];
    currentMCode_[slot] = kc::ModifierByteToIndex(modifierByte);
    if (!kc::hasModifierEntry(modifierByte))
      rawModifier_[slot] = static_cast<std::uint8_t>(modifierByte);
    currentKCode_[slot] = table[2 * slot + 1];
    setKeyLabel(key, kOpeningPrefix[slot]);
    setModifierLabel(key, modifierText(key));
  }
}

My4way_layout::Table My4way_layout::tableToWrite() const {
  Table table{};
  for (std::size_t slot = 0; slot < static_cast<std::size_t>(kSlots); ++slot) {
    const int modifierByte =
        rawModifier_[slot] ? *rawModifier_[slot] : kc::ModifierIndexToByte(currentMCode_[slot]);
    table[2 * slot] = static_cast<std::uint8_t>(modifierByte & 0xFF);
    table[2 * slot + 1] = static_cast<std::uint8_t>(currentKCode_[slot] & 0xFF);
  }
  return table;
}

int My4way_layout::keyCode(int slot) const {
  return slot >= 1 && slot <= kSlots ? currentKCode_[static_cast<std::size_t>(slot - 1)] : -1;
}

int My4way_layout::modifierIndex(int slot) const {
  return slot >= 1 && slot <= kSlots ? currentMCode_[static_cast<std::size_t>(slot - 1)] : -1;
}

QString My4way_layout::modifierText(int slot) const {
  const auto index = static_cast<std::size_t>(slot);
  if (rawModifier_[index]) return QString::fromStdString(kc::FormatKeyCode(*rawModifier_[index]));
  return toQString(kc::modifierList[static_cast<std::size_t>(currentMCode_[index])]);
}

void My4way_layout::setKeyLabel(int key, const QString& prefix) {
  const auto index = static_cast<std::size_t>(key);
  keyBtn_[index]->setText(prefix + QString::fromStdString(kc::FormatKeyCode(currentKCode_[index])));
}

void My4way_layout::setModifierLabel(int key, const QString& text) {
  modifierBtn_[static_cast<std::size_t>(key)]->setText(text);
}

void My4way_layout::onKeyButton(int key) {
  const int bit = 1 << key;
  QPushButton* button = keyBtn_[static_cast<std::size_t>(key)];
  if (!(keySelected_ & bit)) {
    setButtonColour(button, kSelectedColour);
    selectCodeCbox_->show();
    selectModifierCbox_->hide();
  } else {
    setButtonColour(button, defaultButtonBackColor_);
  }
  keySelected_ ^= bit;
  showSelectedEntry(selectCodeCbox_, keySelected_, [this](std::size_t slot) {
    return currentKCode_[slot];
  });
}

void My4way_layout::onModifierButton(int key) {
  const int bit = 1 << key;
  QPushButton* button = modifierBtn_[static_cast<std::size_t>(key)];
  if (!(modSelected_ & bit)) {
    setButtonColour(button, kSelectedColour);
    selectModifierCbox_->show();
    selectCodeCbox_->hide();
  } else {
    setButtonColour(button, currentMBColour_);
  }
  modSelected_ ^= bit;
  showSelectedEntry(selectModifierCbox_, modSelected_, [this](std::size_t slot) {
    return rawModifier_[slot] ? -1 : currentMCode_[slot];
  });
}

void My4way_layout::showSelectedEntry(QComboBox* list, int selected,
                                      const std::function<int(std::size_t)>& entryOf) {
  // The entry every selected button holds; none (the placeholder) when they differ, when none
  // is selected, or when the value has no entry in the list.
  int shared = -1;
  bool first = true;
  for (std::size_t slot = 0; slot < static_cast<std::size_t>(kKeyButtons); ++slot) {
    if (!(selected & (1 << slot))) continue;
    const int entry = entryOf(slot);
    shared = first || entry == shared ? entry : -1;
    first = false;
  }
  list->setCurrentIndex(shared >= 0 && shared < list->count() ? shared : -1);
}

void My4way_layout::onCodeChosen(int position) {
  selectCodeCbox_->hide();
  if (position < 0) return;
  for (int key = 0; key < kKeyButtons; ++key) {
    if (!(keySelected_ & (1 << key))) continue;
    const auto index = static_cast<std::size_t>(key);
    currentKCode_[index] = position;
    setKeyLabel(key, kChosenPrefix[index]);
    setButtonColour(keyBtn_[index], kChangedColour);
  }
  keySelected_ = 0;
}

void My4way_layout::onModifierChosen(int position) {
  selectModifierCbox_->hide();
  if (position < 0) return;
  for (int key = 0; key < kKeyButtons; ++key) {
    if (!(modSelected_ & (1 << key))) continue;
    const auto index = static_cast<std::size_t>(key);
    currentMCode_[index] = position;
    rawModifier_[index].reset();
    setModifierLabel(key, selectModifierCbox_->itemText(position));
    setButtonColour(modifierBtn_[index], currentMBColour_);
  }
  modSelected_ = 0;
}

void My4way_layout::onReset() {
  for (std::size_t slot = 0; slot < static_cast<std::size_t>(kSlots); ++slot) {
    currentKCode_[slot] = kc::kResetKeyTable[2 * slot + 1];
    currentMCode_[slot] = 0;
    rawModifier_[slot].reset();
  }
  for (int key = 0; key < kKeyButtons; ++key) {
    const auto index = static_cast<std::size_t>(key);
    setKeyLabel(key, kResetPrefix[index]);
    setButtonColour(keyBtn_[index], defaultButtonBackColor_);
    setModifierLabel(key, QStringLiteral("None"));
    setButtonColour(modifierBtn_[index], currentMBColour_);
  }
  keySelected_ = 0;
  modSelected_ = 0;
}

void My4way_layout::onApply() {
  const Table table = tableToWrite();
  if (talkgate::writeKeyTable(talkgate::hid_handle, table) == talkgate::kOk) {
    close();
    return;
  }
  talkgate::ui::dialogs().message(this, QStringLiteral("Unable to Load Table..\n"),
                                  kEditorMessageCaption, talkgate::ui::Buttons::Ok,
                                  talkgate::ui::Icon::Warning);
}

bool My4way_layout::eventFilter(QObject* watched, QEvent* event) {
  if (watched == selectCodeCbox_ || watched == selectModifierCbox_) {
    if (event->type() == QEvent::KeyPress) return !opensPopup(static_cast<QKeyEvent*>(event));
    if (event->type() == QEvent::Wheel) return true;  // scrolling would pick an entry too
  }
  return QWidget::eventFilter(watched, event);
}

My4way_layout* openKeyCodeEditor(QWidget* owner) {
  using talkgate::ui::Buttons;
  using talkgate::ui::Icon;
  talkgate::DeviceStatus status;
  if (talkgate::readStatus(talkgate::hid_handle, status) != talkgate::kOk) {
    talkgate::ui::dialogs().message(owner,
                                    QStringLiteral("Load Table-Unable to get device status..\n"),
                                    kOpeningMessageCaption, Buttons::Ok, Icon::Warning);
    return nullptr;
  }
  constexpr std::uint8_t kCustomisedTable = 1;
  if (status.keypadType != kCustomisedTable) {
    talkgate::ui::dialogs().message(owner, QStringLiteral("Please select a customise table..\n"),
                                    kOpeningMessageCaption, Buttons::Ok, Icon::Warning);
    return nullptr;
  }
  auto* editor = new My4way_layout(owner);
  editor->setPicture(talkgate::ui::unitPicturePath());
  editor->loadSlots(status.keyTable);
  if (owner) editor->move(owner->pos());
  editor->show();
  return editor;
}

}  // namespace dorrin_usb_encoder
