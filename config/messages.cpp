#include "config/messages.h"

namespace talkgate::config {

std::string malformedMessage(const std::string& detail) {
  return std::string(kConfigFileName) + " cannot be read (" + detail + ").";
}

std::string restoreMessage(const RestoreOutcome& outcome) {
  if (outcome.ok) return "";
  if (!outcome.unreadable.empty()) {
    return std::string(kConfigFileName) + " cannot be read (" + outcome.unreadable + ").";
  }
  if (!outcome.malformed.empty()) return malformedMessage(outcome.malformed);
  if (!outcome.failedKey.empty()) {
    return "Unable to restore: the value of " + outcome.failedKey + " in " + kConfigFileName +
           " is missing or not valid.";
  }
  return restoreStepMessage(outcome.failedStep);
}

std::string importMessage(ImportOutcome outcome, const std::string& detail) {
  switch (outcome) {
    case ImportOutcome::Unreadable:
      return "The chosen file cannot be imported (" + detail + ").";
    case ImportOutcome::Imported:
      return "";
    case ImportOutcome::IncorrectFilename:
      return kMsgIncorrectFilename;
    case ImportOutcome::IncorrectFormat:
      if (!detail.empty()) {
        return std::string(kMsgIncorrectFormat) + " The value of " + detail +
               " is missing or not valid.";
      }
      return kMsgIncorrectFormat;
    case ImportOutcome::CopyFailed:
      return kMsgImportCopyFailed;
    case ImportOutcome::Error:
      return kMsgImportError;
  }
  return kMsgImportError;
}

std::string exportMessage(ExportOutcome outcome, const std::string& detail) {
  switch (outcome) {
    case ExportOutcome::Exported:
    case ExportOutcome::TargetExists:
      return "";
    case ExportOutcome::CopyFailed:
      return kMsgExportCopyFailed;
    case ExportOutcome::SourceUnusable:
      return std::string(kMsgExportCopyFailed) + ": " + kConfigFileName + " cannot be used (" +
             detail + ").";
    case ExportOutcome::Error:
      return kMsgExportError;
  }
  return kMsgExportError;
}

}  // namespace talkgate::config
