#pragma once
// Attributes the HID reports of one upgrade to its phases. The programming sequence reports
// fixed progress values at the phase boundaries, so snapshots of the bus counters taken in its
// progress callback split the traffic without touching the sequence itself.

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>

namespace talkgate::bench {

enum class Phase { RamLoader, Erase, Send, Verify, Reset };
inline constexpr std::size_t kPhaseCount = 5;

// "RAM loader", "erase", "send", "verify", "reset".
const char* phaseName(Phase phase);

struct ReportCount {
  std::uint64_t written = 0;
  std::uint64_t read = 0;
  bool operator==(const ReportCount&) const = default;
};

// Progress values that open the erase, send, verify and reset phases: "Erasing memory
// segments" (60), "Sending" (70), "Firmware Sent" (75, nothing is exchanged before the verify
// starts at 80) and "Memory successfully verified" (85, then the reset image).
inline constexpr std::array<int, kPhaseCount - 1> kPhaseStartPercent = {60, 70, 75, 85};

class PhaseSplitter {
 public:
  using Counters = std::function<ReportCount()>;
  // Takes the counters as they stand when the run starts.
  explicit PhaseSplitter(Counters counters);

  // Feed every progress report, in order.
  void onProgress(int percent);
  // Takes the counters as they stand when the run has ended.
  void finish();

  // True when every boundary was seen in order and finish() was called: a run that
  // mass-erased (no erase step) or stopped early cannot be split.
  bool complete() const;
  // Reports of one phase; zeros for a phase whose boundaries were not both seen.
  ReportCount phase(Phase phase) const;
  // Reports from the start to finish().
  ReportCount total() const;

 private:
  Counters counters_;
  // start, the four boundaries, end
  std::array<std::optional<ReportCount>, kPhaseCount + 1> marks_{};
  std::size_t next_ = 0;  // index into kPhaseStartPercent of the boundary expected next
  bool outOfOrder_ = false;
};

}  // namespace talkgate::bench
