#include "bench/cpu_time.h"

#include <ctime>

namespace talkgate::bench {
namespace {
constexpr std::size_t kMaxBatch = 4096;
}  // namespace

double processCpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

double median(std::vector<double> values) {
  if (values.empty()) return 0.0;
  const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
  std::nth_element(values.begin(), middle, values.end());
  if (values.size() % 2 == 1) return *middle;
  const double upper = *middle;
  const double lower = *std::max_element(values.begin(), middle);
  return (lower + upper) / 2.0;
}

double cpuSecondsPerCall(const std::function<bool()>& work, const SamplerSettings& settings) {
  std::vector<double> perCall;
  for (int s = 0; s < std::max(settings.samples, 1); ++s) {
    std::size_t calls = 0;
    std::size_t batch = 1;  // reading the CPU clock is a system call: not after every call
    const double start = processCpuSeconds();
    double elapsed = 0.0;
    do {
      for (std::size_t i = 0; i < batch; ++i) {
        if (!work()) return -1.0;
      }
      calls += batch;
      batch = std::min<std::size_t>(batch * 2, kMaxBatch);
      elapsed = processCpuSeconds() - start;
    } while (calls < settings.minCalls || elapsed < settings.minSeconds);
    perCall.push_back(elapsed / static_cast<double>(calls));
  }
  return median(std::move(perCall));
}

}  // namespace talkgate::bench
