#pragma once
// CPU time of this process (the program's code and the simulated devices run on the same
// threads), and a sampler that repeats a piece of work until it can be timed reliably.

#include <algorithm>
#include <cstddef>
#include <functional>
#include <vector>

namespace talkgate::bench {

// CPU seconds the process has used so far (all threads).
double processCpuSeconds();

// The median of values; 0 for none.
double median(std::vector<double> values);

struct SamplerSettings {
  int samples = 5;           // median of this many
  double minSeconds = 0.05;  // each sample runs the work at least this long ...
  std::size_t minCalls = 1;  // ... and at least this many times
};

// Median CPU seconds per call of work. The work returns false when its result was wrong,
// which makes the whole measure invalid (returns a negative value).
double cpuSecondsPerCall(const std::function<bool()>& work, const SamplerSettings& settings);

}  // namespace talkgate::bench
