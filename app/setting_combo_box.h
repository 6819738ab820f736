#pragma once
// A drop-down list of device settings whose entry position is the device value. Besides its
// entries it can show a free text (a placeholder, or a value no entry stands for) without
// losing the entries, and it can swallow keystrokes so that only a choice from the list acts.
// The wheel acts only on a list with keyboard focus, and never on one that swallows keys.

#include <QComboBox>
#include <QStringList>

namespace talkgate::app {

class SettingComboBox : public QComboBox {
  Q_OBJECT
 public:
  // outOfRangeFormat names a value without an entry; "%1" stands for the value.
  SettingComboBox(const QStringList& entries, const QString& outOfRangeFormat, bool swallowKeys,
                  QWidget* parent = nullptr);

  // Selects the entry at position value; a value without an entry is shown by its number.
  void selectEntry(int value);
  // Shows text instead of an entry; no entry is selected until the next choice.
  void setDisplayText(const QString& text);
  // What the list shows: the free text, or the selected entry's text.
  QString displayText() const;
  // The entry text for value, or its out-of-range text.
  QString textForValue(int value) const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;

 private:
  QString outOfRangeFormat_;
  bool swallowKeys_ = false;
  QString displayText_;
};

}  // namespace talkgate::app
