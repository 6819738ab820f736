#pragma once
// The About window: product name, version, part number and the maker's contacts.

#include <QUrl>
#include <QWidget>
#include <functional>

class QLabel;
class QPushButton;
class QTextBrowser;

namespace dorrin_usb_encoder {

class about : public QWidget {
  Q_OBJECT
 public:
  explicit about(QWidget* parent = nullptr);

  // Hands a link to the desktop; QDesktopServices::openUrl when empty. False: nothing took it.
  static inline std::function<bool(const QUrl&)> linkOpener;
  // A clicked link: opened, or when nothing can open it, copied to the clipboard and shown.
  void openLink(const QUrl& link);

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
