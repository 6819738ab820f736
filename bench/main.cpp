// talkgate-bench: upgrade traffic and CPU cost on the simulated hardware, printed as one table
// of goals and measured values. Exit status 0 when every goal is met, 1 when one is missed,
// 2 when the benchmark could not run.

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "bench/bench_image.h"
#include "bench/cpu_time.h"
#include "bench/fleet_run.h"
#include "bench/goal_table.h"
#include "bench/micro.h"
#include "bench/upgrade_model.h"
#include "bench/upgrade_run.h"
#include "firmware/flash_layout.h"
#include "firmware/image_split.h"

namespace talkgate::bench {
namespace {

constexpr std::size_t kKiB = 1024;
constexpr double kMaxSendRatio = 1.02;
constexpr double kMinShareOfWireLimitPercent = 85.0;
constexpr double kMaxUpgradeCpuMs = 50.0;
constexpr double kMaxExchangeCpuUs = 20.0;
constexpr double kMinTiTxtMBps = 100.0;
// The verify walk runs the CRC over the whole image on both sides; at this rate a 120 KiB
// image costs the host well under a millisecond.
constexpr double kMinCrcMBps = 200.0;
constexpr int kUpgradeSamples = 7;
// A whole upgrade on a real part at typical figures, over what the part and the wire need.
constexpr double kMaxPredictedOverFloor = 1.15;
constexpr int kFleetTalkgates = 4;
constexpr std::uint32_t kInstalledSeed = 0x1004;
constexpr const char* kInstalledVersion = "1.0.4";

struct Options {
  bool quick = false;
};

struct Workload {
  std::size_t bytes = 0;
  BenchImage installed;
  BenchImage image;
  std::string path;
};

const char* buildType() {
#ifdef TALKGATE_BENCH_BUILD_TYPE
  return TALKGATE_BENCH_BUILD_TYPE;
#else
  return "unknown";
#endif
}

std::string kib(std::size_t bytes) {
  return std::to_string(bytes / kKiB) + " KiB";
}

bool writeFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
  return static_cast<bool>(out.flush());
}

bool prepare(std::size_t bytes, const std::filesystem::path& folder, Workload& w,
             std::string& why) {
  w.bytes = bytes;
  const std::string version = "2.0." + std::to_string(bytes / kKiB);
  if (!makeBenchImage(bytes, kInstalledSeed, kInstalledVersion, w.installed, &why) ||
      !makeBenchImage(bytes, static_cast<std::uint32_t>(bytes), version, w.image, &why)) {
    return false;
  }
  w.path = (folder / ("bench_" + std::to_string(bytes / kKiB) + "k.txt")).string();
  if (!writeFile(w.path, w.image.text)) {
    why = "cannot write " + w.path;
    return false;
  }
  return true;
}

// Traffic of one upgrade: reports per phase, the send ratio and the modelled wire time.
void addTrafficRows(GoalTable& table, const Workload& w) {
  const auto& sections = w.image.image.sections;
  table.section(kib(w.bytes) + " image: " + std::to_string(sections.size()) + " sections, " +
                std::to_string(w.bytes) + " bytes, up to 0x" + [&] {
                  char hex[16];
                  std::snprintf(hex, sizeof hex, "%05X", sections.back().end() - 1);
                  return std::string(hex);
                }());
  const UpgradeRun run = runUpgrade(w.installed, w.image, w.path);
  if (!run.ok) {
    table.add(error("Full upgrade", run.failure));
    return;
  }
  for (std::size_t i = 0; i < kPhaseCount; ++i) {
    const ReportCount& c = run.phases[i];
    table.add(info(std::string("Reports written / read: ") + phaseName(Phase(i)),
                   std::to_string(c.written) + " / " + std::to_string(c.read)));
  }
  table.add(info("Reports written / read: whole upgrade",
                 std::to_string(run.total.written) + " / " + std::to_string(run.total.read)));
  table.add(info("Modelled whole upgrade: wire + clock waits",
                 fixed(wireMs(run.total), 0) + " ms + " + std::to_string(run.clockMs) + " ms"));
  // The send phase carries everything but the reset vector's segment, which follows once the
  // rest has verified (in the verify phase): judge the phase by what it carries.
  const ReportCount& send = run.phases[static_cast<std::size_t>(Phase::Send)];
  const firmware::TiTxtImage sent =
      firmware::splitImage(w.image.image, firmware::kResetVectorSegmentStart,
                           firmware::kResetVectorSegmentEnd)
          .outside;
  const std::size_t sentBytes = sent.byteCount();
  const std::size_t fewest = fewestReports(sent, kBlockBytes);
  table.add(atMost("Send reports / fewest at " + std::to_string(kBlockBytes) + " B (" +
                       std::to_string(send.written) + " / " + std::to_string(fewest) + ")",
                   static_cast<double>(send.written) / static_cast<double>(fewest), kMaxSendRatio,
                   3, ""));
  const double ms = wireMs(send);
  table.add(info("Modelled send time at 1 report/ms each way",
                 fixed(ms, 0) + " ms, " + fixed(static_cast<double>(sentBytes) / ms, 1) + " kB/s"));
  table.add(atLeast("Send throughput / wire limit (" + std::to_string(kWireLimitBytesPerReport) +
                        " B per report)",
                    100.0 * shareOfWireLimit(sentBytes, send), kMinShareOfWireLimitPercent, 1,
                    "%"));
}

std::string seconds(double ms) {
  return fixed(ms / 1000.0, 2) + " s";
}

std::string pair(double typical, double worst) {
  return seconds(typical) + " / " + seconds(worst);
}

// The wall time of a whole upgrade on a real part, stage by stage, at typical and worst figures.
void addPredictionRows(GoalTable& table, const Workload& w) {
  const TimedRun typical = runTimedUpgrade(w.installed, w.image, w.path, sim::kTypicalPart);
  const TimedRun worst = runTimedUpgrade(w.installed, w.image, w.path, sim::kWorstPart);
  const std::string what = kib(w.bytes) + " image on a real part";
  if (!typical.ok || !worst.ok) {
    table.add(error("Predicted " + what, typical.ok ? worst.failure : typical.failure));
    return;
  }
  for (std::size_t i = 0; i < kStageCount; ++i) {
    table.add(info(std::string("Predicted, typical / worst: ") + stageName(Stage(i)),
                   pair(typical.stages[i].ms(), worst.stages[i].ms())));
  }
  table.add(info("Predicted whole upgrade, typical / worst",
                 pair(typical.predictedMs(), worst.predictedMs())));
  table.add(info("Floor: flash " + seconds(typical.flashMs) + " + wire " +
                     seconds(typical.wireMs()) + " + re-enumerations " +
                     seconds(typical.reenumerationMs) + " (typical) / worst",
                 pair(typical.floorMs(), worst.floorMs())));
  table.add(info("Same run with the old fixed waits, typical / worst",
                 pair(typical.fixedWaitsMs(), worst.fixedWaitsMs())));
  table.add(atMost("Typical prediction / floor", typical.predictedMs() / typical.floorMs(),
                   kMaxPredictedOverFloor, 3, ""));
}

void addFleetRows(GoalTable& table, const Workload& w) {
  table.section("talkgatectl --all upgrade: " + std::to_string(kFleetTalkgates) +
                " simulated Talkgates, " + kib(w.bytes) + " image, typical part");
  const FleetRun fleet = runFleetUpgrade(kFleetTalkgates, w.path);
  if (!fleet.ok) {
    table.add(error("Whole fleet", fleet.failure));
    return;
  }
  table.add(info("Whole fleet, settings written back (clock + wire)",
                 seconds(fleet.ms()) + ", " + seconds(fleet.ms() / kFleetTalkgates) + " each"));
}

void addCpuRows(GoalTable& table, const Workload& large) {
  table.section("CPU time (program and simulated devices, " + std::string(buildType()) + " build)");
  std::vector<double> upgradeMs;
  for (int i = 0; i < kUpgradeSamples; ++i) {
    const UpgradeRun run = runUpgrade(large.installed, large.image, large.path);
    if (!run.ok) {
      table.add(error("Whole " + kib(large.bytes) + " upgrade", run.failure));
      break;
    }
    upgradeMs.push_back(run.cpuSeconds * 1e3);
  }
  if (upgradeMs.size() == static_cast<std::size_t>(kUpgradeSamples)) {
    table.add(atMost("Whole " + kib(large.bytes) + " upgrade (median of " +
                         std::to_string(kUpgradeSamples) + ")",
                     median(upgradeMs), kMaxUpgradeCpuMs, 2, "ms"));
  }

  const SamplerSettings settings{};
  const MicroResult exchange = exchangeCpu(settings);
  if (exchange.ok) {
    table.add(atMost("Transport exchange (status read)", exchange.value * 1e6, kMaxExchangeCpuUs, 2,
                     "us"));
  } else {
    table.add(error("Transport exchange (status read)", exchange.failure));
  }
  const MicroResult reader = tiTxtThroughput(large.image.text, large.bytes, settings);
  if (reader.ok) {
    table.add(atLeast("TI-TXT reading (" + kib(large.image.text.size()) + " of text)",
                      reader.value / 1e6, kMinTiTxtMBps, 0, "MB/s"));
  } else {
    table.add(error("TI-TXT reading", reader.failure));
  }
  std::vector<std::uint8_t> bytes;
  for (const auto& s : large.image.image.sections)
    bytes.insert(bytes.end(), s.data.begin(), s.data.end());
  const MicroResult crc = crcThroughput(bytes, settings);
  if (crc.ok) {
    table.add(atLeast("CRC-16/CCITT-FALSE, table-free", crc.value / 1e6, kMinCrcMBps, 0, "MB/s"));
  } else {
    table.add(error("CRC-16/CCITT-FALSE", crc.failure));
  }
}

int run(const Options& options) {
  const std::vector<std::size_t> sizes = options.quick
                                             ? std::vector<std::size_t>{4 * kKiB, 20 * kKiB}
                                             : std::vector<std::size_t>{32 * kKiB, 120 * kKiB};
  std::error_code ec;
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path(ec) / ("talkgate-bench-" + std::to_string(::getpid()));
  std::filesystem::create_directories(folder, ec);
  if (ec) {
    std::fprintf(stderr, "talkgate-bench: cannot create %s\n", folder.c_str());
    return 2;
  }
  std::vector<Workload> workloads(sizes.size());
  for (std::size_t i = 0; i < sizes.size(); ++i) {
    std::string why;
    if (!prepare(sizes[i], folder, workloads[i], why)) {
      std::fprintf(stderr, "talkgate-bench: %s\n", why.c_str());
      std::filesystem::remove_all(folder, ec);
      return 2;
    }
  }

  GoalTable table;
  for (const Workload& w : workloads) {
    addTrafficRows(table, w);
    addPredictionRows(table, w);
  }
  addFleetRows(table, workloads.front());
  if (!options.quick) addCpuRows(table, workloads.back());
  std::filesystem::remove_all(folder, ec);

  std::printf(
      "talkgate-bench%s: F5xx part with 128 KiB main flash on the virtual bus, manual "
      "clock, %s build\n\n%s\n%d of %d goals met%s\n",
      options.quick ? " --quick" : "", buildType(), table.render().c_str(), table.met(),
      table.goals(), options.quick ? " (CPU time is not measured in quick mode)" : "");
  const bool broken = std::any_of(table.rows().begin(), table.rows().end(),
                                  [](const Row& r) { return r.mark == Mark::Error; });
  if (broken) return 2;
  return table.allMet() ? 0 : 1;
}

}  // namespace
}  // namespace talkgate::bench

int main(int argc, char** argv) {
  talkgate::bench::Options options;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--quick") == 0) {
      options.quick = true;
    } else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::printf(
          "Usage: talkgate-bench [--quick]\n"
          "Upgrades a simulated Talkgate with generated 32 KiB and 120 KiB images and measures\n"
          "HID reports per phase, the modelled USB wire time and CPU time; prints one table of\n"
          "goals and measured values. --quick: small images, report counts only.\n"
          "Exit status: 0 all goals met, 1 a goal missed, 2 the benchmark could not run.\n");
      return 0;
    } else {
      std::fprintf(stderr, "talkgate-bench: unknown option %s (try --help)\n", argv[i]);
      return 2;
    }
  }
  return talkgate::bench::run(options);
}
