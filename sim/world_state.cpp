#include "sim/world_state.h"

#include <algorithm>
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

// Reads the Talkgates into states; one beyond those already there starts as fleetMember().
bool readCurrent(const Value& root, std::vector<WorldState>& states, std::size_t maxCount,
                 std::string& error) {
  const Value* talkgates = root.member("talkgates");
  if (!talkgates || talkgates->kind != Value::Kind::Array || talkgates->items.empty() ||
      talkgates->items.size() > maxCount) {
    return fail(error, talkgates ? *talkgates : root,
                maxCount == 1 ? "\"talkgates\" must be an array of one Talkgate"
                              : "\"talkgates\" must be an array of 1 to " +
                                    std::to_string(maxCount) + " Talkgates");
  }
  const std::size_t count = talkgates->items.size();
  for (std::size_t i = states.size(); i < count; ++i) states.push_back(fleetMember(i));
  states.resize(count);
  for (std::size_t i = 0; i < count; ++i) {
    const Value& talkgate = talkgates->items[i];
    if (talkgate.kind != Value::Kind::Object) {
      return fail(error, talkgate, "a Talkgate must be an object");
    }
    WorldState& state = states[i];
    if (!state_file::readTalkgate(talkgate, state.talkgate, error) ||
        !readMode(talkgate, state.inLoader, error) || !readFlash(talkgate, state.flash, error)) {
      return false;
    }
  }
  return true;
}

bool readDocument(const std::string& text, std::vector<WorldState>& states, std::size_t maxCount,
                  std::string& error) {
  Value root;
  if (!json::parse(text, root, error)) return false;
  if (root.kind != Value::Kind::Object) return fail(error, root, "the document must be an object");
  const Value* version = root.member("version");
  if (!version) {
    // The single-Talkgate file of earlier versions: a running Talkgate, flash unknown.
    states.resize(1);
    states.front().inLoader = false;
    states.front().flash.clear();
    return state_file::readTalkgate(root, states.front().talkgate, error);
  }
  if (version->kind != Value::Kind::Integer || version->integer < kWorldStateVersion) {
    return fail(error, *version, "\"version\" must be a whole number");
  }
  if (version->integer > kWorldStateVersion) {
    return fail(error, *version,
                "written by a newer program (version " + std::to_string(version->integer) +
                    "; this one reads up to " + std::to_string(kWorldStateVersion) + ")");
  }
  return readCurrent(root, states, maxCount, error);
}

bool loadDocument(const std::string& path, std::vector<WorldState>& out, std::size_t maxCount,
                  std::string& error) {
  std::string text;
  if (!state_file::readFile(path, text, error)) return false;
  if (!parseWorldStates(text, out, maxCount, error)) {
    error = path + ": " + error;
    return false;
  }
  return true;
}

void writeTalkgate(std::ostream& out, const WorldState& state) {
  out << "    {\n      \"mode\": " << json::quoted(state.inLoader ? kLoaderMode : kFirmwareMode)
      << ",\n";
  state_file::writeTalkgate(out, state.talkgate, "      ");
  out << ",\n      \"flash\": [";
  std::istringstream lines(state.flash);
  bool first = true;
  for (std::string line; std::getline(lines, line); first = false) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    out << (first ? "\n" : ",\n") << "        " << json::quoted(line);
  }
  out << (first ? "]" : "\n      ]") << "\n    }";
}

}  // namespace

bool parseWorldStates(const std::string& text, std::vector<WorldState>& out, std::size_t maxCount,
                      std::string& error) {
  std::vector<WorldState> states = out;
  if (!readDocument(text, states, maxCount, error)) return false;
  out = std::move(states);
  return true;
}

WorldState fleetMember(std::size_t index) {
  WorldState state;
  if (index > 0) {
    // TG260001 is the first; the others count on from it.
    std::string number = std::to_string(index + 1);
    number.insert(0, 4 - std::min<std::size_t>(4, number.size()), '0');
    state.talkgate.serialNumber = "TG26" + number;
  }
  return state;
}

bool loadWorldState(const std::string& path, WorldState& out, std::string& error) {
  std::vector<WorldState> states{out};
  if (!loadDocument(path, states, 1, error)) return false;
  out = std::move(states.front());
  return true;
}

bool loadWorldStates(const std::string& path, std::vector<WorldState>& out, std::string& error) {
  return loadDocument(path, out, kMaxSimulatedTalkgates, error);
}

std::string worldStatesJson(const std::vector<WorldState>& states) {
  std::ostringstream out;
  out << "{\n  \"version\": " << kWorldStateVersion << ",\n  \"talkgates\": [\n";
  for (std::size_t i = 0; i < states.size(); ++i) {
    if (i > 0) out << ",\n";
    writeTalkgate(out, states[i]);
  }
  out << "\n  ]\n}\n";
  return out.str();
}

std::string worldStateJson(const WorldState& state) {
  return worldStatesJson({state});
}

}  // namespace talkgate::sim
