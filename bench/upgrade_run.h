#pragma once
// One full firmware upgrade of a simulated Talkgate on a fresh virtual bus with the manual
// clock: the HID reports of each phase, the CPU time of the run, and proof that the Talkgate
// came back running the image that was sent.

#include <array>
#include <cstddef>
#include <string>

#include "bench/bench_image.h"
#include "bench/phase_split.h"

namespace talkgate::bench {

// USB full-speed interrupt endpoints: one 64-byte report per millisecond each way.
inline constexpr double kReportsPerMs = 1.0;
// Data bytes one RX Data Block report could carry at most.
inline constexpr std::size_t kWireLimitBytesPerReport = 58;
// Data bytes our loader library puts in one report.
inline constexpr std::size_t kBlockBytes = 52;

struct UpgradeRun {
  bool ok = false;
  std::string failure;  // why the run does not count, when !ok
  std::array<ReportCount, kPhaseCount> phases{};
  ReportCount total;
  double cpuSeconds = 0.0;  // of the programming call alone
  long long clockMs = 0;    // time the manual clock moved: the waits and polls of the run
};

// Upgrades a Talkgate whose flash holds `installed` to `image`, read from the TI-TXT file at
// path (which must hold image.text).
UpgradeRun runUpgrade(const BenchImage& installed, const BenchImage& image,
                      const std::string& path);

// The modelled wire time of a phase, in ms. Every answer follows its request, so answered
// requests take two slots; unanswered ones (fast data blocks) one.
double wireMs(const ReportCount& reports);

// Send throughput as a share of the wire limit: image bytes over the modelled send time,
// divided by kWireLimitBytesPerReport bytes per report slot. 0 when nothing was sent.
double shareOfWireLimit(std::size_t imageBytes, const ReportCount& send);

}  // namespace talkgate::bench
