// JSON persistence of the simulated Talkgate's state: the members of one Talkgate, and the
// single-Talkgate file of consecutive command-line runs.

#include "sim/state_json.h"

#include <sstream>

#include "files/regular_file.h"

namespace talkgate::sim {
namespace state_file {
namespace {

using json::at;
using json::quoted;
using json::Value;

void writeSettings(std::ostream& out, std::string_view indent, const char* name,
                   const TalkgateSettings& settings) {
  out << indent << quoted(name) << ": {\n"
      << indent << "  \"symbolBrightness\": " << int{settings.symbolBrightness} << ",\n"
      << indent << "  \"ambientConfig\": " << int{settings.ambientConfig} << ",\n"
      << indent << "  \"keypadType\": " << int{settings.keypadType} << ",\n"
      << indent << "  \"keyTable\": [";
  for (std::size_t i = 0; i < settings.keyTable.size(); ++i) {
    out << (i ? ", " : "") << int{settings.keyTable[i]};
  }
  out << "]\n" << indent << "},\n";
}

bool readInteger(const Value& object, const char* key, long long max, long long& out,
                 std::string& error) {
  const Value* value = object.member(key);
  if (!value) return true;  // missing keys keep their values
  if (value->kind != Value::Kind::Integer || value->integer < 0 || value->integer > max) {
    error = at(*value, std::string("\"") + key + "\" must be a whole number from 0 to " +
                           std::to_string(max));
    return false;
  }
  out = value->integer;
  return true;
}

bool readByte(const Value& object, const char* key, std::uint8_t& out, std::string& error) {
  long long value = out;
  if (!readInteger(object, key, 0xFF, value, error)) return false;
  out = static_cast<std::uint8_t>(value);
  return true;
}

bool readText(const Value& object, const char* key, std::string& out, std::string& error) {
  const Value* value = object.member(key);
  if (!value) return true;
  if (value->kind != Value::Kind::String) {
    error = at(*value, std::string("\"") + key + "\" must be a string");
    return false;
  }
  out = value->text;
  return true;
}

bool readSettings(const Value& root, const char* key, TalkgateSettings& out, std::string& error) {
  const Value* object = root.member(key);
  if (!object) return true;
  if (object->kind != Value::Kind::Object) {
    error = at(*object, std::string("\"") + key + "\" must be an object");
    return false;
  }
  if (!readByte(*object, "symbolBrightness", out.symbolBrightness, error) ||
      !readByte(*object, "ambientConfig", out.ambientConfig, error) ||
      !readByte(*object, "keypadType", out.keypadType, error)) {
    return false;
  }
  const Value* table = object->member("keyTable");
  if (!table) return true;
  if (table->kind != Value::Kind::Array || table->items.size() != kKeyTableSize) {
    error = at(*table, "\"keyTable\" must be an array of 12 bytes");
    return false;
  }
  for (std::size_t i = 0; i < kKeyTableSize; ++i) {
    const Value& item = table->items[i];
    if (item.kind != Value::Kind::Integer || item.integer < 0 || item.integer > 0xFF) {
      error = at(item, "key table entries must be whole numbers from 0 to 255");
      return false;
    }
    out.keyTable[i] = static_cast<std::uint8_t>(item.integer);
  }
  return true;
}

}  // namespace

void writeTalkgate(std::ostream& out, const TalkgateState& state, std::string_view indent) {
  writeSettings(out, indent, "working", state.working);
  writeSettings(out, indent, "defaults", state.defaults);
  out << indent << "\"firmwareVersion\": " << quoted(state.firmwareVersion) << ",\n"
      << indent << "\"serialNumber\": " << quoted(state.serialNumber) << ",\n"
      << indent << "\"temperature\": " << quoted(state.temperature) << ",\n"
      << indent << "\"ambientValue\": " << state.ambientValue;
}

bool readTalkgate(const Value& object, TalkgateState& state, std::string& error) {
  long long ambient = state.ambientValue;
  if (!readSettings(object, "working", state.working, error) ||
      !readSettings(object, "defaults", state.defaults, error) ||
      !readText(object, "firmwareVersion", state.firmwareVersion, error) ||
      !readText(object, "serialNumber", state.serialNumber, error) ||
      !readText(object, "temperature", state.temperature, error) ||
      !readInteger(object, "ambientValue", 0xFFFF, ambient, error)) {
    return false;
  }
  state.ambientValue = static_cast<std::uint16_t>(ambient);
  return true;
}

bool readFile(const std::string& path, std::string& text, std::string& error) {
  return files::readRegularFile(path, kMaxStateFileBytes, text, error);
}

}  // namespace state_file

bool SimTalkgate::loadState(const std::string& path, TalkgateState& out, std::string& error) {
  std::string text;
  if (!state_file::readFile(path, text, error)) return false;
  json::Value root;
  TalkgateState state = out;
  bool ok = json::parse(text, root, error);
  if (ok && root.kind != json::Value::Kind::Object) {
    error = json::at(root, "the document must be an object");
    ok = false;
  }
  if (!ok || !state_file::readTalkgate(root, state, error)) {
    error = path + ": " + error;
    return false;
  }
  out = std::move(state);
  return true;
}

std::string SimTalkgate::stateJson(const TalkgateState& state) {
  std::ostringstream out;
  out << "{\n";
  state_file::writeTalkgate(out, state, "  ");
  out << "\n}\n";
  return out.str();
}

}  // namespace talkgate::sim
