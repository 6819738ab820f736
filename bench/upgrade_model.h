#pragma once
// How long a whole upgrade takes on a real part: one upgrade of a simulated Talkgate whose
// loader keeps the part's own time (sim/part_timing.h) on the manual clock, carried through
// to what the upgrade window does after "Done!" (the Talkgate back, the settings written back).
// Each stage's predicted time is the time the clock moved in it (the part busy, its
// re-enumerations, the host's polls and waits) plus the wire time of its reports: a report
// waits for the part before it takes its own 1 ms frame.

#include <array>
#include <cstddef>
#include <string>

#include "bench/bench_image.h"
#include "bench/phase_split.h"
#include "sim/part_timing.h"

namespace talkgate::bench {

enum class Stage { Password, RamLoader, Erase, Send, Verify, Reset, TalkgateBack, Settings };
inline constexpr std::size_t kStageCount = 8;

// "password", "RAM loader", "erase", "send", "verify", "reset", "Talkgate back",
// "settings written back".
const char* stageName(Stage stage);

// The waits the upgrade used to sleep in full: three seconds after Load PC, six in the window
// before the Talkgate was opened again.
inline constexpr long long kOldRamLoaderWaitMs = 3000;
inline constexpr long long kOldTalkgateWaitMs = 6000;

struct StageFigures {
  ReportCount reports;
  long long clockMs = 0;  // how far the manual clock moved in the stage
  double ms() const;      // clock plus wire
};

struct TimedRun {
  bool ok = false;
  std::string failure;  // why the run does not count, when !ok
  std::array<StageFigures, kStageCount> stages{};
  long long ramLoaderWaitMs = 0;  // clock from closing the ROM loader to the RAM loader's return
  double flashMs = 0;             // erasing and programming at the part's figures
  double reenumerationMs = 0;     // the part's own returns: after Load PC and after the reset

  double predictedMs() const;
  double wireMs() const;
  // What no host can beat: the part's flash time, the wire time and its re-enumerations.
  double floorMs() const { return flashMs + wireMs() + reenumerationMs; }
  // The same run had the upgrade slept its old fixed waits instead of polling.
  double fixedWaitsMs() const;
};

// Upgrades a Talkgate whose flash holds `installed` to `image` (read from path, which holds
// image.text) on a part with the given timing, then waits for the Talkgate and writes its
// serial number and settings back, as the upgrade window does.
TimedRun runTimedUpgrade(const BenchImage& installed, const BenchImage& image,
                         const std::string& path, const sim::PartTiming& timing);

// Flash time of loader commands at the part's figures: each erase, and each word a data block
// writes to flash (RAM costs nothing).
struct FlashWork {
  int segmentErases = 0;
  int massErases = 0;
  std::size_t wordsProgrammed = 0;
  double ms(const sim::PartTiming& timing) const;
};

}  // namespace talkgate::bench
