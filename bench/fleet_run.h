#pragma once
// `talkgatectl --all upgrade` of several simulated Talkgates on one virtual bus, their parts
// keeping typical time on the manual clock: how long a bench of Talkgates takes, one after the
// other, from the first switch into the loader to the last settings written back.

#include <cstdint>
#include <string>

namespace talkgate::bench {

struct FleetRun {
  bool ok = false;
  std::string failure;  // the tool's messages, when !ok
  long long clockMs = 0;
  std::uint64_t reports = 0;  // written and read, from the tool's --trace
  double ms() const;          // clock plus wire
};

FleetRun runFleetUpgrade(int talkgates, const std::string& imagePath);

}  // namespace talkgate::bench
