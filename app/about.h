#pragma once
// The About window: product name, version, part number and the maker's contacts.

#include <QWidget>

class QLabel;
class QPushButton;
class QTextBrowser;

namespace dorrin_usb_encoder {

class about : public QWidget {
  Q_OBJECT
 public:
  explicit about(QWidget* parent = nullptr);

  QLabel* headingLabel = nullptr;
  QLabel* versionLabel = nullptr;
  QLabel* partNoLabel = nullptr;
  QLabel* partNumberLabel = nullptr;
  QLabel* pictureBox = nullptr;
  QLabel* ownershipLabel = nullptr;
  QTextBrowser* aboutText = nullptr;
  QPushButton* closeButton = nullptr;
};

}  // namespace dorrin_usb_encoder
