#include "gadget/gadget_options.h"

#include <algorithm>

#include "cli/sim_fault.h"
#include "sim/world_state.h"

namespace talkgate::gadget {

namespace {

std::string joined(const std::vector<std::string>& names) {
  std::string text;
  for (const auto& name : names) text += (text.empty() ? "" : ", ") + name;
  return text;
}

}  // namespace

bool parseGadgetOptions(const std::vector<std::string>& args, GadgetOptions& out,
                        std::string& error) {
  GadgetOptions options;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--help" || arg == "-h") {
      options.help = true;
      continue;
    }
    if (arg == "--verbose") {
      options.verbose = true;
      continue;
    }
    if (arg != "--sim-state" && arg != "--udc" && arg != "--sim-fault" && arg != "--sim-devices" &&
        arg != "--ram-loader") {
      error = "Unknown option '" + arg + "' (see talkgate-gadget --help).";
      return false;
    }
    if (i + 1 >= args.size() || args[i + 1].empty()) {
      error = arg + " needs a value.";
      return false;
    }
    const std::string& value = args[++i];
    if (arg == "--sim-state") {
      options.world.simStateFile = value;
    } else if (arg == "--udc") {
      options.udc = value;
    } else if (arg == "--ram-loader") {
      options.ramLoaderFile = value;
    } else if (arg == "--sim-devices") {
      const bool digits = value.size() <= 2 && std::all_of(value.begin(), value.end(), [](char c) {
                            return c >= '0' && c <= '9';
                          });
      const unsigned count = digits ? static_cast<unsigned>(std::stoul(value)) : 0;
      if (count < 1 || count > sim::kMaxSimulatedTalkgates) {
        error = "--sim-devices needs a number from 1 to " +
                std::to_string(sim::kMaxSimulatedTalkgates) + ", but got '" + value + "'.";
        return false;
      }
      options.world.simDevices = count;
    } else if (value == "no-reply") {
      options.talkgateFault = TalkgateFault::NoReply;
    } else if (value == "late-reply") {
      options.talkgateFault = TalkgateFault::LateReply;
    } else {
      cli::SimFault fault;
      if (!cli::parseSimFault(value, fault, error)) {
        error += " or no-reply, late-reply.";
        return false;
      }
      options.world.simFaults.push_back(value);
    }
  }
  out = std::move(options);
  return true;
}

bool chooseUdcs(std::vector<std::string> present, const std::optional<std::string>& requested,
                std::size_t count, std::vector<std::string>& out, std::string& error) {
  std::sort(present.begin(), present.end());
  const std::string there =
      present.empty() ? "there is none" : "there are: " + joined(present);
  if (present.empty()) {
    error =
        "No USB device controller in /sys/class/udc (a board needs its controller's driver; "
        "on a PC, modprobe dummy_hcd makes one).";
    return false;
  }
  if (requested) {
    if (std::find(present.begin(), present.end(), *requested) == present.end()) {
      error = "No USB device controller '" + *requested + "' in /sys/class/udc; " + there + ".";
      return false;
    }
    if (count > 1) {
      error = "--udc names one controller, but " + std::to_string(count) +
              " Talkgates need one each; leave --udc out to use the first " +
              std::to_string(count) + " of " + joined(present) + ".";
      return false;
    }
    out = {*requested};
    return true;
  }
  if (count == 1 && present.size() > 1) {
    error = "Several USB device controllers in /sys/class/udc; pick one with --udc NAME (" +
            there + ").";
    return false;
  }
  if (present.size() < count) {
    error = std::to_string(count) + " Talkgates need " + std::to_string(count) +
            " USB device controllers, one each, but " + there + ".";
    return false;
  }
  out.assign(present.begin(), present.begin() + static_cast<std::ptrdiff_t>(count));
  return true;
}

std::string gadgetHelp() {
  return "Usage: talkgate-gadget [options]\n"
         "Serves the simulated Talkgate as a real USB device through configfs: 2047:0922 with a\n"
         "boot keyboard as interface 0 and the vendor interface as interface 1, and 2047:0200\n"
         "while the part is in its bootstrap loader. Needs root, configfs on /sys/kernel/config\n"
         "and a USB device controller. Runs until interrupted; removes its gadgets on exit.\n"
         "\n"
         "  --sim-state FILE   the simulated world, as talkgatectl --simulate keeps it\n"
         "  --udc NAME         the USB device controller (default: the only one there is)\n"
         "  --sim-fault KIND[@N]\n"
         "                     a loader failure (" + cli::simFaultKinds() + ")\n"
         "                     or a Talkgate that never answers (no-reply) or answers its first\n"
         "                     request a second late (late-reply)\n"
         "  --sim-devices N    N Talkgates, one per USB device controller\n"
         "  --ram-loader FILE  the RAM loader (TI-TXT) the simulated part starts, as the host's\n"
         "                     --loader-dir sends it (default: talkgatectl's stand-in); any\n"
         "                     other code sent to the part never starts\n"
         "  --verbose          also one line per request the Talkgate receives\n"
         "  --help             this text\n";
}

}  // namespace talkgate::gadget
