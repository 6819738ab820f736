#pragma once
// The simulated world kept in a file between runs: each Talkgate's settings and identity,
// whether its part runs its firmware or waits in its bootstrap loader (after an interrupted
// upgrade), and the programmed bytes of its flash. A versioned JSON object:
//   {"version": 2, "talkgates": [{"mode": "firmware"|"loader", "working": ..., "flash": [...]}]}
// with "flash" the TI-TXT lines of every programmed byte. A file without "version" is the
// older single-Talkgate file: its members at the top level, no flash, running its firmware.

#include <string>

#include "sim/sim_talkgate.h"

namespace talkgate::sim {

inline constexpr int kWorldStateVersion = 2;

struct WorldState {
  TalkgateState talkgate = SimTalkgate::factoryState();
  // The part waits in its ROM loader instead of running its firmware.
  bool inLoader = false;
  // The programmed bytes of flash as TI-TXT; empty when the file did not keep them.
  std::string flash;
  bool operator==(const WorldState&) const = default;
};

// Reads a world file of this or an older version; false with the reason (file, offset) in
// error. Missing Talkgate members keep the values already in out.
bool loadWorldState(const std::string& path, WorldState& out, std::string& error);
// The text loadWorldState reads; whoever keeps the world writes it.
std::string worldStateJson(const WorldState& state);

}  // namespace talkgate::sim
