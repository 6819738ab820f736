#pragma once
// The four-key code table editor: one key code and one modifier for each of the events
// "Detected", "Not Detected", "Day" and "Night", written to the device in one request.

#include <QColor>
#include <QWidget>
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>

#include "keycodes/key_catalogue.h"

class QComboBox;
class QLabel;
class QPushButton;

namespace dorrin_usb_encoder {

class My4way_layout : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kKeyButtons = 4;
  static constexpr int kSlots = static_cast<int>(talkgate::keycodes::kKeyTableSlots);
  using Table = std::array<std::uint8_t, talkgate::keycodes::kKeyTableBytes>;

  // Builds the window as a modeless window of owner (or a top-level one without owner).
  explicit My4way_layout(QWidget* owner = nullptr);

  // Loads the picture of the unit; a file that cannot be read leaves the picture area empty.
  void setPicture(const QString& path);
  // Fills slots 1 to 4 from the first eight bytes of a device table; slots 5 and 6 start empty.
  void loadSlots(const Table& table);
  // The 12 bytes "Apply" would write now.
  Table tableToWrite() const;

  // Editor state, slot 1 to 6.
  int keyCode(int slot) const;
  int modifierIndex(int slot) const;
  // Selected key and modifier buttons, bit 0 for key 1.
  int keySelected() const { return keySelected_; }
  int modSelected() const { return modSelected_; }

 private slots:
  void onKeyButton(int key);
  void onModifierButton(int key);
  void onCodeChosen(int position);
  void onModifierChosen(int position);
  void onReset();
  void onApply();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void buildControls();
  void setKeyLabel(int key, const QString& prefix);
  void setModifierLabel(int key, const QString& text);
  QString modifierText(int slot) const;
  // Makes list show the entry of the selected buttons rather than the last choice made.
  void showSelectedEntry(QComboBox* list, int selected,
                         const std::function<int(std::size_t)>& entryOf);

  std::array<int, kSlots> currentKCode_{};  // code byte of each slot
  std::array<int, kSlots> currentMCode_{};  // modifier index of each slot
  // A modifier byte read from the device that has no list entry, kept so "Apply" writes it
  // back as it came instead of a byte made up from an index outside the list.
  std::array<std::optional<std::uint8_t>, kSlots> rawModifier_{};
  int keySelected_ = 0;
  int modSelected_ = 0;
  QColor defaultButtonBackColor_;
  QColor currentMBColour_;

  std::array<QPushButton*, kKeyButtons> keyBtn_{};
  std::array<QPushButton*, kKeyButtons> modifierBtn_{};
  QComboBox* selectCodeCbox_ = nullptr;
  QComboBox* selectModifierCbox_ = nullptr;
  QPushButton* resetBtn_ = nullptr;
  QPushButton* applyBtn_ = nullptr;
  QPushButton* exitBtn_ = nullptr;
  QLabel* pictureBox1_ = nullptr;
  QLabel* label1_ = nullptr;
};

// Opens an editor for the device's customised table, as the main window's "Customise Code
// Table" button does: reads the status, refuses with a message when that fails or the device
// does not use its customised table, otherwise shows a new editor at the owner's position.
// Returns the editor (it deletes itself when closed) or nullptr.
My4way_layout* openKeyCodeEditor(QWidget* owner);

}  // namespace dorrin_usb_encoder
