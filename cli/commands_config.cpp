// talkgatectl config: the utility's configuration file from the command line, with the rules
// and messages of the main window's Save Changes, Reset From Configuration File, Import Cfg
// File and Export Cfg File.

#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>

#include "cli/command.h"
#include "cli/json.h"
#include "cli/text.h"
#include "files/system_folders.h"
#include "files/utf8_path.h"
#include "config/ini_file.h"
#include "config/utility_config.h"
#include "device/commands.h"
#include "files/regular_file.h"

namespace talkgate::cli {

namespace {

namespace fs = std::filesystem;

constexpr char kWriteDefaultFailed[] = "Unable to Write Default..";
constexpr char kSaveFailed[] = "Unable to Save Config file.";
constexpr char kIncorrectFilename[] = "Incorrect Filename.";
constexpr char kIncorrectFormat[] = "File is incorrect format.";
constexpr char kImportCopyFailed[] = "Failed to copy the new file.";
constexpr char kImportError[] = "Exception :Failed to copy the new file.";
constexpr char kExportCopyFailed[] = "Failed to export the file";
constexpr char kExportError[] = "Exception :Unable to save cfg file.";

// "The configuration file X cannot be used: it is a directory." for anything but a file.
std::optional<std::string> notAFile(const std::string& what, const std::string& path) {
  const std::string reason = files::notRegularReason(path);
  if (reason.empty()) return std::nullopt;
  return what + " " + printablePath(path) + " cannot be used: " + reason + ".";
}

// A message of the windows followed by the request's result.
int stepFailed(Context& ctx, const std::string& message, int result) {
  return ctx.failure(message + " Result: " + resultText(result) + ".");
}

int malformedFile(Context& ctx, const std::string& path, const std::string& detail, int exitCode) {
  ctx.err() << printablePath(path) << " cannot be read (" << printablePath(detail) << ").\n";
  return exitCode;
}

int unusableValue(Context& ctx, const std::string& key, const std::string& path, int exitCode) {
  ctx.err() << "Unable to restore: the value of " << key << " in " << printablePath(path)
            << " is missing or not valid.\n";
  return exitCode;
}

// The run holds the --sim-state file from start to end: the same file as the configuration
// file would wait on its own lock, and is no configuration file anyway.
std::optional<std::string> isStateFile(Context& ctx, const std::string& path) {
  const auto& state = ctx.options().simStateFile;
  if (!state || !files::sameFile(*state, path)) return std::nullopt;
  return "The configuration file " + printablePath(path) +
         " is also the simulated Talkgate's state file (--sim-state); give two different files.";
}

int cannotCreate(Context& ctx, const std::string& path, const std::string& reason) {
  return ctx.failure("Cannot create the configuration file " + printablePath(path) + ": " +
                     printablePath(reason) + ".");
}

// The configuration file: --config FILE, or the per-user one, which is created with empty
// values when missing, as the utility's start-up does. A --config file must exist unless
// createGiven; nullopt (message printed, exitCode set) when there is no usable path.
std::optional<std::string> configFile(Context& ctx, bool createGiven, int& exitCode) {
  if (const auto& given = ctx.options().configFile) {
    if (const auto problem = isStateFile(ctx, *given)) {
      exitCode = ctx.badInput(*problem);
      return std::nullopt;
    }
    if (const auto problem = notAFile("The configuration file", *given)) {
      exitCode = ctx.badInput(*problem);
      return std::nullopt;
    }
    if (files::kindOf(*given) == files::FileKind::Regular) return *given;
    if (!createGiven) {
      exitCode =
          ctx.badInput("The configuration file " + printablePath(*given) + " does not exist.");
      return std::nullopt;
    }
    std::string reason;
    if (!config::createConfigFile(*given, &reason)) {
      exitCode = cannotCreate(ctx, *given, reason);
      return std::nullopt;
    }
    return *given;
  }
  if (ctx.userDataFolder().empty()) {
    exitCode = ctx.failure("The per-user configuration folder is unknown (" +
                           unknownUserDataFolderReason() + "); give --config FILE.");
    return std::nullopt;
  }
  if (const auto problem = isStateFile(ctx, config::configPathUnder(ctx.userDataFolder()))) {
    exitCode = ctx.badInput(*problem);
    return std::nullopt;
  }
  // A file that could not be made is reported as such, not later as a missing one.
  if (const std::string reason = config::locateAndCreate(ctx.userDataFolder()); !reason.empty()) {
    exitCode = cannotCreate(ctx, config::FileName, reason);
    return std::nullopt;
  }
  if (const auto problem = notAFile("The configuration file", config::FileName)) {
    exitCode = ctx.badInput(*problem);
    return std::nullopt;
  }
  return config::FileName;
}

void confirmWithFile(Context& ctx, const std::string& sentence, const std::string& path) {
  ctx.confirm(sentence, [&path](JsonWriter& json) {
    json.key("file");
    json.value(path);
  });
}

int runSave(Context& ctx, const std::vector<std::string>& rest) {
  if (!rest.empty()) return ctx.badInput("'config save' takes no arguments.");
  int code = kExitOk;
  const auto path = configFile(ctx, true, code);
  if (!path) return code;
  const DeviceHandle device = ctx.openDevice();
  if (!device) return kExitFailure;
  // The status the Talkgate is asked to store is the one it reports now (storing changes none
  // of it). The file takes it completely, beside the old one, before the Talkgate is asked, so a
  // file that cannot be written leaves the Talkgate as it was.
  DeviceStatus status;
  if (const int r = readStatus(device, status); r != kOk) return stepFailed(ctx, kSaveFailed, r);
  config::PendingSave pending;
  const config::SaveOutcome prepared = pending.prepare(*path, status);
  if (!prepared.malformed.empty()) {
    return malformedFile(ctx, *path, prepared.malformed, kExitFailure);
  }
  if (!prepared.ok()) {
    return ctx.failure("Failed to update " + printablePath(*path) + ": " +
                       printablePath(prepared.failure) +
                       ". The Talkgate's defaults were left as they were.");
  }
  if (const int r = storeDefaults(device); r != kOk) {
    return stepFailed(ctx, kWriteDefaultFailed, r);
  }
  if (const config::SaveOutcome committed = pending.commit(); !committed.ok()) {
    return ctx.failure("The Talkgate stored its settings as its defaults, but " +
                       printablePath(*path) +
                       " could not be updated: " + printablePath(committed.failure) + ".");
  }
  confirmWithFile(
      ctx, "The Talkgate stored its settings as its defaults; they are saved in " + *path + ".",
      *path);
  return kExitOk;
}

int runRestore(Context& ctx, const std::vector<std::string>& rest) {
  if (!rest.empty()) return ctx.badInput("'config restore' takes no arguments.");
  int code = kExitOk;
  const auto path = configFile(ctx, false, code);
  if (!path) return code;
  // Checked whole, ranges included, before anything is sent: a bad file leaves the device as
  // it was.
  config::RestoreValues values;
  const config::RestoreOutcome checked = config::checkRestoreFile(*path, values);
  if (!checked.unreadable.empty()) {
    return malformedFile(ctx, *path, checked.unreadable, kExitBadInput);
  }
  if (!checked.malformed.empty()) {
    return malformedFile(ctx, *path, checked.malformed, kExitBadInput);
  }
  if (!checked.failedKey.empty()) {
    return unusableValue(ctx, checked.failedKey, *path, kExitBadInput);
  }
  const DeviceHandle device = ctx.openDevice();
  if (!device) return kExitFailure;
  const config::RestoreOutcome outcome = config::sendRestoreValues(values, device);
  if (!outcome.ok) {
    return stepFailed(ctx, config::restoreStepMessage(outcome.failedStep), outcome.result);
  }
  confirmWithFile(ctx,
                  "The Talkgate's settings were restored from " + printablePath(*path) +
                      " ('talkgatectl save' makes them its defaults).",
                  *path);
  return kExitOk;
}

int runExport(Context& ctx, const std::vector<std::string>& rest) {
  if (rest.size() != 1) return ctx.badInput("'config export' needs one folder: config export DIR.");
  const std::string& folder = rest[0];
  std::error_code ec;
  if (!fs::is_directory(files::pathFromUtf8(folder), ec)) {
    return ctx.badInput("There is no folder " + printablePath(folder) + ".");
  }
  const std::string target = config::exportTargetIn(folder);
  if (const auto problem = notAFile("The export target", target)) return ctx.badInput(*problem);
  int code = kExitOk;
  const auto source = configFile(ctx, false, code);
  if (!source) return code;
  std::string detail;
  switch (config::exportFile(*source, folder, ctx.flag("--force"), &detail)) {
    case config::ExportOutcome::Exported:
      confirmWithFile(ctx,
                      "Exported " + printablePath(*source) + " to " + printablePath(target) + ".",
                      target);
      return kExitOk;
    case config::ExportOutcome::TargetExists:
      return ctx.failure("USBTalkgateUtilityCfg.ini file already exists in " +
                         printablePath(folder) + "; add --force to overwrite it.");
    case config::ExportOutcome::CopyFailed:
      return ctx.failure(std::string(kExportCopyFailed) + " to " + printablePath(target) + ": " +
                         printablePath(detail) + ".");
    case config::ExportOutcome::SourceUnusable: {
      // The configuration file is at fault, not the folder.
      const bool unsaved = detail.rfind("the value of ", 0) == 0;
      return ctx.failure(std::string(kExportCopyFailed) + ": the configuration file " +
                         printablePath(*source) +
                         " cannot be exported: " + printablePath(detail) +
                         (unsaved ? " ('talkgatectl config save' writes it)." : "."));
    }
    case config::ExportOutcome::Error:
      break;
  }
  return ctx.failure(kExportError);
}

int runImport(Context& ctx, const std::vector<std::string>& rest) {
  if (rest.size() != 1) return ctx.badInput("'config import' needs one file: config import FILE.");
  const std::string& source = rest[0];
  if (const auto problem = notAFile("The file", source)) return ctx.badInput(*problem);
  if (files::kindOf(source) == files::FileKind::Missing) {
    return ctx.badInput("The file " + printablePath(source) + " does not exist.");
  }
  int code = kExitOk;
  const auto dest = configFile(ctx, true, code);
  if (!dest) return code;
  std::string detail;
  switch (config::importFile(source, *dest, &detail)) {
    case config::ImportOutcome::Imported:
      confirmWithFile(ctx,
                      "Imported " + printablePath(source) + " as " + printablePath(*dest) +
                          " ('talkgatectl config restore' puts it on the Talkgate).",
                      *dest);
      return kExitOk;
    case config::ImportOutcome::IncorrectFilename:
      return ctx.badInput(kIncorrectFilename);
    case config::ImportOutcome::IncorrectFormat:
      if (!detail.empty()) {
        return ctx.badInput(std::string(kIncorrectFormat) + " The value of " + detail + " in " +
                            printablePath(source) + " is missing or not valid.");
      }
      return ctx.badInput(kIncorrectFormat);
    case config::ImportOutcome::Unreadable:
      return ctx.badInput("The file " + printablePath(source) +
                          " cannot be imported: " + printablePath(detail) + ".");
    case config::ImportOutcome::CopyFailed:
      return ctx.failure(std::string(kImportCopyFailed) + " " + printablePath(*dest) + ": " +
                         printablePath(detail) + ".");
    case config::ImportOutcome::Error:
      if (!detail.empty()) return malformedFile(ctx, source, detail, kExitBadInput);
      break;
  }
  return ctx.failure(kImportError);
}

int runConfig(Context& ctx) {
  const auto& args = ctx.args();
  if (args.empty()) return ctx.badInput("'config' needs save, restore, export or import.");
  const std::string& sub = args[0];
  const std::vector<std::string> rest(args.begin() + 1, args.end());
  if (ctx.flag("--force") && sub != "export") {
    return ctx.badInput("--force belongs to 'config export'.");
  }
  if (sub == "save") return runSave(ctx, rest);
  if (sub == "restore") return runRestore(ctx, rest);
  if (sub == "export") return runExport(ctx, rest);
  if (sub == "import") return runImport(ctx, rest);
  return ctx.badInput("Unknown config command '" + printablePath(sub) +
                      "'; use save, restore, export or import.");
}

}  // namespace

void registerConfigCommands(CommandRegistry& registry) {
  registry.add({"config",
                {{"config save",
                  "Make the Talkgate store its settings as its defaults (like 'save'), then "
                  "write them into the configuration file."},
                 {"config restore",
                  "Send the settings of the configuration file to the Talkgate: keypad "
                  "type, the key code table when it is the customised one, ambient "
                  "function, symbol LED brightness. The file is checked first; a "
                  "missing or invalid value sends nothing."},
                 {"config export DIR [--force]",
                  "Copy the configuration file into the folder DIR; "
                  "--force replaces a file already there."},
                 {"config import FILE",
                  "Replace the configuration file with FILE, which must be named "
                  "USBTalkgateUtilityCfg.ini and hold all six settings."}},
                {"--force"},
                runConfig,
                {"talkgatectl config save        # on the device whose settings are the model",
                 "talkgatectl config restore     # on each further device",
                 "talkgatectl --all config restore && talkgatectl --all save",
                 "talkgatectl config export ~/talkgate-backup --force",
                 "talkgatectl config import ~/talkgate-backup/USBTalkgateUtilityCfg.ini"},
                "No Talkgate is connected, it cannot be opened, a request failed, or the "
                "configuration file could not be read or written.",
                true});
}

}  // namespace talkgate::cli
