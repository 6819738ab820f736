#pragma once
// talkgatectl, the command-line tool, as a function so that tests can run it in-process.

#include <functional>
#include <istream>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "device/hid_port.h"

namespace talkgate::sim {
class SimTalkgate;
class SimWorld;
}  // namespace talkgate::sim

namespace talkgate::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;   // no device, or a request failed
inline constexpr int kExitBadInput = 2;  // nothing was sent

// What the tool runs against, for tests; the defaults are the real hidapi bus.
struct Environment {
  // Stands in for the USB bus (hidapi) when set.
  hid::Port* usbPort = nullptr;
  // Called with the tool's own simulated Talkgate (--simulate) once it is on the bus, before
  // the command runs; lets a test make it misbehave.
  std::function<void(sim::SimTalkgate&)> onSimulatedDevice;
  // Called with the whole simulated world (the Talkgate and its bootstrap loader) likewise;
  // lets a test make the loader misbehave.
  std::function<void(sim::SimWorld&)> onSimulatedWorld;
  // The user's data folder that holds VelkorInterface/USBTalkgateUtilityCfg.ini; when unset,
  // $XDG_DATA_HOME or ~/.local/share, where the utility's windows keep it too.
  std::optional<std::string> userDataFolder;
  // Where questions are answered; nullptr: nobody can answer them.
  std::istream* input = nullptr;
  // Whether standard input and output are terminals: questions are only asked on one, and
  // progress bars only drawn on one.
  bool inputIsTerminal = false;
  bool outputIsTerminal = false;
  // How many Ctrl-C or SIGTERM arrived since programming began, asked before every loader
  // report; lets a test interrupt an upgrade at a chosen report. Unset: while it programs a
  // Talkgate the tool catches SIGINT and SIGTERM and counts them itself.
  std::function<int()> interrupts;
  // With --simulate: let the simulated devices' time run without waiting (a manual clock), so
  // that a simulated upgrade takes no real seconds. Left off, the simulated world keeps real
  // time, so that a person (or a signal) can act while it programs.
  bool instantSimulatedTime = false;
  // Why standard output could not be written ("Broken pipe"), when the caller knows; asked
  // once the run found its output stream failed.
  std::function<std::string()> outputProblem;
  // The folders udev reads rules from, for 'doctor'.
  std::vector<std::string> udevRuleFolders = {"/etc/udev/rules.d", "/usr/lib/udev/rules.d",
                                              "/lib/udev/rules.d"};
};

// Runs one command line (without the program name) and returns the exit status. Output goes
// to out, messages and the --trace lines to err. Output that cannot be written is reported on
// err and makes the exit status 1; with --json a failed run that printed nothing prints a
// JSON error document ({"ok": false, "exit_status", "error"}) on out.
int runTalkgatectl(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                   const Environment& environment = Environment{});

}  // namespace talkgate::cli
