// Parses arbitrary bytes as a simulator state file; what loads must write and load back to
// the same world.

#include <string>

#include "sim/world_state.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::vector<talkgate::sim::WorldState> states;
  std::string error;
  if (!talkgate::sim::parseWorldStates(text, states, talkgate::sim::kMaxSimulatedTalkgates,
                                       error)) {
    return 0;
  }
  const std::string again = talkgate::sim::worldStatesJson(states);
  std::vector<talkgate::sim::WorldState> reread;
  if (!talkgate::sim::parseWorldStates(again, reread, talkgate::sim::kMaxSimulatedTalkgates,
                                       error)) {
    __builtin_trap();
  }
  if (reread != states) __builtin_trap();
  return 0;
}
