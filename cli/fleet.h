#pragma once
// --all: one command run on every Talkgate on the bus, one device after the other, each as if
// it had been named with --device.

#include <functional>
#include <ostream>

#include "cli/command.h"

namespace talkgate::cli {

// Prepares the context of one device's run (folders, console), as for a run without --all.
using ContextSetup = std::function<void(Context&)>;

// Runs command on every Talkgate's configuration interface on port, in bus order. Prints one
// result line per device (its path and serial number, then what the command answered) and a
// summary; with --json one array of {path, serial_number, ok, exit_status, result, error},
// result being the command's final JSON document (an upgrade's progress lines left out).
// A Talkgate waiting in its bootstrap loader cannot run the command: it gets a line saying so
// (exit_status null) and counts as not reached. Upgrades stop at the first that fails, and do
// not start while a loader waits: the Talkgates left get a "not upgraded" line.
// Returns kExitOk when every device succeeded; kExitFailure when one failed, was not reached
// or none is connected; kExitBadInput when the command refused its arguments, before any device was
// touched. deviceTouched tells whether a run reached a device.
int runOnEveryTalkgate(const Invocation& invocation, const CommandSpec& command, hid::Port& port,
                       std::ostream& out, std::ostream& err, const ContextSetup& setup,
                       bool& deviceTouched);

}  // namespace talkgate::cli
