#pragma once
// Every message box and file dialog of the program goes through this interface, so that tests
// can answer them and read what was shown.

#include <QString>

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

// The process's dialogs: real Qt dialogs unless a test installed others.
Dialogs& dialogs();
// Replaces the process's dialogs (nullptr restores the Qt ones). The caller keeps ownership.
void setDialogs(Dialogs* replacement);

}  // namespace talkgate::ui
