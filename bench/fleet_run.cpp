#include "bench/fleet_run.h"

#include <sstream>

#include "bench/upgrade_run.h"
#include "cli/talkgatectl.h"
#include "device/clock.h"

namespace talkgate::bench {

double FleetRun::ms() const {
  return static_cast<double>(clockMs) + static_cast<double>(reports) / kReportsPerMs;
}

FleetRun runFleetUpgrade(int talkgates, const std::string& imagePath) {
  FleetRun run;
  ManualClock clock;
  ScopedClock scoped(clock);
  cli::Environment environment;
  environment.interrupts = [] { return 0; };
  std::ostringstream out;
  std::ostringstream err;
  const int status = cli::runTalkgatectl({"--simulate", "--sim-devices", std::to_string(talkgates),
                                          "--trace", "--all", "upgrade", imagePath, "--yes"},
                                         out, err, environment);
  run.clockMs = clock.now().count();
  std::istringstream trace(err.str());
  std::string messages;
  for (std::string line; std::getline(trace, line);) {
    if (line.rfind("> ", 0) == 0 || line.rfind("< ", 0) == 0) {
      ++run.reports;
    } else {
      messages += line + "\n";
    }
  }
  if (status != cli::kExitOk) {
    run.failure = "exit status " + std::to_string(status) + ": " + messages + out.str();
  }
  run.ok = run.failure.empty();
  return run;
}

}  // namespace talkgate::bench
