#include "bench/upgrade_run.h"

#include <algorithm>

#include "bench/cpu_time.h"
#include "device/clock.h"
#include "device/hid_port.h"
#include "firmware/bsl430.h"
#include "firmware/programming_sequence.h"
#include "sim/sim_world.h"
#include "sim/virtual_bus.h"

namespace talkgate::bench {
namespace {

// Why the simulated part does not hold and run `image` after the upgrade; empty when it does.
std::string checkOutcome(sim::SimWorld& world, const BenchImage& image, const std::string& log) {
  if (log.find("Mass erase occured!") != std::string::npos) return "the loader refused the password";
  if (world.upgrades() != 1 || !world.talkgate().pluggedIn()) return "the Talkgate did not return";
  const std::string version = world.talkgate().state().firmwareVersion;
  if (version != image.version) return "the Talkgate runs version " + version;
  for (const auto& section : image.image.sections) {
    if (world.loader().readMemory(section.address, section.data.size()) != section.data) {
      return "flash differs from the image in the section at line " + std::to_string(section.line);
    }
  }
  return {};
}

}  // namespace

UpgradeRun runUpgrade(const BenchImage& installed, const BenchImage& image,
                      const std::string& path) {
  UpgradeRun run;
  ManualClock clock;
  ScopedClock scopedClock(clock);
  sim::VirtualBus bus;
  hid::ScopedPort usePort(bus);
  sim::SimWorldOptions options;
  options.initialImage = installed.text;
  options.plugIn = false;  // the Talkgate has already switched to its loader
  options.timing = sim::kInstantPart;  // traffic and CPU only: the Talkgate is back at once
  sim::SimWorld world(bus, options);
  world.loader().plugIn();
  bus.resetCounters();

  firmware::FirmwareProgrammer programmer;
  PhaseSplitter splitter([&bus] { return ReportCount{bus.reportsWritten(), bus.reportsRead()}; });
  std::string log;
  const auto startMs = clock.now();
  const double cpuStart = processCpuSeconds();
  const bool upgraded =
      programmer.CustomSelectedFirmware(path, [&](int percent, const std::string& message) {
        splitter.onProgress(percent);
        log += message;
      });
  run.cpuSeconds = processCpuSeconds() - cpuStart;
  splitter.finish();
  run.clockMs = (clock.now() - startMs).count();
  firmware::BSL_close_BSL();

  for (std::size_t i = 0; i < kPhaseCount; ++i) run.phases[i] = splitter.phase(Phase(i));
  run.total = splitter.total();
  if (!upgraded) {
    run.failure = "upgrade failed: " + log;
  } else if (!splitter.complete()) {
    run.failure = "the progress reports did not mark every phase";
  } else {
    run.failure = checkOutcome(world, image, log);
  }
  run.ok = run.failure.empty();
  return run;
}

double wireMs(const ReportCount& reports) {
  return static_cast<double>(reports.written + reports.read) / kReportsPerMs;
}

double shareOfWireLimit(std::size_t imageBytes, const ReportCount& send) {
  const double ms = wireMs(send);
  if (ms <= 0.0) return 0.0;
  const double limitBytesPerMs = static_cast<double>(kWireLimitBytesPerReport) * kReportsPerMs;
  return static_cast<double>(imageBytes) / ms / limitBytesPerMs;
}

}  // namespace talkgate::bench
