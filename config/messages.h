#pragma once
// The operator's texts for the configuration file, shared by the windows and the command-line
// tool. Texts carry no final line break; a message box adds one.

#include <string>

#include "config/utility_config.h"

namespace talkgate::config {

inline constexpr char kMsgUpdateFailed[] = "Failed to update USBTalkgateUtilityCfg.ini file.";
inline constexpr char kMsgSaveFailed[] = "Unable to Save Config file.";
inline constexpr char kMsgWriteDefaultFailed[] = "Unable to Write Default..";
// Added when the file failed after the device had already stored its settings.
inline constexpr char kMsgDefaultsStored[] = " The Talkgate stored its settings as its defaults.";
inline constexpr char kMsgIncorrectFilename[] = "Incorrect Filename.";
inline constexpr char kMsgIncorrectFormat[] = "File is incorrect format.";
inline constexpr char kMsgImportCopyFailed[] = "Failed to copy the new file.";
inline constexpr char kMsgImportError[] = "Exception :Failed to copy the new file.";
inline constexpr char kMsgExportCancelled[] = "Unable to save the cfg file.";
inline constexpr char kMsgExportCopyFailed[] = "Failed to export the file";
inline constexpr char kMsgExportError[] = "Exception :Unable to save cfg file.";
inline constexpr char kMsgOverwriteQuestion[] =
    "USBTalkgateUtilityCfg.ini file already exists. Do you want to overwrite it?";

// "USBTalkgateUtilityCfg.ini cannot be read (line 3: ...)." for a malformed file.
std::string malformedMessage(const std::string& detail);

// What a failed restore tells the operator: the unusable key, the failed request's text or the
// malformed file; "" for a restore that succeeded.
std::string restoreMessage(const RestoreOutcome& outcome);

// The message of an import outcome; "" when the file was imported. detail: importFile's.
std::string importMessage(ImportOutcome outcome, const std::string& detail = "");

// The message of an export outcome; "" when exported or when the question is still open.
// detail: exportFile's.
std::string exportMessage(ExportOutcome outcome, const std::string& detail = "");

}  // namespace talkgate::config
