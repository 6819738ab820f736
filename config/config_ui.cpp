#include "config/config_ui.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <exception>
#include <stdexcept>

#include "config/ini_file.h"
#include "config/utility_config.h"
#include "ui/dialogs.h"

namespace talkgate::config {
namespace {

constexpr char kUpdateFailed[] = "Failed to update USBTalkgateUtilityCfg.ini file.\n";
constexpr char kSaveFailed[] = "Unable to Save Config file.\n";
constexpr char kIncorrectFilename[] = "Incorrect Filename.\n";
constexpr char kIncorrectFormat[] = "File is incorrect format.\n";
constexpr char kImportCopyFailed[] = "Failed to copy the new file.\n";
constexpr char kImportError[] = "Exception :Failed to copy the new file.\n";
constexpr char kExportCancelled[] = "Unable to save the cfg file.\n";
constexpr char kExportCopyFailed[] = "Failed to export the file\n";
constexpr char kExportError[] = "Exception :Unable to save cfg file.\n";
constexpr char kOverwriteQuestion[] =
    "USBTalkgateUtilityCfg.ini file already exists. Do you want to overwrite it?\n";
constexpr char kOverwriteCaption[] = "Save USBTalkgateUtilityCfg File";
constexpr char kExportFolderDescription[] =
    "Select Folder - To Copy The USBTalkgateUtilityCfg.ini File";
constexpr char kImportTitle[] = "Open";
constexpr char kImportInitialName[] = "openFileDialogBrowse";
constexpr char kImportFilter[] = "(*.ini) (*.ini);;All files (*.ini) (*.ini)";

void warn(QWidget* parent, const QString& text, const char* caption = kCaptionTalkgate) {
  ui::dialogs().message(parent, text, QString::fromUtf8(caption), ui::Buttons::Ok,
                        ui::Icon::Warning);
}

// A file with a header line lacking "]" cannot be read or written until it is repaired.
void showMalformed(QWidget* parent, const std::string& detail) {
  warn(parent, QStringLiteral("USBTalkgateUtilityCfg.ini cannot be read (%1).\n")
                   .arg(QString::fromLocal8Bit(detail.c_str())));
}

std::string toNative(const QString& path) {
  return QFile::encodeName(path).toStdString();
}

enum class WriteResult { Written, Failed, Malformed };

WriteResult writeSetting(QWidget* parent, const std::string& key, const std::string& value) {
  try {
    if (CIniFile::SetValue(key, value, kSection, FileName)) return WriteResult::Written;
    warn(parent, QString::fromUtf8(kUpdateFailed));
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

void SaveToConfigFile(QWidget* parent, const std::function<int(DeviceStatus&)>& readStatus) {
  DeviceStatus status;
  int result = kErrIo;
  try {
    result = readStatus(status);
  } catch (const std::exception&) {
    result = kErrIo;
  }
  if (result != kOk) {
    warn(parent, QString::fromUtf8(kSaveFailed));
    return;
  }
  // Every key is attempted, so a missing file shows one message per key.
  for (const auto& [key, value] : settingsFromStatus(status)) {
    if (writeSetting(parent, key, value) == WriteResult::Malformed) return;
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
  if (!outcome.malformed.empty()) {
    showMalformed(parent, outcome.malformed);
  } else if (!outcome.failedKey.empty()) {
    warn(parent,
         QStringLiteral("Unable to restore: the value of %1 in USBTalkgateUtilityCfg.ini is "
                        "missing or not valid.\n")
             .arg(QString::fromStdString(outcome.failedKey)),
         kCaptionQds);
  } else {
    warn(parent, QString::fromStdString(restoreStepMessage(outcome.failedStep)) + "\n",
         kCaptionQds);
  }
  return false;
}

void importConfigFile(QWidget* parent) {
  const QString chosen = ui::dialogs().openFile(parent, QString::fromUtf8(kImportTitle),
                                                QString::fromUtf8(kImportInitialName),
                                                QString::fromUtf8(kImportFilter));
  if (chosen.isEmpty()) return;
  switch (importFile(toNative(chosen), FileName)) {
    case ImportOutcome::Imported:
      return;
    case ImportOutcome::IncorrectFilename:
      warn(parent, QString::fromUtf8(kIncorrectFilename));
      return;
    case ImportOutcome::IncorrectFormat:
      warn(parent, QString::fromUtf8(kIncorrectFormat));
      return;
    case ImportOutcome::CopyFailed:
      warn(parent, QString::fromUtf8(kImportCopyFailed));
      return;
    case ImportOutcome::Error:
      warn(parent, QString::fromUtf8(kImportError));
      return;
  }
}

void exportConfigFile(QWidget* parent) {
  const QString folder = ui::dialogs().chooseFolder(
      parent, QString::fromUtf8(kExportFolderDescription), exportStartFolder());
  if (folder.isEmpty()) {
    warn(parent, QString::fromUtf8(kExportCancelled));
    return;
  }
  const std::string nativeFolder = toNative(folder);
  ExportOutcome outcome = exportFile(FileName, nativeFolder, false);
  if (outcome == ExportOutcome::TargetExists) {
    const ui::Answer answer = ui::dialogs().message(parent, QString::fromUtf8(kOverwriteQuestion),
                                                    QString::fromUtf8(kOverwriteCaption),
                                                    ui::Buttons::YesNo, ui::Icon::Question);
    if (answer != ui::Answer::Yes) return;
    outcome = exportFile(FileName, nativeFolder, true);
  }
  switch (outcome) {
    case ExportOutcome::Exported:
    case ExportOutcome::TargetExists:
      return;
    case ExportOutcome::CopyFailed:
      warn(parent, QString::fromUtf8(kExportCopyFailed));
      return;
    case ExportOutcome::Error:
      warn(parent, QString::fromUtf8(kExportError));
      return;
  }
}

}  // namespace talkgate::config
