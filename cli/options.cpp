#include "cli/options.h"

#include "cli/text.h"
#include "sim/world_state.h"

namespace talkgate::cli {

namespace {

bool looksLikeOption(const std::string& arg) {
  if (arg.size() < 2 || arg[0] != '-') return false;
  return !(arg[1] >= '0' && arg[1] <= '9');  // "-1" is a (bad) number, not an option
}

// Stores a value option; a repeated one is refused rather than silently overridden.
bool storeValue(std::optional<std::string>& slot, std::string_view name, const std::string& value,
                std::string& error) {
  if (slot) {
    error = std::string(name) + " is given more than once";
    return false;
  }
  if (value.empty()) {
    error = std::string(name) + " needs a non-empty value";
    return false;
  }
  slot = value;
  return true;
}

}  // namespace

const std::vector<GlobalOptionSpec>& globalOptionSpecs() {
  static const std::vector<GlobalOptionSpec> specs = {
      {"--simulate", "", "Use a simulated Talkgate on a virtual bus instead of USB."},
      {"--sim-state", "FILE",
       "With --simulate: load the simulated Talkgate from FILE at start and keep FILE up to "
       "date as it changes (a run killed mid-upgrade leaves it as a real part would be), so "
       "that consecutive runs act on one device; FILE is created with factory values when "
       "missing. The file keeps the whole simulated world: the Talkgate's settings, its "
       "firmware version, whether it waits in its bootstrap loader, and its flash. One run at a "
       "time holds FILE; another waits for it up to 5 s."},
      {"--sim-devices", "N",
       "With --simulate: N simulated Talkgates (1 to 16) on the bus instead of one, serial "
       "numbers TG260001, TG260002 and so on; kept in the --sim-state file, so later runs "
       "need not repeat it."},
      {"--sim-fault", "KIND[@N]",
       "With --simulate: make the simulated bootstrap loader fail once, at its N-th report of "
       "this run (default 1): 'unplug' leaves the bus, 'refuse-password' refuses the password "
       "(and mass-erases), 'corrupt-byte' corrupts the next byte programmed, 'stop-answering' "
       "stays on the bus but never answers again, 'erase-fails' answers the next erase with "
       "a voltage dip and erases nothing, 'second-loader' puts another part's loader on the "
       "bus, 'other-port' brings the loader up on another USB port at its N-th arrival on the "
       "bus (1: when the Talkgate switches to it, 2: the RAM loader). May be given more than "
       "once: each fault is armed on its own. With several simulated Talkgates it is the first "
       "one's loader."},
      {"--device", "PATH", "Use the Talkgate at this HID path (see 'list') instead of the first."},
      {"--all", "",
       "Run the command on every Talkgate on the bus, one after the other: one result line per "
       "device and a summary (with --json an array). A Talkgate waiting in its bootstrap loader "
       "gets a line of its own; an upgrade stops at the first Talkgate that fails. Exit status 1 "
       "when any device fails or waits in its loader, or none is connected."},
      {"--config", "FILE",
       "The configuration file for the 'config' commands, instead of the per-user "
       "VelkorInterface/USBTalkgateUtilityCfg.ini under $XDG_DATA_HOME or ~/.local/share."},
      {"--loader-dir", "DIR",
       "Look for the product's loader images (password.txt and RAM_BSL.txt, optionally "
       "RAM_BSL_VERSION.txt) in DIR first, then in $XDG_CONFIG_HOME/talkgate-utility/loader "
       "(or ~/.config/talkgate-utility/loader) and /etc/talkgate-utility/loader. A real "
       "Talkgate is only upgraded, or sent into its bootstrap loader, with usable images."},
      {"--json", "",
       "Machine-readable output (one JSON object or array on standard output; 'upgrade' "
       "writes one progress object per line before it). A command that fails before its "
       "result prints {\"ok\": false, \"exit_status\": N, \"error\": \"...\"}."},
      {"--trace", "",
       "Print every HID report written and read, as hexadecimal bytes, on standard "
       "error."},
      {"--help", "",
       "Show this help and exit (also -h and 'help'); after a command, only that command's "
       "help."},
      {"--version", "", "Show the program's version and exit (with --json as an object)."},
  };
  return specs;
}

bool parseInvocation(const std::vector<std::string>& args, Invocation& out, std::string& error) {
  out = Invocation{};
  GlobalOptions& o = out.options;
  bool optionsEnded = false;
  std::optional<std::string> simDevices;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (optionsEnded || !looksLikeOption(arg)) {
      out.words.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    // --name=value and --name value are both accepted for value options.
    std::string name = arg;
    std::optional<std::string> inlineValue;
    if (const auto eq = arg.find('='); eq != std::string::npos && arg.rfind("--", 0) == 0) {
      name = arg.substr(0, eq);
      inlineValue = arg.substr(eq + 1);
    }
    auto takeValue = [&](std::optional<std::string>& slot) {
      if (inlineValue) return storeValue(slot, name, *inlineValue, error);
      if (i + 1 >= args.size()) {
        error = name + " needs a value";
        return false;
      }
      return storeValue(slot, name, args[++i], error);
    };
    auto takeSwitch = [&](bool& slot) {
      if (inlineValue) {
        error = name + " takes no value";
        return false;
      }
      slot = true;
      return true;
    };

    bool ok = true;
    if (name == "--simulate") {
      ok = takeSwitch(o.simulate);
    } else if (name == "--json") {
      ok = takeSwitch(o.json);
    } else if (name == "--trace") {
      ok = takeSwitch(o.trace);
    } else if (name == "--help" || name == "-h") {
      ok = takeSwitch(o.help);
    } else if (name == "--all") {
      ok = takeSwitch(o.all);
    } else if (name == "--version") {
      ok = takeSwitch(o.version);
    } else if (name == "--sim-state") {
      ok = takeValue(o.simStateFile);
    } else if (name == "--sim-fault") {
      std::optional<std::string> fault;
      ok = takeValue(fault);
      if (ok) o.simFaults.push_back(*fault);
    } else if (name == "--sim-devices") {
      ok = takeValue(simDevices);
    } else if (name == "--device") {
      ok = takeValue(o.devicePath);
    } else if (name == "--config") {
      ok = takeValue(o.configFile);
    } else if (name == "--loader-dir") {
      ok = takeValue(o.loaderDir);
    } else {
      out.commandFlags.push_back(arg);
    }
    if (!ok) return false;
  }
  if (o.all && o.devicePath) {
    error = "--all and --device exclude each other";
    return false;
  }
  if (o.simStateFile && !o.simulate) {
    error = "--sim-state needs --simulate";
    return false;
  }
  if (simDevices) {
    o.simDevices = parseDecimal(*simDevices, static_cast<unsigned>(sim::kMaxSimulatedTalkgates));
    if (!o.simDevices || *o.simDevices == 0) {
      error =
          "--sim-devices needs a number from 1 to " + std::to_string(sim::kMaxSimulatedTalkgates);
      return false;
    }
    if (!o.simulate) {
      error = "--sim-devices needs --simulate";
      return false;
    }
  }
  if (!o.simFaults.empty() && !o.simulate) {
    error = "--sim-fault needs --simulate";
    return false;
  }
  return true;
}

}  // namespace talkgate::cli
