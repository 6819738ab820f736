#include "app/setting_combo_box.h"

#include <QKeyEvent>
#include <QStyleOptionComboBox>
#include <QStylePainter>
#include <QWheelEvent>

namespace talkgate::app {

SettingComboBox::SettingComboBox(const QStringList& entries, const QString& outOfRangeFormat,
                                 bool swallowKeys, QWidget* parent)
    : QComboBox(parent), outOfRangeFormat_(outOfRangeFormat), swallowKeys_(swallowKeys) {
  addItems(entries);
  // Any entry chosen, by the operator or the program, replaces the free text.
  connect(this, &QComboBox::currentIndexChanged, this, [this](int index) {
    if (index >= 0) displayText_.clear();
  });
}

void SettingComboBox::selectEntry(int value) {
  if (value >= 0 && value < count()) {
    displayText_.clear();
    setCurrentIndex(value);
    update();
  } else {
    setDisplayText(textForValue(value));
  }
}

void SettingComboBox::setDisplayText(const QString& text) {
  setCurrentIndex(-1);
  displayText_ = text;
  update();
}

QString SettingComboBox::displayText() const {
  return displayText_.isEmpty() ? currentText() : displayText_;
}

QString SettingComboBox::textForValue(int value) const {
  if (value >= 0 && value < count()) return itemText(value);
  return outOfRangeFormat_.arg(value);
}

void SettingComboBox::paintEvent(QPaintEvent*) {
  QStylePainter painter(this);
  painter.setPen(palette().color(QPalette::Text));
  QStyleOptionComboBox option;
  initStyleOption(&option);
  if (!displayText_.isEmpty()) {
    option.currentText = displayText_;
    option.currentIcon = QIcon();
  }
  painter.drawComplexControl(QStyle::CC_ComboBox, option);
  painter.drawControl(QStyle::CE_ComboBoxLabel, option);
}

void SettingComboBox::keyPressEvent(QKeyEvent* event) {
  if (!swallowKeys_) {
    QComboBox::keyPressEvent(event);
    return;
  }
  // Only the keys that open the list get through; the choice is then made in the list.
  const bool alt = event->modifiers() & Qt::AltModifier;
  const int key = event->key();
  if (key == Qt::Key_F4 || key == Qt::Key_Space ||
      (alt && (key == Qt::Key_Down || key == Qt::Key_Up))) {
    QComboBox::keyPressEvent(event);
    return;
  }
  if (key == Qt::Key_Escape || key == Qt::Key_Return || key == Qt::Key_Enter) {
    event->ignore();  // left to the window
    return;
  }
  event->accept();
}

void SettingComboBox::wheelEvent(QWheelEvent* event) {
  // Scrolling over the list would otherwise change the device setting as a side effect.
  if (swallowKeys_) {
    event->ignore();
    return;
  }
  QComboBox::wheelEvent(event);
}

}  // namespace talkgate::app
