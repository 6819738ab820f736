// Draws the picture of the four-key Talkgate unit that the editor and the self test show.
// Usage: talkgate_make_lumesk OUTPUT.jpg

#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <cstdio>

namespace {

constexpr int kWidth = 300;
constexpr int kHeight = 420;
constexpr int kJpegQuality = 90;

void drawKey(QPainter& p, const QRectF& r, const QString& label) {
  QLinearGradient face(r.topLeft(), r.bottomLeft());
  face.setColorAt(0, QColor(235, 235, 238));
  face.setColorAt(1, QColor(190, 192, 198));
  p.setPen(QPen(QColor(60, 60, 66), 2));
  p.setBrush(face);
  p.drawRoundedRect(r, 10, 10);
  p.setPen(QColor(40, 40, 46));
  QFont font = p.font();
  font.setPixelSize(15);
  font.setBold(true);
  p.setFont(font);
  p.drawText(r, Qt::AlignCenter | Qt::TextWordWrap, label);
}

}  // namespace

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: talkgate_make_lumesk OUTPUT.jpg\n");
    return 2;
  }
  QImage image(kWidth, kHeight, QImage::Format_RGB32);
  image.fill(QColor(239, 239, 239));  // the usual window background
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);

  // Body with a soft shadow.
  const QRectF body(30, 20, 240, 380);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0, 0, 0, 40));
  p.drawRoundedRect(body.translated(6, 6), 28, 28);
  QLinearGradient shell(body.topLeft(), body.bottomRight());
  shell.setColorAt(0, QColor(88, 92, 104));
  shell.setColorAt(1, QColor(42, 44, 52));
  p.setBrush(shell);
  p.setPen(QPen(QColor(20, 20, 24), 2));
  p.drawRoundedRect(body, 28, 28);

  // Symbol LED window.
  const QPointF led(150, 78);
  QRadialGradient glow(led, 30);
  glow.setColorAt(0, QColor(120, 190, 255));
  glow.setColorAt(1, QColor(20, 60, 140));
  p.setBrush(glow);
  p.setPen(QPen(QColor(200, 200, 210), 3));
  p.drawEllipse(led, 28, 28);

  // Four keys, two by two, in the order of the key code table.
  drawKey(p, QRectF(52, 140, 92, 100), "Detected");
  drawKey(p, QRectF(156, 140, 92, 100), "Not\nDetected");
  drawKey(p, QRectF(52, 256, 92, 100), "Day");
  drawKey(p, QRectF(156, 256, 92, 100), "Night");

  // Maker's plate.
  p.setPen(QColor(220, 220, 228));
  QFont font = p.font();
  font.setPixelSize(14);
  font.setBold(true);
  font.setLetterSpacing(QFont::AbsoluteSpacing, 2);
  p.setFont(font);
  p.drawText(QRectF(body.left(), 364, body.width(), 24), Qt::AlignCenter, "TALKGATE");
  p.end();

  if (!image.save(QString::fromLocal8Bit(argv[1]), "JPG", kJpegQuality)) {
    std::fprintf(stderr, "cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
