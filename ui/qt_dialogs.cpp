// The real dialogs: QMessageBox and QFileDialog.

#include <QApplication>
#include <QFileDialog>
#include <QFontMetrics>
#include <QGridLayout>
#include <QMessageBox>

#include "ui/dialogs.h"

namespace talkgate::ui {
namespace {

QMessageBox::Icon toQt(Icon icon) {
  switch (icon) {
    case Icon::Information:
      return QMessageBox::Information;
    case Icon::Warning:
      return QMessageBox::Warning;
    case Icon::Question:
      return QMessageBox::Question;
    case Icon::Error:
      return QMessageBox::Critical;
    case Icon::None:
      break;
  }
  return QMessageBox::NoIcon;
}

// What a window manager's title bar takes beside the caption: the window menu icon, up to
// three buttons and the spacing between them (openbox cut "Velkor Talkgate" in 188 pixels).
constexpr int kTitleBarExtras = 4 * 32;

// Widens a message box whose text is short, so that its caption is not cut in its title bar.
void makeRoomForCaption(QMessageBox& box, const QString& caption) {
  QFont titleFont = QApplication::font("QMdiSubWindowTitleBar");
  titleFont.setBold(true);
  const int width = QFontMetrics(titleFont).horizontalAdvance(caption) + kTitleBarExtras;
  auto* grid = qobject_cast<QGridLayout*>(box.layout());
  if (grid == nullptr) return;
  grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Minimum),
                grid->rowCount(), 0, 1, grid->columnCount());
}

class QtDialogs : public Dialogs {
 public:
  Answer message(QWidget* parent, const QString& text, const QString& caption, Buttons buttons,
                 Icon icon) override {
    QMessageBox box(
        toQt(icon), caption, text,
        buttons == Buttons::YesNo ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok, parent);
    makeRoomForCaption(box, caption);
    const int pressed = box.exec();
    if (buttons == Buttons::Ok) return Answer::Ok;
    return pressed == QMessageBox::Yes ? Answer::Yes : Answer::No;
  }
  QString openFile(QWidget* parent, const QString& title, const QString& initialPath,
                   const QString& filter) override {
    return QFileDialog::getOpenFileName(parent, title, initialPath, filter);
  }
  QString chooseFolder(QWidget* parent, const QString& description,
                       const QString& initialFolder) override {
    return QFileDialog::getExistingDirectory(parent, description, initialFolder);
  }
};

}  // namespace

Dialogs& qtDialogs() {
  static QtDialogs real;
  return real;
}

}  // namespace talkgate::ui
