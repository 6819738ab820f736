// talkgatectl's top level: parses the command line, picks the bus (USB or the simulated
// Talkgate), dispatches to the command and keeps the simulated device's state between runs.

#include "cli/talkgatectl.h"

#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <streambuf>

#include "cli/command.h"
#include "cli/fleet.h"
#include "cli/json.h"
#include "cli/simulated_world.h"
#include "cli/standard_output.h"
#include "cli/text.h"
#include "config/atomic_file.h"
#include "config/file_lock.h"
#include "device/clock.h"
#include "device/tracing_port.h"
#include "files/regular_file.h"
#include "files/system_folders.h"
#include "sim/sim_talkgate.h"
#include "sim/sim_world.h"
#include "sim/virtual_bus.h"
#include "sim/world_state.h"

namespace talkgate::cli {

namespace {

constexpr char kTryHelp[] = "Run 'talkgatectl --help' for the commands and their arguments.\n";

int badInput(std::ostream& err, const std::string& message) {
  err << message << '\n' << kTryHelp;
  return kExitBadInput;
}

int unknownCommand(std::ostream& err, const std::string& name) {
  return badInput(err, "Unknown command '" + printableBytes(name) + "'.");
}

// An option given where the command belongs ("--STATUS"): refused as such, with the command
// it spells when there is one.
int optionInsteadOfCommand(std::ostream& err, const std::string& option) {
  std::string word = option.substr(option.find_first_not_of('-'));
  for (char& c : word) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  std::string message = "Unknown option '" + printableBytes(option) + "', and no command given";
  if (commandRegistry().find(word) != nullptr) {
    message += "; commands are written without dashes: did you mean '" + word + "'?";
  } else {
    message += ".";
  }
  return badInput(err, message);
}

// Passes everything on to another stream buffer, counting it and, when asked, keeping a copy.
class PassOnBuffer : public std::streambuf {
 public:
  PassOnBuffer(std::streambuf* target, bool keepCopy) : target_(target), keepCopy_(keepCopy) {}
  std::size_t count() const { return count_; }
  const std::string& copy() const { return copy_; }

 protected:
  int_type overflow(int_type c) override {
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    const char byte = traits_type::to_char_type(c);
    return xsputn(&byte, 1) == 1 ? c : traits_type::eof();
  }
  std::streamsize xsputn(const char* text, std::streamsize size) override {
    count_ += static_cast<std::size_t>(size);
    if (keepCopy_) copy_.append(text, static_cast<std::size_t>(size));
    return target_->sputn(text, size);
  }
  int sync() override { return target_->pubsync(); }

 private:
  std::streambuf* target_;
  bool keepCopy_;
  std::size_t count_ = 0;
  std::string copy_;
};

// True when --json comes before the end of the options: the run answers in JSON even when the
// rest of the command line is refused.
bool asksForJson(const std::vector<std::string>& args) {
  for (const auto& arg : args) {
    if (arg == "--") return false;
    if (arg == "--json") return true;
  }
  return false;
}

// With --json, a run that failed before printing its result: the messages as a document.
void printJsonError(std::ostream& out, int status, std::string messages) {
  while (!messages.empty() && messages.back() == '\n') messages.pop_back();
  JsonWriter json(out);
  json.beginObject();
  json.key("ok");
  json.value(false);
  json.key("exit_status");
  json.value(status);
  json.key("error");
  json.value(messages);
  json.endObject();
  json.finish();
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
  if (invocation.words.empty()) {
    if (!invocation.commandFlags.empty()) {
      return optionInsteadOfCommand(err, invocation.commandFlags.front());
    }
    return badInput(err, "No command given.");
  }
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
  // An upgrade is never cut short by a reader that went away (| head, a tee ended by Ctrl-C):
  // the output is lost, the run goes on to the end and saves what it did.
  std::optional<BrokenPipeTolerance> keepGoing;
  if (name == "upgrade") keepGoing.emplace();
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
  hid::ScopedPort usePort(*port);

  int status = kExitOk;
  bool deviceTouched = false;
  const auto setUp = [&environment](Context& context) {
    context.setEnvironment(environment);
    context.setUserDataFolder(environment.userDataFolder ? *environment.userDataFolder
                                                         : files::userDataFolder());
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
    err << "Cannot save the simulated Talkgate to " << printablePath(*options.simStateFile) << ": "
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

namespace {

int runCatching(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
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

}  // namespace

int runTalkgatectl(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                   const Environment& environment) {
  const bool json = asksForJson(args);
  PassOnBuffer outBuffer(out.rdbuf(), false);
  PassOnBuffer errBuffer(err.rdbuf(), json);
  std::ostream output(&outBuffer);
  std::ostream messages(&errBuffer);
  int status = runCatching(args, output, messages, environment);
  if (json && status != kExitOk && outBuffer.count() == 0) {
    printJsonError(output, status, errBuffer.copy());
  }
  output.flush();
  if (!output.good()) {
    const std::string problem = environment.outputProblem ? environment.outputProblem() : "";
    messages << "Standard output could not be written" << (problem.empty() ? "" : " (" + problem + ")")
             << ", so the output is incomplete; the command itself "
             << (status == kExitOk ? "succeeded" : "failed") << ".\n";
    if (status == kExitOk) status = kExitFailure;
  }
  messages.flush();
  return status;
}

}  // namespace talkgate::cli
