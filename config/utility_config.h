#pragma once
// The utility's per-user configuration file "USBTalkgateUtilityCfg.ini": its location and first
// creation, the values it holds, the device restore from it, and import/export checks. No Qt;
// the windows (config_ui.h) and the command-line tool put messages on top of this.

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "config/atomic_file.h"
#include "config/file_lock.h"
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
// existing file is left untouched. Never throws. Returns why the file could not be created
// ("No space left on device"); "" when it is there.
std::string locateAndCreate(const std::string& baseFolder);

// Creates a fresh file at path: the section header and the six keys with empty values.
// False when the file or its section could not be written, with the reason in *reason.
bool createConfigFile(const std::string& path, std::string* reason = nullptr);

// ---- Save

// The six values written by Save Changes, in the order they are written.
std::vector<std::pair<std::string, std::string>> settingsFromStatus(const DeviceStatus& status);

// The key table as twelve decimal numbers, each followed by ",".
std::string formatCodeTable(const KeyTable& table);

// A device text fit for the file: control characters (CR and LF among them) removed.
std::string withoutControlCharacters(const std::string& text);

struct SaveOutcome {
  std::string failure;    // not empty: why the file could not be updated; nothing written
  std::string malformed;  // not empty: the file cannot be read ("line 3: ..."); nothing written
  bool ok() const { return failure.empty() && malformed.empty(); }
};

// A save in two steps, so that the device is asked to change only once its file is known to
// take the new values: prepare locks the file, reads it and writes its new content beside it
// (a full disk or a read-only file shows here); commit puts it in place. Destroyed
// uncommitted, the file stays as it was.
class PendingSave {
 public:
  SaveOutcome prepare(const std::string& path, const DeviceStatus& status);
  SaveOutcome commit();

 private:
  std::optional<FileLock> lock_;
  PreparedFile file_;
};

// Writes the six values of status into section "appSettings" of the file at path, in one
// replacement under the file's lock: the file holds what the six single writes would leave, or
// stays as it was.
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
  std::string unreadable;  // why the file could not be opened ("it does not exist")
};

// Reads one value of section "appSettings"; may throw std::out_of_range for a malformed file.
using ValueGetter = std::function<std::string(const std::string& key)>;

// The values a restore sends, each checked against its range.
struct RestoreValues {
  int keypadType = 0;
  KeyTable keyTable{};  // only read when keypadType is 1
  int ambientConfig = 0;
  int symbolBrightness = 0;
};

// Reads and checks every value a restore sends, in the order it sends them. Returns the first
// key whose value is missing or out of range, "" when all are usable. Throws what getValue
// throws.
std::string readRestoreValues(const ValueGetter& getValue, RestoreValues& values);

// Checks every value first (readRestoreValues): one bad value sends nothing. Then sends keypad
// type (command 11), the key table only when the keypad type is 1 (command 6), ambient
// configuration (4) and symbol brightness (3), stopping at the first failed request; requests
// already sent stay in force. Throws what getValue throws.
RestoreOutcome restoreSettings(const ValueGetter& getValue, DeviceHandle device);

// Sends values already checked, as restoreSettings does after its check.
RestoreOutcome sendRestoreValues(const RestoreValues& values, DeviceHandle device);

// The file at path read once for a restore: its values, or why it cannot be used (unreadable or
// malformed file, or the first unusable key) in the outcome. Sends nothing.
RestoreOutcome checkRestoreFile(const std::string& path, RestoreValues& values);

// restoreSettings over the file at path; an unreadable or malformed file is reported in the
// outcome.
RestoreOutcome restoreFromFile(const std::string& path, DeviceHandle device);

// The message a failed restore request shows ("Unable to set Keypad Type.." and so on).
std::string restoreStepMessage(RestoreStep step);

// ---- Import and export

enum class ImportOutcome {
  Imported,           // copied over the destination
  IncorrectFilename,  // the name is not exactly "USBTalkgateUtilityCfg.ini"
  IncorrectFormat,    // no "appSettings" section, one of the six keys is missing, or a value
                      // a restore reads is not valid (the key in *detail)
  CopyFailed,         // the checks passed but the destination could not be replaced
  Error,              // the file could not be read (malformed) or the file system failed
  Unreadable,         // the chosen file is missing, not a regular file or too large
};

// True when path's file name, without folder, is exactly "USBTalkgateUtilityCfg.ini".
bool hasConfigFileName(const std::string& path);

// True when the file has section "appSettings" with all six keys (values not checked). Throws
// std::out_of_range for a malformed file.
bool hasConfigFormat(const std::string& path);

// Checks source as strictly as a restore and copies it atomically over dest, under dest's lock;
// the bytes checked are the bytes written. *detail (when given) tells why it failed: the reason
// for Unreadable and CopyFailed, "line N: ..." for a malformed file, the unusable key for
// IncorrectFormat (empty when a key is missing).
ImportOutcome importFile(const std::string& source, const std::string& dest,
                         std::string* detail = nullptr);

enum class ExportOutcome {
  Exported,        // copied into the folder
  TargetExists,    // the folder already holds the file and overwrite was false; nothing written
  CopyFailed,      // the target could not be written (unwritable folder, full disk)
  SourceUnusable,  // the source cannot be read, or holds no usable settings; nothing written
  Error,           // the file system raised an error
};

// The export target in folder: folder + "/USBTalkgateUtilityCfg.ini".
std::string exportTargetIn(const std::string& folder);

// Copies source into folder as "USBTalkgateUtilityCfg.ini"; an existing file there is replaced
// only when overwrite is true. The source must hold what an import accepts (a fresh file with
// empty values is not exported). Anything there that is not a regular file is never replaced.
// *detail: why it failed ("it is a directory"; for SourceUnusable "it cannot be read (...)" or
// "the value of KeypadLayout is missing or not valid").
ExportOutcome exportFile(const std::string& source, const std::string& folder, bool overwrite,
                         std::string* detail = nullptr);

}  // namespace talkgate::config
