// talkgatectl's top level: parses the command line, picks the bus (USB or the simulated
// Talkgate), dispatches to the command and keeps the simulated device's state between runs.

#include "cli/talkgatectl.h"

#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>

#include "cli/command.h"
#include "cli/fleet.h"
#include "cli/json.h"
#include "cli/simulated_world.h"
#include "cli/text.h"
#include "config/atomic_file.h"
#include "config/file_lock.h"
#include "device/clock.h"
#include "device/tracing_port.h"
#include "files/regular_file.h"
#include "sim/sim_talkgate.h"
#include "sim/sim_world.h"
#include "sim/virtual_bus.h"
#include "sim/world_state.h"

namespace talkgate::cli {

namespace {

constexpr char kTryHelp[] = "Run 'talkgatectl --help' for the commands and their arguments.\n";

// Installs a port as the active one for a run and puts the previous one back after.
class ActivePortGuard {
 public:
  explicit ActivePortGuard(hid::Port& port) : previous_(&hid::activePort()) {
    hid::setActivePort(&port);
  }
  ~ActivePortGuard() { hid::setActivePort(previous_ == &hid::systemPort() ? nullptr : previous_); }
  ActivePortGuard(const ActivePortGuard&) = delete;
  ActivePortGuard& operator=(const ActivePortGuard&) = delete;

 private:
  hid::Port* previous_;
};

// Where the windows' QStandardPaths::GenericDataLocation points on Linux.
std::string defaultUserDataFolder() {
  const char* xdg = std::getenv("XDG_DATA_HOME");
  if (xdg && xdg[0] == '/') return xdg;
  const char* home = std::getenv("HOME");
  if (home && home[0] != '\0') return std::string(home) + "/.local/share";
  return {};
}

int badInput(std::ostream& err, const std::string& message) {
  err << message << '\n' << kTryHelp;
  return kExitBadInput;
}

int unknownCommand(std::ostream& err, const std::string& name) {
  return badInput(err, "Unknown command '" + printableBytes(name) + "'.");
}

// --help, 'help' and 'help COMMAND', 'COMMAND --help': the overview or one command's help.
int showHelp(const Invocation& invocation, std::ostream& out, std::ostream& err) {
  const auto& words = invocation.words;
  const bool helpCommand = !words.empty() && words[0] == "help";
  const std::size_t topic = helpCommand ? 1 : 0;
  if (words.size() <= topic || words[topic] == "help") {
    printHelp(out, commandRegistry());
    return kExitOk;
  }
  const CommandSpec* command = commandRegistry().find(words[topic]);
  if (command == nullptr) return unknownCommand(err, words[topic]);
  printCommandHelp(out, *command);
  return kExitOk;
}

int showVersion(const GlobalOptions& options, std::ostream& out) {
  if (options.json) {
    JsonWriter json(out);
    json.beginObject();
    json.key("program");
    json.value("talkgatectl");
    json.key("version");
    json.value(programVersion());
    json.endObject();
    json.finish();
  } else {
    out << "talkgatectl " << programVersion() << '\n';
  }
  return kExitOk;
}

int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
        const Environment& environment) {
  Invocation invocation;
  std::string error;
  if (!parseInvocation(args, invocation, error)) return badInput(err, error + ".");
  const GlobalOptions& options = invocation.options;
  const CommandRegistry& registry = commandRegistry();

  const bool helpCommand = !invocation.words.empty() && invocation.words[0] == "help";
  if (options.help || helpCommand) return showHelp(invocation, out, err);
  if (options.version) return showVersion(options, out);
  if (invocation.words.empty()) return badInput(err, "No command given.");
  const std::string& name = invocation.words[0];
  const CommandSpec* command = registry.find(name);
  if (command == nullptr) return unknownCommand(err, name);
  if (options.all && !command->onEveryTalkgate) {
    return badInput(err, "--all runs device commands; '" + name + "' is not one.");
  }
  for (const auto& flag : invocation.commandFlags) {
    if (std::find(command->flags.begin(), command->flags.end(), flag) == command->flags.end()) {
      return badInput(err, "Unknown option '" + printableBytes(flag) + "' for '" + name + "'.");
    }
  }
  // Made before the simulated devices so that it outlives them.
  std::optional<ManualClock> instantTime;
  std::optional<ScopedClock> instantClock;
  if (options.simulate && environment.instantSimulatedTime) {
    instantTime.emplace();
    instantClock.emplace(*instantTime);
  }

  // The bus: USB, or a virtual one carrying the simulated Talkgate and its loader.
  hid::Port* port = environment.usbPort ? environment.usbPort : &hid::systemPort();
  std::unique_ptr<SimulatedWorld> world;
  if (options.simulate) {
    world = std::make_unique<SimulatedWorld>();
    if (const int built = world->build(options, error); built != kExitOk) {
      if (built == kExitBadInput) return badInput(err, error);
      err << error << '\n';
      return built;
    }
    for (const auto& talkgate : world->talkgates()) {
      if (environment.onSimulatedDevice) environment.onSimulatedDevice(talkgate->talkgate());
      if (environment.onSimulatedWorld) environment.onSimulatedWorld(*talkgate);
    }
    port = &world->bus();
  }
  std::optional<hid::TracingPort> tracing;
  if (options.trace) {
    tracing.emplace(*port, err);
    port = &*tracing;
  }
  ActivePortGuard activePort(*port);

  int status = kExitOk;
  bool deviceTouched = false;
  const auto setUp = [&environment](Context& context) {
    context.setEnvironment(environment);
    context.setUserDataFolder(environment.userDataFolder ? *environment.userDataFolder
                                                         : defaultUserDataFolder());
    context.setConsole({environment.input, environment.inputIsTerminal,
                        environment.outputIsTerminal, environment.interrupts});
  };
  if (options.all) {
    status = runOnEveryTalkgate(invocation, *command, *port, out, err, setUp, deviceTouched);
  } else {
    Context context(invocation, out, err, *port);
    setUp(context);
    status = command->run(context);
    deviceTouched = context.deviceTouched();
    context.closeDevice();
  }

  // Save only after a run that reached the device: bad input leaves the file as it was. A
  // part left in its loader is saved so; the next run finds the loader on the bus.
  // A new --sim-devices count is kept too, once the command took its arguments.
  const bool newCount = options.simDevices && status != kExitBadInput;
  if (world && options.simStateFile && (deviceTouched || newCount) &&
      !world->save(*options.simStateFile, error)) {
    err << "Cannot save the simulated Talkgate to " << printableBytes(*options.simStateFile) << ": "
        << error << ".\n";
    if (status == kExitOk) status = kExitFailure;
  }
  return status;
}

}  // namespace

const CommandRegistry& commandRegistry() {
  static const CommandRegistry registry = [] {
    CommandRegistry r;
    registerDeviceCommands(r);
    registerTableCommands(r);
    registerConfigCommands(r);
    registerUpgradeCommands(r);
    registerImageCommands(r);
    registerBusCommands(r);
    registerKeyCommands(r);
    registerDoctorCommand(r);
    return r;
  }();
  return registry;
}

int runTalkgatectl(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                   const Environment& environment) {
  try {
    return run(args, out, err, environment);
  } catch (const std::exception& e) {
    err << "Internal error: " << e.what() << '\n';
  } catch (...) {
    err << "Internal error.\n";
  }
  // A failed run must never leave a dangling handle or port behind for the next one.
  hid_handle = nullptr;
  return kExitFailure;
}

}  // namespace talkgate::cli
