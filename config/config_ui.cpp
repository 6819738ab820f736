#include "config/config_ui.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <exception>
#include <stdexcept>

#include "config/ini_file.h"
#include "config/messages.h"
#include "config/utility_config.h"
#include "ui/dialogs.h"

namespace talkgate::config {
namespace {

constexpr char kOverwriteCaption[] = "Save USBTalkgateUtilityCfg File";
constexpr char kExportFolderDescription[] =
    "Select Folder - To Copy The USBTalkgateUtilityCfg.ini File";
constexpr char kImportTitle[] = "Open";
constexpr char kImportInitialName[] = "openFileDialogBrowse";
// Qt shows each filter as written, so each already names its pattern once.
constexpr char kImportFilter[] = "(*.ini);;All files (*.ini)";

// Every message box text ends with one line break.
QString boxText(const std::string& text) {
  return QString::fromLocal8Bit(text.c_str()) + '\n';
}

void warn(QWidget* parent, const std::string& text, const char* caption = kCaptionTalkgate) {
  ui::dialogs().message(parent, boxText(text), QString::fromUtf8(caption), ui::Buttons::Ok,
                        ui::Icon::Warning);
}

// A file with a header line lacking "]" cannot be read or written until it is repaired.
void showMalformed(QWidget* parent, const std::string& detail) {
  warn(parent, malformedMessage(detail));
}

std::string toNative(const QString& path) {
  return QFile::encodeName(path).toStdString();
}

enum class WriteResult { Written, Failed, Malformed };

WriteResult writeSetting(QWidget* parent, const std::string& key, const std::string& value) {
  try {
    if (CIniFile::SetValue(key, value, kSection, FileName)) return WriteResult::Written;
    warn(parent, kMsgUpdateFailed);
    return WriteResult::Failed;
  } catch (const std::exception& error) {
    showMalformed(parent, error.what());
    return WriteResult::Malformed;
  }
}

QString exportStartFolder() {
#ifdef Q_OS_WIN
  return QStringLiteral("C:\\");
#else
  return QDir::homePath();
#endif
}

}  // namespace

void locateAndCreateConfigFile() {
  const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
  if (base.isEmpty()) return;
  locateAndCreate(toNative(base));
}

bool SetSettings(const std::string& key, const std::string& value) {
  return writeSetting(nullptr, key, value) == WriteResult::Written;
}

QString GetSettings(const std::string& key) {
  try {
    return QString::fromLocal8Bit(CIniFile::GetValue(key, kSection, FileName).c_str());
  } catch (const std::exception& error) {
    showMalformed(nullptr, error.what());
    return QString();
  }
}

void SaveToConfigFile(QWidget* parent, const std::function<int(DeviceStatus&)>& readStatus,
                      const std::function<int()>& storeDefaults) {
  DeviceStatus status;
  int result = kErrIo;
  try {
    result = readStatus(status);
  } catch (const std::exception&) {
    result = kErrIo;
  }
  if (result != kOk) {
    warn(parent, kMsgSaveFailed);
    return;
  }
  // The six keys go into the file in one replacement, so a failure shows one message; the file
  // is written whole before the device is asked to store anything.
  PendingSave pending;
  const SaveOutcome prepared = pending.prepare(FileName, status);
  if (!prepared.malformed.empty()) {
    showMalformed(parent, prepared.malformed);
    return;
  }
  if (!prepared.failure.empty()) {
    warn(parent, kMsgUpdateFailed);
    return;
  }
  if (storeDefaults && storeDefaults() != kOk) {
    warn(parent, kMsgWriteDefaultFailed);
    return;
  }
  if (!pending.commit().ok()) {
    warn(parent, storeDefaults ? std::string(kMsgUpdateFailed) + kMsgDefaultsStored
                               : std::string(kMsgUpdateFailed));
  }
}

bool restoreFromConfigFile(QWidget* parent, DeviceHandle device) {
  RestoreOutcome outcome;
  try {
    outcome = restoreFromFile(FileName, device);
  } catch (const std::exception& error) {
    outcome.malformed = error.what();
  }
  if (outcome.ok) return true;
  // An unreadable or malformed file is a file problem, not a restore step: it gets the file's
  // caption.
  const bool fileProblem = !outcome.malformed.empty() || !outcome.unreadable.empty();
  warn(parent, restoreMessage(outcome), fileProblem ? kCaptionTalkgate : kCaptionQds);
  return false;
}

void importConfigFile(QWidget* parent) {
  const QString chosen = ui::dialogs().openFile(parent, QString::fromUtf8(kImportTitle),
                                                QString::fromUtf8(kImportInitialName),
                                                QString::fromUtf8(kImportFilter));
  if (chosen.isEmpty()) return;
  std::string detail;
  const ImportOutcome outcome = importFile(toNative(chosen), FileName, &detail);
  const std::string message = importMessage(outcome, detail);
  if (!message.empty()) warn(parent, message);
}

void exportConfigFile(QWidget* parent) {
  const QString folder = ui::dialogs().chooseFolder(
      parent, QString::fromUtf8(kExportFolderDescription), exportStartFolder());
  if (folder.isEmpty()) {
    warn(parent, kMsgExportCancelled);
    return;
  }
  const std::string nativeFolder = toNative(folder);
  std::string detail;
  ExportOutcome outcome = exportFile(FileName, nativeFolder, false, &detail);
  if (outcome == ExportOutcome::TargetExists) {
    const ui::Answer answer = ui::dialogs().message(parent, boxText(kMsgOverwriteQuestion),
                                                    QString::fromUtf8(kOverwriteCaption),
                                                    ui::Buttons::YesNo, ui::Icon::Question);
    if (answer != ui::Answer::Yes) return;
    outcome = exportFile(FileName, nativeFolder, true, &detail);
  }
  const std::string message = exportMessage(outcome, detail);
  if (!message.empty()) warn(parent, message);
}

}  // namespace talkgate::config
