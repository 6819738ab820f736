#pragma once
// The command line of talkgate-gadget and the choice of USB device controllers.

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "cli/options.h"

namespace talkgate::gadget {

// Misbehaviours of the Talkgate itself (the loader's are --sim-fault kinds of talkgatectl).
enum class TalkgateFault { None, NoReply, LateReply };

struct GadgetOptions {
  cli::GlobalOptions world;  // --sim-state, --sim-devices, a loader --sim-fault
  TalkgateFault talkgateFault = TalkgateFault::None;
  std::optional<std::string> udc;
  // The RAM loader (TI-TXT) the simulated part starts; any other code sent to it never starts.
  std::optional<std::string> ramLoaderFile;
  bool verbose = false;  // one line per request the Talkgate receives
  bool help = false;
};

// Parses the arguments (without the program name); false with a message on bad input.
bool parseGadgetOptions(const std::vector<std::string>& args, GadgetOptions& out,
                        std::string& error);

// Picks count controllers from those present (in /sys/class/udc): the one asked for, or the
// only one, or, for several Talkgates, the first count in name order. False with a message
// naming the controllers there are.
bool chooseUdcs(std::vector<std::string> present, const std::optional<std::string>& requested,
                std::size_t count, std::vector<std::string>& out, std::string& error);

// The --help text.
std::string gadgetHelp();

}  // namespace talkgate::gadget
