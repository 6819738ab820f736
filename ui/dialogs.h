#pragma once
// Every message box and file dialog of the program goes through this interface, so that tests
// can answer them and read what was shown.

#include <QString>
#include <functional>

class QObject;
class QWidget;

namespace talkgate::ui {

enum class Icon { None, Information, Warning, Question, Error };
enum class Buttons { Ok, YesNo };
enum class Answer { Ok, Yes, No };

class Dialogs {
 public:
  virtual ~Dialogs() = default;
  // A modal message box; returns the button pressed.
  virtual Answer message(QWidget* parent, const QString& text, const QString& caption,
                         Buttons buttons, Icon icon) = 0;
  // An open-file dialog; filter in Qt form ("Text files (*.txt);;All files (*)").
  // Returns the chosen path, or an empty string when cancelled.
  virtual QString openFile(QWidget* parent, const QString& title, const QString& initialPath,
                           const QString& filter) = 0;
  // A folder dialog; returns the chosen folder, or an empty string when cancelled.
  virtual QString chooseFolder(QWidget* parent, const QString& description,
                               const QString& initialFolder) = 0;
};

// The process's dialogs: real Qt dialogs unless a test installed others. Every message box
// shown through them is counted while it is open.
Dialogs& dialogs();
// Replaces the process's dialogs (nullptr restores the Qt ones) and returns the replacement
// installed before (nullptr for the Qt ones). The caller keeps ownership.
Dialogs* setDialogs(Dialogs* replacement);

// Message boxes open now. A box runs its own event loop, so other work (a worker's completion)
// can run while it waits for the operator.
int openMessageBoxes();
// Runs work on the GUI thread once no message box is open: at once when none is, otherwise
// right after the last one has closed, so that no box is ever shown over another. Dropped when
// context is destroyed first.
void whenNoMessageBoxIsOpen(QObject* context, std::function<void()> work);

}  // namespace talkgate::ui
