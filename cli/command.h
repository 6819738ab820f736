#pragma once
// What a talkgatectl command is, and the context it runs in. Each command group lives in its
// own file (commands_device.cpp, commands_bus.cpp, ...) and registers itself with the registry.

#include <functional>
#include <istream>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "cli/options.h"
#include "cli/talkgatectl.h"
#include "device/hid_port.h"
#include "device/transport.h"

namespace talkgate::cli {

class JsonWriter;

// The environment of a run started without one.
const Environment& defaultEnvironment();

// The terminal side of a run: who answers questions, and whether progress may be drawn.
struct Console {
  std::istream* input = nullptr;
  bool inputIsTerminal = false;
  bool outputIsTerminal = false;
  // Ctrl-C and SIGTERM received while a Talkgate is programmed; empty: the tool counts the
  // real signals itself.
  std::function<int()> interrupts;
};

// The context of one run: options, arguments, streams and the device session. Commands validate
// all their arguments first and only then open the device, so bad input sends nothing.
class Context {
 public:
  Context(const Invocation& invocation, std::ostream& out, std::ostream& err, hid::Port& port);
  ~Context();
  Context(const Context&) = delete;
  Context& operator=(const Context&) = delete;

  const GlobalOptions& options() const { return invocation_.options; }
  bool json() const { return invocation_.options.json; }
  // The command's arguments, after its name.
  const std::vector<std::string>& args() const { return args_; }
  // True when the command-specific option was given.
  bool flag(std::string_view name) const;
  std::ostream& out() { return out_; }
  std::ostream& err() { return err_; }

  // Reports bad input and returns kExitBadInput.
  int badInput(const std::string& message);
  // Reports a failure and returns kExitFailure.
  int failure(const std::string& message);
  // True when the command got no arguments; otherwise reports bad input into exitCode.
  bool noArguments(std::string_view command, int& exitCode);
  // Confirms a finished action: the sentence, or with --json {"ok": true, ...} where
  // extraFields may add members.
  void confirm(const std::string& sentence,
               const std::function<void(JsonWriter&)>& extraFields = nullptr);
  // Reports a failed request ("Unable to <what>: timeout (-6).") and returns kExitFailure.
  int requestFailed(std::string_view what, int result);
  // True when this run may send a Talkgate into its bootstrap loader: always on the simulated
  // bus, on real hardware only with usable product loader images (--loader-dir, then the
  // standard folders). Otherwise prints why and sets exitCode to kExitBadInput.
  bool loaderImagesAtHand(int& exitCode);

  // Opens the Talkgate into hid_handle (the one at --device when given). On failure prints why
  // and returns nullptr; the caller then returns kExitFailure.
  DeviceHandle openDevice();
  // Opens the first Talkgate on the bus, whatever --device says (a device that restarted
  // comes back under a new path). Failures are reported as by openDevice().
  DeviceHandle openFirstDevice();
  // Opens the Talkgate at path, whatever --device says. Failures as by openDevice().
  DeviceHandle openDeviceAt(const std::string& path);
  // True once openDevice() was called (whatever its outcome), or markDeviceTouched().
  bool deviceTouched() const { return deviceTouched_; }
  // For commands that reach the device other than through openDevice() (the loader).
  void markDeviceTouched() { deviceTouched_ = true; }

  // What the run was started with (for the folders 'doctor' looks in).
  const Environment& environment() const { return *environment_; }
  void setEnvironment(const Environment& environment) { environment_ = &environment; }

  const Console& console() const { return console_; }
  void setConsole(const Console& console) { console_ = console; }
  // The device strings read when it was opened.
  const std::string& manufacturer() const { return manufacturer_; }
  const std::string& product() const { return product_; }

  // The folder under which the per-user configuration file lives; empty when unknown.
  const std::string& userDataFolder() const { return userDataFolder_; }
  void setUserDataFolder(std::string folder) { userDataFolder_ = std::move(folder); }

  // Starts the HID library for commands that only look at the bus; shut down with the session.
  hid::Port& startedPort();
  // Closes the device (if open) and shuts the HID library down (if started).
  void closeDevice();

 private:
  // Opens the interface at path after checking it is a Talkgate's configuration interface;
  // problem holds the message when the path itself is the trouble.
  DeviceHandle openByPath(const std::string& path, hid::OpenError& error, std::string& problem);
  // openDevice() with the path to use, or nullopt for the first Talkgate.
  DeviceHandle open(const std::optional<std::string>& path);
  // The path of the first configuration interface on the bus, for messages; "" when none.
  std::string firstConfigPath();

  const Invocation& invocation_;
  std::vector<std::string> args_;
  std::ostream& out_;
  std::ostream& err_;
  hid::Port& port_;
  bool deviceTouched_ = false;
  bool portStarted_ = false;
  std::string manufacturer_;
  std::string product_;
  std::string userDataFolder_;
  Console console_;
  const Environment* environment_ = &defaultEnvironment();
};

// What to do about missing permissions on the Talkgate or its loader: the udev rule.
std::string_view permissionHint();

// Why the per-user data folder is unknown, from the environment: "HOME is not set" or
// "HOME is empty".
std::string unknownUserDataFolderReason();

// One line of a command's help: its usage and what it does.
struct HelpEntry {
  std::string usage;
  std::string description;
};

// What exit status 1 means for most commands: they talk to a Talkgate.
inline constexpr char kDeviceFailureMeaning[] =
    "No Talkgate is connected, it cannot be opened (for instance missing permissions), or a "
    "request failed; the message names the request and its result code.";

// What exit status 2 means for every command.
inline constexpr char kBadInputMeaning[] =
    "Bad input (unknown command or option, a value out of range, an unusable file or firmware "
    "image, an upgrade not confirmed, no usable loader images for a real Talkgate); nothing was "
    "sent to the device.";

struct CommandSpec {
  std::string name;
  std::vector<HelpEntry> help;
  std::vector<std::string> flags;  // command-specific options it accepts ("--quiet-real")
  std::function<int(Context&)> run;
  // Whole command lines for its own help ("talkgatectl table set detected=F20").
  std::vector<std::string> examples = {};
  // What exit status 1 means for it; empty for a command that never ends with 1.
  std::string failureMeaning = kDeviceFailureMeaning;
  // True for a command that acts on one Talkgate and so may be run on each with --all.
  bool onEveryTalkgate = false;
};

class CommandRegistry {
 public:
  void add(CommandSpec command) { commands_.push_back(std::move(command)); }
  // The command of that name, or nullptr.
  const CommandSpec* find(std::string_view name) const;
  const std::vector<CommandSpec>& all() const { return commands_; }

 private:
  std::vector<CommandSpec> commands_;
};

// Command groups; each lives in its own commands_*.cpp.
void registerDeviceCommands(CommandRegistry& registry);
void registerBusCommands(CommandRegistry& registry);
void registerTableCommands(CommandRegistry& registry);
void registerConfigCommands(CommandRegistry& registry);
void registerUpgradeCommands(CommandRegistry& registry);
void registerImageCommands(CommandRegistry& registry);
void registerKeyCommands(CommandRegistry& registry);
void registerDoctorCommand(CommandRegistry& registry);

// Every command of the tool, in help order.
const CommandRegistry& commandRegistry();

// The full --help text.
void printHelp(std::ostream& out, const CommandRegistry& registry);
// The help of one command: its forms and arguments, examples and exit status.
void printCommandHelp(std::ostream& out, const CommandSpec& command);

// The program's version ("2.1.0").
std::string_view programVersion();

}  // namespace talkgate::cli
