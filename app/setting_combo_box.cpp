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
  // A turn of the wheel over the list must not give it focus (and with it the wheel).
  setFocusPolicy(Qt::StrongFocus);
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
  // Every key, Alt+Up and F4 included, would move the selection or open the list; this list
  // opens with the mouse only, and only a choice made in the open list acts.
  event->accept();
}

void SettingComboBox::wheelEvent(QWheelEvent* event) {
  // The wheel belongs to the list with keyboard focus; scrolling over any other list would
  // change a device setting as a side effect.
  if (swallowKeys_ || !hasFocus()) {
    event->ignore();
    return;
  }
  QComboBox::wheelEvent(event);
}

}  // namespace talkgate::app
