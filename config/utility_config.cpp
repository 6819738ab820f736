#include "config/utility_config.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <stdexcept>

#include "config/atomic_file.h"
#include "config/ini_file.h"

namespace fs = std::filesystem;

namespace talkgate::config {

std::string FileName;

namespace {

constexpr int kMaxBinarySetting = 1;
constexpr int kMaxByte = 255;
constexpr int kCustomisedTable = 1;
constexpr char kWhiteSpace[] = " \t\n\v\f\r";

// Reads one key of "appSettings" from the file at path.
ValueGetter fileGetter(const std::string& path) {
  return [path](const std::string& key) { return CIniFile::GetValue(key, kSection, path); };
}

bool parseInRange(const std::string& text, int maxValue, int& value) {
  return parseDecimal(text, value) && value >= 0 && value <= maxValue;
}

}  // namespace

std::string configPathUnder(const std::string& baseFolder) {
  return (fs::path(baseFolder) / kConfigFolderName / kConfigFileName).string();
}

bool createConfigFile(const std::string& path) {
  if (!CIniFile::Create(path)) return false;
  if (!CIniFile::AddSection(kSection, path)) return false;
  // Each new key lands right after the header, so the file lists them in reverse.
  for (const char* key : kCreationOrder) CIniFile::SetValue(key, "", kSection, path);
  return true;
}

void locateAndCreate(const std::string& baseFolder) {
  if (baseFolder.empty()) return;
  try {
    const fs::path folder = fs::path(baseFolder) / kConfigFolderName;
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(folder, ec))) fs::create_directories(folder, ec);
    FileName = configPathUnder(baseFolder);
    if (fs::exists(fs::symlink_status(FileName, ec))) return;  // never checked or repaired
    createConfigFile(FileName);
  } catch (const std::exception&) {
    // Start-up goes on without a file; later reads and writes report their own failures.
  }
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
      {kKeyFirmwareVersion, status.firmwareVersion},
      {kKeySerialNumber, status.serialNumber},
  };
}

SaveOutcome saveStatusToFile(const std::string& path, const DeviceStatus& status) {
  SaveOutcome outcome;
  for (const auto& [key, value] : settingsFromStatus(status)) {
    try {
      if (!CIniFile::SetValue(key, value, kSection, path)) outcome.failedKeys.push_back(key);
    } catch (const std::out_of_range& error) {
      // Every later write would meet the same line; the file stays as it is.
      outcome.malformed = error.what();
      break;
    }
  }
  return outcome;
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

RestoreOutcome restoreSettings(const ValueGetter& getValue, DeviceHandle device) {
  RestoreOutcome outcome;
  auto requestFailed = [&outcome](RestoreStep step, int result) {
    outcome.failedStep = step;
    outcome.result = result;
    return outcome;
  };
  auto badValue = [&outcome](const char* key) {
    outcome.failedKey = key;
    return outcome;
  };

  int keypadType = 0;
  if (!parseInRange(getValue(kKeyKeypadLayout), kMaxBinarySetting, keypadType)) {
    return badValue(kKeyKeypadLayout);
  }
  if (int r = setKeypadType(device, static_cast<std::uint8_t>(keypadType)); r != kOk) {
    return requestFailed(RestoreStep::KeypadType, r);
  }

  if (keypadType == kCustomisedTable) {
    KeyTable table{};
    if (!parseCodeTable(getValue(kKeyCodeTableValues), table)) {
      return badValue(kKeyCodeTableValues);
    }
    if (int r = writeKeyTable(device, table); r != kOk) {
      return requestFailed(RestoreStep::KeyTable, r);
    }
  }

  int ambient = 0;
  if (!parseInRange(getValue(kKeyAmbientCfg), kMaxBinarySetting, ambient)) {
    return badValue(kKeyAmbientCfg);
  }
  if (int r = setAmbientConfig(device, static_cast<std::uint8_t>(ambient)); r != kOk) {
    return requestFailed(RestoreStep::AmbientConfig, r);
  }

  int brightness = 0;
  if (!parseInRange(getValue(kKeyLEDBrightness), kMaxSymbolBrightness, brightness)) {
    return badValue(kKeyLEDBrightness);
  }
  if (int r = setSymbolBrightness(device, static_cast<std::uint8_t>(brightness)); r != kOk) {
    return requestFailed(RestoreStep::SymbolBrightness, r);
  }

  outcome.ok = true;
  return outcome;
}

RestoreOutcome restoreFromFile(const std::string& path, DeviceHandle device) {
  try {
    return restoreSettings(fileGetter(path), device);
  } catch (const std::out_of_range& error) {
    RestoreOutcome outcome;
    outcome.malformed = error.what();
    return outcome;
  }
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
  return fs::path(path).filename().string() == kConfigFileName;
}

bool hasConfigFormat(const std::string& path) {
  if (!CIniFile::SectionExists(kSection, path)) return false;
  for (const char* key : kCreationOrder) {
    if (!CIniFile::RecordExists(key, kSection, path)) return false;
  }
  return true;
}

ImportOutcome importFile(const std::string& source, const std::string& dest) {
  try {
    if (!hasConfigFileName(source)) return ImportOutcome::IncorrectFilename;
    if (!hasConfigFormat(source)) return ImportOutcome::IncorrectFormat;
    if (!copyFileAtomically(source, dest)) return ImportOutcome::CopyFailed;
    return ImportOutcome::Imported;
  } catch (const std::exception&) {
    return ImportOutcome::Error;
  }
}

std::string exportTargetIn(const std::string& folder) {
  return (fs::path(folder) / kConfigFileName).string();
}

ExportOutcome exportFile(const std::string& source, const std::string& folder, bool overwrite) {
  if (folder.empty()) return ExportOutcome::CopyFailed;
  try {
    const std::string target = exportTargetIn(folder);
    if (!overwrite && fs::exists(fs::path(target))) return ExportOutcome::TargetExists;
    if (!copyFileAtomically(source, target)) return ExportOutcome::CopyFailed;
    return ExportOutcome::Exported;
  } catch (const std::exception&) {
    return ExportOutcome::Error;
  }
}

}  // namespace talkgate::config
