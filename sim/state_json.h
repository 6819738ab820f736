#pragma once
// The pieces the simulator's state files share: a Talkgate's state as JSON members, and whole
// files read at once. The simulator only makes the text of a state; whoever keeps it writes it
// (through the program's one atomic writer, under the file's lock).

#include <cstddef>
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

// The largest state file read; anything larger is refused unread, and a world that would
// write more is not written. A fleet of the most Talkgates, each with all 128 KiB of its flash
// programmed, writes about 8 MiB (under 4 bytes of text per byte of flash).
inline constexpr std::size_t kMaxStateFileBytes = 16 * 1024 * 1024;

// Reads the whole regular file at path (at most kMaxStateFileBytes); false with the reason
// ("it is a directory", "it does not exist") in error. Never blocks.
bool readFile(const std::string& path, std::string& text, std::string& error);

}  // namespace talkgate::sim::state_file
