#include "config/utility_config.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <stdexcept>

#include "config/atomic_file.h"
#include "config/file_lock.h"
#include "config/ini_file.h"
#include "files/regular_file.h"
#include "files/utf8_path.h"

namespace fs = std::filesystem;

namespace talkgate::config {

std::string FileName;

namespace {

constexpr int kMaxBinarySetting = 1;
constexpr int kMaxByte = 255;
constexpr int kCustomisedTable = 1;
constexpr char kWhiteSpace[] = " \t\n\v\f\r";

// Reads one key of "appSettings" from records already loaded, as GetValue would.
ValueGetter recordsGetter(const std::vector<CIniFile::Record>& records) {
  return [&records](const std::string& key) {
    for (const CIniFile::Record& rec : records) {
      if (rec.Section == kSection && rec.Key == key) return rec.Value;
    }
    return std::string();
  };
}

// Section "appSettings" with all six keys (which implies the section).
bool hasConfigFormat(const std::vector<CIniFile::Record>& records) {
  for (const char* key : kCreationOrder) {
    const bool found = std::any_of(records.begin(), records.end(), [key](const auto& rec) {
      return rec.Section == kSection && rec.Key == key;
    });
    if (!found) return false;
  }
  return true;
}

void setDetail(std::string* detail, const std::string& text) {
  if (detail) *detail = text;
}

bool parseInRange(const std::string& text, int maxValue, int& value) {
  return parseDecimal(text, value) && value >= 0 && value <= maxValue;
}

// The first key whose value a restore could not use; "" when all are usable.
std::string firstUnusableSetting(const std::vector<CIniFile::Record>& records) {
  RestoreValues values;
  return readRestoreValues(recordsGetter(records), values);
}

}  // namespace

std::string configPathUnder(const std::string& baseFolder) {
  return files::utf8Of(files::pathFromUtf8(baseFolder) / kConfigFolderName / kConfigFileName);
}

bool createConfigFile(const std::string& path, std::string* reason) {
  std::vector<CIniFile::Record> content(1);
  content.front().Section = kSection;
  // Each new key lands right after the header, so the file lists them in reverse.
  for (const char* key : kCreationOrder) setValueIn(content, key, "", kSection);
  return writeIniText(path, iniText(content), reason);
}

std::string locateAndCreate(const std::string& baseFolder) {
  if (baseFolder.empty()) return "";
  try {
    const fs::path folder = files::pathFromUtf8(baseFolder) / kConfigFolderName;
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(folder, ec))) fs::create_directories(folder, ec);
    FileName = configPathUnder(baseFolder);
    // Anything there, even what cannot be reached, is never checked or repaired.
    if (fs::exists(fs::symlink_status(files::pathFromUtf8(FileName), ec)) ||
        files::kindOf(FileName) != files::FileKind::Missing) {
      return "";
    }
    std::string reason;
    if (!createConfigFile(FileName, &reason)) return reason;
  } catch (const std::exception& error) {
    // Start-up goes on without a file; later reads and writes report their own failures.
    return error.what();
  }
  return "";
}

std::string formatCodeTable(const KeyTable& table) {
  std::string text;
  for (std::uint8_t byte : table) text += std::to_string(byte) + ",";
  return text;
}

std::vector<std::pair<std::string, std::string>> settingsFromStatus(const DeviceStatus& status) {
  return {
      {kKeyLEDBrightness, std::to_string(status.symbolBrightness)},
      {kKeyKeypadLayout, std::to_string(status.keypadType)},
      {kKeyAmbientCfg, std::to_string(status.ambientConfig)},
      {kKeyCodeTableValues, formatCodeTable(status.keyTable)},
      {kKeyFirmwareVersion, withoutControlCharacters(status.firmwareVersion)},
      {kKeySerialNumber, withoutControlCharacters(status.serialNumber)},
  };
}

std::string withoutControlCharacters(const std::string& text) {
  std::string out;
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte != 0x7F) out += c;
  }
  return out;
}

SaveOutcome PendingSave::prepare(const std::string& path, const DeviceStatus& status) {
  SaveOutcome outcome;
  file_.discard();
  lock_.reset();
  lock_.emplace(path);
  if (!lock_->locked()) {
    outcome.failure = lock_->busyReason();
    return outcome;
  }
  std::string bytes;
  if (!files::readRegularFile(path, kMaxIniFileBytes, bytes, outcome.failure)) return outcome;
  std::vector<CIniFile::Record> content;
  try {
    content = parseIniText(bytes);
  } catch (const std::out_of_range& error) {
    outcome.malformed = error.what();
    return outcome;
  }
  for (const auto& [key, value] : settingsFromStatus(status)) {
    if (!setValueIn(content, key, value, kSection)) {
      outcome.failure = "a value holds a line break";
      return outcome;
    }
  }
  WriteOptions options;
  options.maxBytes = kMaxIniFileBytes;
  file_.prepare(path, iniText(content), &outcome.failure, options);
  return outcome;
}

SaveOutcome PendingSave::commit() {
  SaveOutcome outcome;
  file_.commit(&outcome.failure);
  lock_.reset();
  return outcome;
}

SaveOutcome saveStatusToFile(const std::string& path, const DeviceStatus& status) {
  PendingSave save;
  const SaveOutcome prepared = save.prepare(path, status);
  return prepared.ok() ? save.commit() : prepared;
}

bool parseDecimal(const std::string& text, int& value) {
  const std::size_t first = text.find_first_not_of(kWhiteSpace);
  if (first == std::string::npos) return false;
  const std::size_t last = text.find_last_not_of(kWhiteSpace);
  const std::string body = text.substr(first, last - first + 1);
  std::size_t digitsAt = 0;
  if (body[0] == '+' || body[0] == '-') digitsAt = 1;
  if (digitsAt == body.size()) return false;
  for (std::size_t i = digitsAt; i < body.size(); ++i) {
    if (body[i] < '0' || body[i] > '9') return false;
  }
  errno = 0;
  const long long parsed = std::strtoll(body.c_str(), nullptr, 10);
  if (errno == ERANGE || parsed < INT_MIN || parsed > INT_MAX) return false;
  value = static_cast<int>(parsed);
  return true;
}

bool parseCodeTable(const std::string& text, KeyTable& table) {
  KeyTable parsed{};
  std::size_t start = 0;
  for (std::size_t field = 0; field < kKeyTableSize; ++field) {
    if (start > text.size()) return false;  // fewer than 12 fields
    std::size_t comma = text.find(',', start);
    if (comma == std::string::npos) comma = text.size();
    int value = 0;
    if (!parseInRange(text.substr(start, comma - start), kMaxByte, value)) return false;
    parsed[field] = static_cast<std::uint8_t>(value);
    start = comma + 1;
  }
  table = parsed;
  return true;
}

std::string readRestoreValues(const ValueGetter& getValue, RestoreValues& values) {
  RestoreValues read;
  if (!parseInRange(getValue(kKeyKeypadLayout), kMaxBinarySetting, read.keypadType)) {
    return kKeyKeypadLayout;
  }
  if (read.keypadType == kCustomisedTable &&
      !parseCodeTable(getValue(kKeyCodeTableValues), read.keyTable)) {
    return kKeyCodeTableValues;
  }
  if (!parseInRange(getValue(kKeyAmbientCfg), kMaxBinarySetting, read.ambientConfig)) {
    return kKeyAmbientCfg;
  }
  if (!parseInRange(getValue(kKeyLEDBrightness), kMaxSymbolBrightness, read.symbolBrightness)) {
    return kKeyLEDBrightness;
  }
  values = read;
  return {};
}

RestoreOutcome sendRestoreValues(const RestoreValues& values, DeviceHandle device) {
  RestoreOutcome outcome;
  auto requestFailed = [&outcome](RestoreStep step, int result) {
    outcome.failedStep = step;
    outcome.result = result;
    return outcome;
  };
  if (int r = setKeypadType(device, static_cast<std::uint8_t>(values.keypadType)); r != kOk) {
    return requestFailed(RestoreStep::KeypadType, r);
  }
  if (values.keypadType == kCustomisedTable) {
    if (int r = writeKeyTable(device, values.keyTable); r != kOk) {
      return requestFailed(RestoreStep::KeyTable, r);
    }
  }
  if (int r = setAmbientConfig(device, static_cast<std::uint8_t>(values.ambientConfig)); r != kOk) {
    return requestFailed(RestoreStep::AmbientConfig, r);
  }
  if (int r = setSymbolBrightness(device, static_cast<std::uint8_t>(values.symbolBrightness));
      r != kOk) {
    return requestFailed(RestoreStep::SymbolBrightness, r);
  }
  outcome.ok = true;
  return outcome;
}

RestoreOutcome restoreSettings(const ValueGetter& getValue, DeviceHandle device) {
  RestoreValues values;
  if (std::string key = readRestoreValues(getValue, values); !key.empty()) {
    RestoreOutcome outcome;
    outcome.failedKey = std::move(key);
    return outcome;
  }
  return sendRestoreValues(values, device);
}

RestoreOutcome checkRestoreFile(const std::string& path, RestoreValues& values) {
  RestoreOutcome outcome;
  std::string bytes;
  if (!files::readRegularFile(path, kMaxIniFileBytes, bytes, outcome.unreadable)) return outcome;
  try {
    const std::vector<CIniFile::Record> records = parseIniText(bytes);
    outcome.failedKey = readRestoreValues(recordsGetter(records), values);
  } catch (const std::out_of_range& error) {
    outcome.malformed = error.what();
    return outcome;
  }
  outcome.ok = outcome.failedKey.empty();
  return outcome;
}

RestoreOutcome restoreFromFile(const std::string& path, DeviceHandle device) {
  RestoreValues values;
  const RestoreOutcome checked = checkRestoreFile(path, values);
  if (!checked.ok) return checked;
  return sendRestoreValues(values, device);
}

std::string restoreStepMessage(RestoreStep step) {
  switch (step) {
    case RestoreStep::KeypadType:
      return "Unable to set Keypad Type..";
    case RestoreStep::KeyTable:
      return "Unable to Load Table..";
    case RestoreStep::AmbientConfig:
      return "Unable to set ambient cfg..";
    case RestoreStep::SymbolBrightness:
      return "Unable to set led brightness..";
    case RestoreStep::None:
      break;
  }
  return "";
}

bool hasConfigFileName(const std::string& path) {
  return files::utf8Of(files::pathFromUtf8(path).filename()) == kConfigFileName;
}

bool hasConfigFormat(const std::string& path) {
  std::vector<CIniFile::Record> records;
  return CIniFile::Load(path, records) && hasConfigFormat(records);
}

ImportOutcome importFile(const std::string& source, const std::string& dest, std::string* detail) {
  try {
    if (!hasConfigFileName(source)) return ImportOutcome::IncorrectFilename;
    std::string bytes;
    std::string reason;
    if (!files::readRegularFile(source, kMaxIniFileBytes, bytes, reason)) {
      setDetail(detail, reason);
      return ImportOutcome::Unreadable;
    }
    try {
      const std::vector<CIniFile::Record> records = parseIniText(bytes);
      if (!hasConfigFormat(records)) return ImportOutcome::IncorrectFormat;
      // A file a restore would refuse never replaces one it can use.
      if (const std::string key = firstUnusableSetting(records); !key.empty()) {
        setDetail(detail, key);
        return ImportOutcome::IncorrectFormat;
      }
    } catch (const std::out_of_range& error) {
      setDetail(detail, error.what());
      return ImportOutcome::Error;
    }
    FileLock lock(dest);
    if (!lock.locked()) {
      setDetail(detail, lock.busyReason());
      return ImportOutcome::CopyFailed;
    }
    if (!writeFileAtomically(dest, bytes, &reason)) {
      setDetail(detail, reason);
      return ImportOutcome::CopyFailed;
    }
    return ImportOutcome::Imported;
  } catch (const std::exception& error) {
    setDetail(detail, error.what());
    return ImportOutcome::Error;
  }
}

std::string exportTargetIn(const std::string& folder) {
  return files::utf8Of(files::pathFromUtf8(folder) / kConfigFileName);
}

ExportOutcome exportFile(const std::string& source, const std::string& folder, bool overwrite,
                         std::string* detail) {
  if (folder.empty()) return ExportOutcome::CopyFailed;
  try {
    const std::string target = exportTargetIn(folder);
    std::error_code ec;
    if (!overwrite && fs::exists(fs::symlink_status(files::pathFromUtf8(target), ec))) {
      return ExportOutcome::TargetExists;
    }
    std::string bytes;
    std::string reason;
    if (!files::readRegularFile(source, kMaxIniFileBytes, bytes, reason)) {
      setDetail(detail, reason);
      return ExportOutcome::SourceUnusable;
    }
    try {
      const std::vector<CIniFile::Record> records = parseIniText(bytes);
      if (const std::string key = firstUnusableSetting(records); !key.empty()) {
        setDetail(detail, "the value of " + key + " is missing or not valid");
        return ExportOutcome::SourceUnusable;
      }
    } catch (const std::out_of_range& error) {
      setDetail(detail, std::string("it cannot be read (") + error.what() + ")");
      return ExportOutcome::SourceUnusable;
    }
    if (!writeIniText(target, bytes, &reason)) {
      setDetail(detail, reason);
      return ExportOutcome::CopyFailed;
    }
    return ExportOutcome::Exported;
  } catch (const std::exception& error) {
    setDetail(detail, error.what());
    return ExportOutcome::Error;
  }
}

}  // namespace talkgate::config
