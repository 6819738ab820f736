#pragma once
// Dialogs for tests: records every box shown and answers from a script.

#include <QList>
#include <QStringList>
#include <functional>

#include "ui/dialogs.h"

namespace talkgate::ui {

struct ShownMessage {
  QString text;
  QString caption;
  Buttons buttons = Buttons::Ok;
  Icon icon = Icon::None;
};

class ScriptedDialogs : public Dialogs {
 public:
  Answer message(QWidget* parent, const QString& text, const QString& caption, Buttons buttons,
                 Icon icon) override;
  QString openFile(QWidget* parent, const QString& title, const QString& initialPath,
                   const QString& filter) override;
  QString chooseFolder(QWidget* parent, const QString& description,
                       const QString& initialFolder) override;

  // Answers for the next questions (Yes/No boxes), in order; Yes when the script is empty.
  QList<Answer> questionAnswers;
  // Paths for the next file and folder dialogs, in order; empty (cancel) when none are left.
  QStringList fileAnswers;
  QStringList folderAnswers;
  // Runs while each message box is shown, before it is answered, as a real box's own event
  // loop would run queued work meanwhile.
  std::function<void()> whileOpen;

  // What was shown, in order.
  QList<ShownMessage> messages;
  QStringList fileDialogFilters;
  QStringList fileDialogInitialPaths;
  QStringList folderDialogDescriptions;
  QStringList folderDialogInitialFolders;

  // Texts of every message shown, for compact assertions.
  QStringList texts() const;
  void clear();
};

// Installs dialogs for the lifetime of the guard.
class ScopedDialogs {
 public:
  explicit ScopedDialogs(Dialogs& replacement);
  ~ScopedDialogs();
  ScopedDialogs(const ScopedDialogs&) = delete;
  ScopedDialogs& operator=(const ScopedDialogs&) = delete;

 private:
  Dialogs* previous_;
};

}  // namespace talkgate::ui
