#pragma once
// The utility's per-user configuration file "USBTalkgateUtilityCfg.ini": its location and first
// creation, the values it holds, the device restore from it, and import/export checks. No Qt;
// the windows (config_ui.h) and the command-line tool put messages on top of this.

#include <array>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "device/commands.h"
#include "device/transport.h"

namespace talkgate::config {

// Full path of the configuration file; empty until start-up located the user's folder.
extern std::string FileName;

inline constexpr char kConfigFolderName[] = "VelkorInterface";
inline constexpr char kConfigFileName[] = "USBTalkgateUtilityCfg.ini";
inline constexpr char kSection[] = "appSettings";

inline constexpr char kKeyLEDBrightness[] = "LEDBrightness";
inline constexpr char kKeyKeypadLayout[] = "KeypadLayout";
inline constexpr char kKeyAmbientCfg[] = "Ambient_cfg";
inline constexpr char kKeyCodeTableValues[] = "CodeTableValues";
inline constexpr char kKeyFirmwareVersion[] = "FirmwareVersion";
inline constexpr char kKeySerialNumber[] = "SerialNumber";
inline constexpr char kKeyFirmwareFile[] = "FirmwareFile";

// The six keys a complete file holds, in the order start-up creates them.
inline constexpr std::array<const char*, 6> kCreationOrder = {
    kKeyKeypadLayout,    kKeyAmbientCfg,   kKeyCodeTableValues,
    kKeyFirmwareVersion, kKeySerialNumber, kKeyLEDBrightness};

// ---- Location and first creation

// The configuration file's path under a base folder (the user's local data folder).
std::string configPathUnder(const std::string& baseFolder);

// Start-up step: sets FileName under baseFolder and creates the folder and the file with the six
// empty keys when the file does not exist yet. An empty baseFolder leaves FileName empty. An
// existing file is left untouched. Never throws.
void locateAndCreate(const std::string& baseFolder);

// Creates a fresh file at path: the section header and the six keys with empty values.
// False when the file or its section could not be written.
bool createConfigFile(const std::string& path);

// ---- Save

// The six values written by Save Changes, in the order they are written.
std::vector<std::pair<std::string, std::string>> settingsFromStatus(const DeviceStatus& status);

// The key table as twelve decimal numbers, each followed by ",".
std::string formatCodeTable(const KeyTable& table);

struct SaveOutcome {
  std::vector<std::string> failedKeys;  // keys whose write failed (all are still attempted)
  std::string malformed;  // not empty: the file cannot be read ("line 3: ..."); nothing written
  bool ok() const { return failedKeys.empty() && malformed.empty(); }
};

// Writes the six values of status into section "appSettings" of the file at path.
SaveOutcome saveStatusToFile(const std::string& path, const DeviceStatus& status);

// ---- Restore

// Parses a decimal integer with optional surrounding white space and sign; false for anything
// else (empty, other characters, outside the range of int).
bool parseDecimal(const std::string& text, int& value);

// Parses the first 12 comma-separated fields of a CodeTableValues text as bytes 0 to 255;
// fields after the twelfth are ignored. False when fewer than 12 fields or one is not valid.
bool parseCodeTable(const std::string& text, KeyTable& table);

// The requests of a restore, in the order they are sent.
enum class RestoreStep { None, KeypadType, KeyTable, AmbientConfig, SymbolBrightness };

struct RestoreOutcome {
  bool ok = false;
  std::string failedKey;                       // key whose value could not be used
  RestoreStep failedStep = RestoreStep::None;  // request that failed
  int result = kOk;                            // that request's result code
  std::string malformed;                       // the file could not be read ("line 3: ...")
};

// Reads one value of section "appSettings"; may throw std::out_of_range for a malformed file.
using ValueGetter = std::function<std::string(const std::string& key)>;

// Sends keypad type (command 11), the key table only when the keypad type is 1 (command 6),
// ambient configuration (4) and symbol brightness (3), each value read and checked just before
// its request. Stops at the first value it cannot use or the first failed request; requests
// already sent stay in force. Throws what getValue throws.
RestoreOutcome restoreSettings(const ValueGetter& getValue, DeviceHandle device);

// restoreSettings over the file at path; a malformed file is reported in the outcome.
RestoreOutcome restoreFromFile(const std::string& path, DeviceHandle device);

// The message a failed restore request shows ("Unable to set Keypad Type.." and so on).
std::string restoreStepMessage(RestoreStep step);

// ---- Import and export

enum class ImportOutcome {
  Imported,           // copied over the destination
  IncorrectFilename,  // the name is not exactly "USBTalkgateUtilityCfg.ini"
  IncorrectFormat,    // no "appSettings" section, or one of the six keys is missing
  CopyFailed,         // the checks passed but the destination could not be replaced
  Error,              // the file could not be read (malformed) or the file system failed
};

// True when path's file name, without folder, is exactly "USBTalkgateUtilityCfg.ini".
bool hasConfigFileName(const std::string& path);

// True when the file has section "appSettings" with all six keys (values not checked). Throws
// std::out_of_range for a malformed file.
bool hasConfigFormat(const std::string& path);

// Checks source and copies it atomically over dest.
ImportOutcome importFile(const std::string& source, const std::string& dest);

enum class ExportOutcome {
  Exported,      // copied into the folder
  TargetExists,  // the folder already holds the file and overwrite was false; nothing written
  CopyFailed,    // the copy failed (no source, unwritable folder)
  Error,         // the file system raised an error
};

// The export target in folder: folder + "/USBTalkgateUtilityCfg.ini".
std::string exportTargetIn(const std::string& folder);

// Copies source into folder as "USBTalkgateUtilityCfg.ini"; an existing file there is replaced
// only when overwrite is true.
ExportOutcome exportFile(const std::string& source, const std::string& folder, bool overwrite);

}  // namespace talkgate::config
