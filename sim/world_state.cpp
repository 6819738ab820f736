#include "sim/world_state.h"

#include <sstream>

#include "sim/json_value.h"
#include "sim/state_json.h"

namespace talkgate::sim {
namespace {

using json::Value;

constexpr char kFirmwareMode[] = "firmware";
constexpr char kLoaderMode[] = "loader";

bool fail(std::string& error, const Value& where, const std::string& what) {
  error = json::at(where, what);
  return false;
}

bool readMode(const Value& talkgate, bool& inLoader, std::string& error) {
  const Value* mode = talkgate.member("mode");
  if (!mode) return true;
  if (mode->kind == Value::Kind::String &&
      (mode->text == kFirmwareMode || mode->text == kLoaderMode)) {
    inLoader = mode->text == kLoaderMode;
    return true;
  }
  return fail(error, *mode, "\"mode\" must be \"firmware\" or \"loader\"");
}

bool readFlash(const Value& talkgate, std::string& flash, std::string& error) {
  const Value* lines = talkgate.member("flash");
  if (!lines) return true;
  if (lines->kind != Value::Kind::Array) {
    return fail(error, *lines, "\"flash\" must be an array of TI-TXT lines");
  }
  std::string text;
  for (const Value& line : lines->items) {
    if (line.kind != Value::Kind::String || line.text.find('\n') != std::string::npos) {
      return fail(error, line, "\"flash\" must be an array of TI-TXT lines");
    }
    text += line.text + "\n";
  }
  flash = std::move(text);
  return true;
}

bool readCurrent(const Value& root, WorldState& state, std::string& error) {
  const Value* talkgates = root.member("talkgates");
  if (!talkgates || talkgates->kind != Value::Kind::Array || talkgates->items.size() != 1) {
    return fail(error, talkgates ? *talkgates : root,
                "\"talkgates\" must be an array of one Talkgate");
  }
  const Value& talkgate = talkgates->items.front();
  if (talkgate.kind != Value::Kind::Object) {
    return fail(error, talkgate, "a Talkgate must be an object");
  }
  return state_file::readTalkgate(talkgate, state.talkgate, error) &&
         readMode(talkgate, state.inLoader, error) && readFlash(talkgate, state.flash, error);
}

bool readDocument(const std::string& text, WorldState& state, std::string& error) {
  Value root;
  if (!json::parse(text, root, error)) return false;
  if (root.kind != Value::Kind::Object) return fail(error, root, "the document must be an object");
  const Value* version = root.member("version");
  if (!version) {
    // The single-Talkgate file of earlier versions: a running Talkgate, flash unknown.
    state.inLoader = false;
    state.flash.clear();
    return state_file::readTalkgate(root, state.talkgate, error);
  }
  if (version->kind != Value::Kind::Integer || version->integer < kWorldStateVersion) {
    return fail(error, *version, "\"version\" must be a whole number");
  }
  if (version->integer > kWorldStateVersion) {
    return fail(error, *version,
                "written by a newer program (version " + std::to_string(version->integer) +
                    "; this one reads up to " + std::to_string(kWorldStateVersion) + ")");
  }
  return readCurrent(root, state, error);
}

}  // namespace

bool loadWorldState(const std::string& path, WorldState& out, std::string& error) {
  std::string text;
  if (!state_file::readFile(path, text, error)) return false;
  WorldState state = out;
  if (!readDocument(text, state, error)) {
    error = path + ": " + error;
    return false;
  }
  out = std::move(state);
  return true;
}

std::string worldStateJson(const WorldState& state) {
  std::ostringstream out;
  out << "{\n  \"version\": " << kWorldStateVersion << ",\n  \"talkgates\": [\n    {\n"
      << "      \"mode\": " << json::quoted(state.inLoader ? kLoaderMode : kFirmwareMode) << ",\n";
  state_file::writeTalkgate(out, state.talkgate, "      ");
  out << ",\n      \"flash\": [";
  std::istringstream lines(state.flash);
  bool first = true;
  for (std::string line; std::getline(lines, line); first = false) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    out << (first ? "\n" : ",\n") << "        " << json::quoted(line);
  }
  out << (first ? "]" : "\n      ]") << "\n    }\n  ]\n}\n";
  return out.str();
}

}  // namespace talkgate::sim
