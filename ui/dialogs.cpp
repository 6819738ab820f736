// The process's dialogs behind a front that counts the message boxes open, and the work
// waiting for the last of them to close.

#include "ui/dialogs.h"

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <utility>
#include <vector>

namespace talkgate::ui {

Dialogs& qtDialogs();  // qt_dialogs.cpp

namespace {

Dialogs* g_installed = nullptr;
int g_openBoxes = 0;

struct WaitingWork {
  QPointer<QObject> context;
  std::function<void()> work;
};

std::vector<WaitingWork>& waitingWork() {
  static std::vector<WaitingWork> waiting;
  return waiting;
}

Dialogs& installed() {
  return g_installed ? *g_installed : qtDialogs();
}

// Queued, so the box that just closed has left its event loop before the work shows another.
void runWaitingWork() {
  std::vector<WaitingWork> due;
  due.swap(waitingWork());
  for (WaitingWork& entry : due) {
    if (entry.context.isNull()) continue;
    QTimer::singleShot(0, entry.context.data(), std::move(entry.work));
  }
}

class CountingDialogs : public Dialogs {
 public:
  Answer message(QWidget* parent, const QString& text, const QString& caption, Buttons buttons,
                 Icon icon) override {
    ++g_openBoxes;
    const Answer answer = installed().message(parent, text, caption, buttons, icon);
    if (--g_openBoxes == 0) runWaitingWork();
    return answer;
  }
  QString openFile(QWidget* parent, const QString& title, const QString& initialPath,
                   const QString& filter) override {
    return installed().openFile(parent, title, initialPath, filter);
  }
  QString chooseFolder(QWidget* parent, const QString& description,
                       const QString& initialFolder) override {
    return installed().chooseFolder(parent, description, initialFolder);
  }
};

}  // namespace

Dialogs& dialogs() {
  static CountingDialogs front;
  return front;
}

Dialogs* setDialogs(Dialogs* replacement) {
  return std::exchange(g_installed, replacement);
}

int openMessageBoxes() {
  return g_openBoxes;
}

void whenNoMessageBoxIsOpen(QObject* context, std::function<void()> work) {
  if (g_openBoxes == 0) {
    work();
    return;
  }
  waitingWork().push_back({context, std::move(work)});
}

}  // namespace talkgate::ui
