#pragma once
// The start-up splash window: one picture, closing itself after 3000 ms.

#include <QWidget>

class QLabel;
class QTimer;

namespace dorrin_usb_encoder {

class velkor_splash_form : public QWidget {
  Q_OBJECT
 public:
  static constexpr int kShowTimeMs = 3000;

  explicit velkor_splash_form(QWidget* parent = nullptr);

  QLabel* pictureBox = nullptr;
  // Runs from creation; its first tick closes the window.
  QTimer* closeTimer = nullptr;
};

}  // namespace dorrin_usb_encoder
