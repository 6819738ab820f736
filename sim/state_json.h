#pragma once
// The pieces the simulator's state files share: a Talkgate's state as JSON members, and whole
// files read at once and replaced through a temporary file.

#include <ostream>
#include <string>
#include <string_view>

#include "sim/json_value.h"
#include "sim/sim_talkgate.h"

namespace talkgate::sim::state_file {

// Writes the state's members, one per line, each line starting with indent; the last line
// ends without a comma or a line break.
void writeTalkgate(std::ostream& out, const TalkgateState& state, std::string_view indent);
// Reads the members writeTalkgate writes from an object; missing ones keep their values.
bool readTalkgate(const json::Value& object, TalkgateState& state, std::string& error);

bool readFile(const std::string& path, std::string& text, std::string& error);
// Writes text to path + ".tmp" and renames it over path, so a reader never sees half a file.
bool replaceFile(const std::string& path, const std::string& text, std::string& error);

}  // namespace talkgate::sim::state_file
