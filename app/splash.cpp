#include "app/splash.h"

#include <QGuiApplication>
#include <QLabel>
#include <QPixmap>
#include <QScreen>
#include <QTimer>

namespace dorrin_usb_encoder {
namespace {

constexpr QSize kClientSize(722, 415);
constexpr QRect kPictureGeometry(-2, -15, 720, 406);
// The picture's own bottom colour, so the strip it leaves uncovered does not show.
constexpr QColor kBackground(8, 20, 44);

}  // namespace

velkor_splash_form::velkor_splash_form(QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::CustomizeWindowHint) {
  setObjectName(QStringLiteral("velkor_splash_form"));
  setFixedSize(kClientSize);
  QPalette background = palette();
  background.setColor(QPalette::Window, kBackground);
  setPalette(background);
  setAutoFillBackground(true);
  pictureBox = new QLabel(this);
  pictureBox->setPixmap(QPixmap(QStringLiteral(":/pictures/splash.png")));
  pictureBox->setGeometry(kPictureGeometry);
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - rect().center());
  }

  closeTimer = new QTimer(this);
  closeTimer->setSingleShot(true);
  closeTimer->setInterval(kShowTimeMs);
  connect(closeTimer, &QTimer::timeout, this, &QWidget::close);
  closeTimer->start();
}

}  // namespace dorrin_usb_encoder
