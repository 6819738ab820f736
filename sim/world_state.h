#pragma once
// The simulated world kept in a file between runs: each Talkgate's settings and identity,
// whether its part runs its firmware or waits in its bootstrap loader (after an interrupted
// upgrade), and the programmed bytes of its flash. A versioned JSON object:
//   {"version": 2, "talkgates": [{"mode": "firmware"|"loader", "working": ..., "flash": [...]}]}
// with "flash" the TI-TXT lines of every programmed byte. A file without "version" is the
// older single-Talkgate file: its members at the top level, no flash, running its firmware.

#include <cstddef>
#include <string>
#include <vector>

#include "sim/sim_talkgate.h"

namespace talkgate::sim {

inline constexpr int kWorldStateVersion = 2;
// The most Talkgates one simulated world holds.
inline constexpr std::size_t kMaxSimulatedTalkgates = 16;

struct WorldState {
  TalkgateState talkgate = SimTalkgate::factoryState();
  // The part waits in its ROM loader instead of running its firmware.
  bool inLoader = false;
  // The programmed bytes of flash as TI-TXT; empty when the file did not keep them.
  std::string flash;
  bool operator==(const WorldState&) const = default;
};

// Talkgate number index (from 0) of a simulated fleet as it leaves the factory: factory
// settings, serial number TG260001 for the first, TG260002 for the second and so on.
WorldState fleetMember(std::size_t index);

// Reads a world file of this or an older version holding one Talkgate; false with the reason
// (file, offset) in error. Missing Talkgate members keep the values already in out.
bool loadWorldState(const std::string& path, WorldState& out, std::string& error);
// Reads a world file of 1 to kMaxSimulatedTalkgates Talkgates into out, which then holds as
// many. Missing members keep the values already in out, or those of fleetMember() for a
// Talkgate beyond its end.
bool loadWorldStates(const std::string& path, std::vector<WorldState>& out, std::string& error);
// loadWorldStates on text already read: at most maxCount Talkgates; out is left as it was when
// false.
bool parseWorldStates(const std::string& text, std::vector<WorldState>& out, std::size_t maxCount,
                      std::string& error);
// The text loadWorldStates reads, the Talkgates in bus order; whoever keeps the world writes it.
std::string worldStatesJson(const std::vector<WorldState>& states);
// The text loadWorldState reads; whoever keeps the world writes it.
std::string worldStateJson(const WorldState& state);

}  // namespace talkgate::sim
