#include "ui/scripted_dialogs.h"

namespace talkgate::ui {

Answer ScriptedDialogs::message(QWidget*, const QString& text, const QString& caption,
                                Buttons buttons, Icon icon) {
  messages.append({text, caption, buttons, icon});
  // A copy, so the hook may replace itself.
  if (const auto hook = whileOpen) hook();
  if (buttons == Buttons::Ok) return Answer::Ok;
  return questionAnswers.isEmpty() ? Answer::Yes : questionAnswers.takeFirst();
}

QString ScriptedDialogs::openFile(QWidget*, const QString&, const QString& initialPath,
                                  const QString& filter) {
  fileDialogFilters.append(filter);
  fileDialogInitialPaths.append(initialPath);
  return fileAnswers.isEmpty() ? QString() : fileAnswers.takeFirst();
}

QString ScriptedDialogs::chooseFolder(QWidget*, const QString& description,
                                      const QString& initialFolder) {
  folderDialogDescriptions.append(description);
  folderDialogInitialFolders.append(initialFolder);
  return folderAnswers.isEmpty() ? QString() : folderAnswers.takeFirst();
}

QStringList ScriptedDialogs::texts() const {
  QStringList result;
  for (const auto& m : messages) result.append(m.text);
  return result;
}

void ScriptedDialogs::clear() {
  messages.clear();
  fileDialogFilters.clear();
  fileDialogInitialPaths.clear();
  folderDialogDescriptions.clear();
  folderDialogInitialFolders.clear();
}

ScopedDialogs::ScopedDialogs(Dialogs& replacement) : previous_(setDialogs(&replacement)) {}
ScopedDialogs::~ScopedDialogs() {
  setDialogs(previous_);
}

}  // namespace talkgate::ui
