// talkgatectl upgrade: the firmware upgrade of the upgrade window from the command line. The
// image is checked whole first; the Talkgate's settings are read, it is switched into its
// bootstrap loader (or a loader already waiting on the bus is used), programmed and verified,
// and once it is back its serial number and, unless declined, its settings are written back.

#include <algorithm>
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "cli/bus.h"
#include "cli/command.h"
#include "cli/json.h"
#include "cli/signal_counter.h"
#include "cli/text.h"
#include "cli/upgrade_output.h"
#include "device/clock.h"
#include "device/commands.h"
#include "firmware/bsl430.h"
#include "firmware/firmware_upgrade_restore.h"
#include "firmware/image_check.h"
#include "firmware/programming_sequence.h"
#include "firmware/ti_txt.h"

namespace talkgate::cli {

namespace {

constexpr int kBusPollMs = 250;
constexpr int kLoaderWaitMs = 10000;  // from command 9 until the loader enumerates
constexpr int kReturnWaitMs = 6000;   // from the reset until the Talkgate enumerates again
constexpr char kQuestion[] = "Are you sure you want to upgrade the firmware? [y/N] ";
// A loader this run did not start cannot tell what it belongs to: it has no serial number.
constexpr char kLoneLoaderRisk[] =
    "a bootstrap loader (2047:0200) is waiting on the bus that this run did not start; it may "
    "be a Talkgate whose upgrade was interrupted, or another device, which Talkgate firmware "
    "would ruin";
constexpr char kLoneLoaderQuestion[] = "Program it with Talkgate firmware? [y/N] ";
constexpr char kFirstInterrupt[] =
    "Interrupt received while the Talkgate is being programmed: carrying on, because stopping "
    "now leaves it in its bootstrap loader until it is programmed. Interrupt again to stop "
    "after the current report.\n";

// Polls until ready() holds or timeoutMs of the active clock have passed.
template <typename Ready>
bool waitFor(int timeoutMs, Ready ready) {
  Clock& clock = activeClock();
  const auto end = clock.now() + std::chrono::milliseconds(timeoutMs);
  while (!ready()) {
    if (clock.now() >= end) return false;
    clock.sleepFor(std::chrono::milliseconds(kBusPollMs));
  }
  return true;
}

bool isYes(std::string answer) {
  for (char& c : answer) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  while (!answer.empty() && (answer.back() == '\r' || answer.back() == ' ')) answer.pop_back();
  return answer == "y" || answer == "yes";
}

firmware::UpgradeSettings snapshotOf(const DeviceStatus& status) {
  firmware::UpgradeSettings settings;
  settings.keypadType = status.keypadType;
  std::copy(status.keyTable.begin(), status.keyTable.end(), settings.key_codes.begin());
  settings.serialNumber = status.serialNumber;
  settings.led2Brightness_jo = status.symbolBrightness;
  settings.led1Brightness_jo = status.ambientConfig;
  return settings;
}

// The settings read before an upgrade that failed. A run that finishes the upgrade from the
// bootstrap loader cannot read them, so they are told while they are still known.
std::string settingsNote(const firmware::UpgradeSettings& s) {
  const auto choice = [](int value, const char* zero, const char* one) {
    return value == 0 ? std::string(zero) : value == 1 ? std::string(one) : std::to_string(value);
  };
  return "The settings read before this upgrade: 'talkgatectl set brightness " +
         std::to_string(s.led2Brightness_jo) + "', 'set ambient " +
         choice(s.led1Brightness_jo, "disable", "enable") + "', 'set keypad " +
         choice(s.keypadType, "default", "custom") + "', key code table " +
         hexBytes(s.key_codes.data(), kKeyTableSize) +
         ". If the device comes back in its bootstrap loader, the run that finishes the upgrade "
         "cannot write them back: set them again afterwards, then 'talkgatectl save'.";
}

enum class Restore { Default, Asked, Declined };

// One run of the upgrade, from the checked arguments to the final report.
class Upgrade {
 public:
  Upgrade(Context& ctx, std::string image, Restore restore)
      : ctx_(ctx),
        image_(std::move(image)),
        restore_(restore),
        output_(ctx.out(), ctx.json()                       ? ProgressStyle::JsonLines
                           : ctx.console().outputIsTerminal ? ProgressStyle::Bar
                                                            : ProgressStyle::Lines) {}

  int run(bool recovery);
  // The other Talkgates on the bus, which stay there: the one that comes back is the one that
  // is not among them.
  void setOtherTalkgates(std::vector<std::string> paths) { others_ = std::move(paths); }
  // The USB port of the Talkgate switched to its loader ("": not known): a loader elsewhere is
  // not programmed.
  void setTalkgateLocation(std::string location) { talkgateLocation_ = std::move(location); }

 private:
  // The path of the upgraded Talkgate once it is back; empty while it is not.
  std::string returnedTalkgate();
  bool switchToLoader();
  bool program();
  // Asked before every loader report: warns at the first interrupt, stops at the second.
  bool stopWanted(const std::function<int()>& interrupts);
  bool reconnect();
  bool writeBack();
  // Reports a failure on standard error, below the progress.
  void fail(const std::string& message);
  void printJson(bool ok);
  // The command that finishes the upgrade, with the simulated world when there is one.
  std::string rerun() const;
  // What the part holds and how to go on from there.
  std::string stateAdvice(firmware::PartState state, bool stopped) const;

  Context& ctx_;
  std::string image_;
  Restore restore_;
  UpgradeOutput output_;
  std::optional<firmware::UpgradeSettings> snapshot_;
  std::string firmwareVersion_;  // read back from the upgraded Talkgate
  bool settingsRestored_ = false;
  bool serialRestored_ = false;
  bool warned_ = false;
  bool stopped_ = false;
  std::vector<std::string> others_;
  std::string talkgateLocation_;
};

std::string Upgrade::rerun() const {
  const GlobalOptions& options = ctx_.options();
  std::string command = "talkgatectl ";
  if (options.simulate) command += "--simulate ";
  if (options.simStateFile) command += "--sim-state " + printablePath(*options.simStateFile) + " ";
  return command + "upgrade " + printablePath(image_);
}

std::string Upgrade::stateAdvice(firmware::PartState state, bool stopped) const {
  using firmware::PartState;
  switch (state) {
    case PartState::OldImage:
      return "The Talkgate keeps its old firmware, whole: unplug it and plug it in again to "
             "start it, then run '" +
             rerun() + "' again to upgrade it.";
    case PartState::OldImageOrLoader:
      return "The loader did not answer the erase of the reset vector, so the Talkgate holds "
             "either its old firmware, whole, or an erased reset vector and waits in its "
             "bootstrap loader: unplug it and plug it in again ('talkgatectl list' then shows "
             "which) and run '" +
             rerun() + "' again.";
    case PartState::NewImageVerified:
      return "The new firmware is written and verified, but the Talkgate was not reset into it: "
             "unplug it and plug it in again to start it.";
    case PartState::VectorUnproven:
      return "The new firmware is written, but its reset vector could be neither verified nor "
             "erased: run '" +
             rerun() + "' again before unplugging the Talkgate.";
    case PartState::VectorErased:
      break;
  }
  if (stopped) {
    return "The device waits in its bootstrap loader and its firmware may be incomplete: run '" +
           rerun() + " --yes' to finish the upgrade.";
  }
  return "The device stays in its bootstrap loader until it has been programmed: run '" +
         rerun() +
         "' again to finish the upgrade (if the device was unplugged, plug it in again first; "
         "'talkgatectl list' shows the loader).";
}

bool Upgrade::stopWanted(const std::function<int()>& interrupts) {
  const int received = interrupts();
  if (received >= 1 && !warned_) {
    warned_ = true;
    ctx_.err() << kFirstInterrupt << std::flush;
  }
  if (received >= 2) stopped_ = true;
  return stopped_;
}

int Upgrade::run(bool recovery) {
  ctx_.markDeviceTouched();
  if (recovery) {
    output_.log("A bootstrap loader is waiting on the bus: finishing an interrupted upgrade (" +
                std::string(kLoneLoaderRisk) + ")");
  }
  const bool ok = (recovery || switchToLoader()) && program() && reconnect() && writeBack();
  output_.finish();
  if (ctx_.json()) printJson(ok);
  return ok ? kExitOk : kExitFailure;
}

bool Upgrade::switchToLoader() {
  const DeviceHandle device = ctx_.openDevice();
  if (!device) return false;
  DeviceStatus status;
  if (const int r = readStatus(device, status); r != kOk) {
    fail("Unable to get device status information (" + resultText(r) +
         "). The Talkgate was not changed.");
    return false;
  }
  snapshot_ = snapshotOf(status);
  output_.log("Settings of the Talkgate read (firmware " + status.firmwareVersion +
              ", serial number " + status.serialNumber + ")");
  const int r = enterLoader(device);
  ctx_.closeDevice();
  hid::Port& port = ctx_.startedPort();
  // Other Talkgates (--all) stay on the bus: only this one's leaving counts.
  const bool left = !loaderInterfaces(port).empty() || returnedTalkgate().empty();
  // The device may restart before it answers; a lost reply is fine once it has left.
  if (r != kOk && !((r == kErrIo || r == kErrTimeout) && left)) {
    fail("Unable to switch the Talkgate to its bootstrap loader: " + resultText(r) +
         ". The Talkgate was not changed.");
    return false;
  }
  output_.log("Waiting for the bootstrap loader");
  if (!waitFor(kLoaderWaitMs, [&port] { return !loaderInterfaces(port).empty(); })) {
    fail("The Talkgate left for its bootstrap loader, but no loader (2047:0200) appeared within " +
         std::to_string(kLoaderWaitMs / 1000) +
         " s. Unplug the device and plug it in again; if 'talkgatectl list' then shows a "
         "loader, run '" +
         rerun() + "' again.");
    return false;
  }
  return true;
}

bool Upgrade::program() {
  output_.log("Starting");
  // Interrupts count only while the device is programmed; before and after, Ctrl-C ends the
  // program as usual (the Talkgate keeps working firmware then).
  std::optional<SignalCounter> signals;
  std::function<int()> interrupts = ctx_.console().interrupts;
  if (!interrupts) {
    signals.emplace();
    interrupts = [&signals] { return signals->count(); };
  }
  firmware::BSL_setStopCheck([this, &interrupts] { return stopWanted(interrupts); });
  firmware::ProgrammerSettings settings;
  settings.loaderImages = firmware::loaderImageSources(ctx_.options().loaderDir);
  settings.talkgateLocation = talkgateLocation_;
  firmware::FirmwareProgrammer programmer(settings);
  const bool programmed =
      programmer.CustomSelectedFirmware(image_, [this](int percent, const std::string& message) {
        // After a stop the sequence only reports the consequences of reports never sent.
        if (!stopped_) output_.progress(percent, message);
      });
  const firmware::PartState state = programmer.partState();
  firmware::BSL_setStopCheck(nullptr);
  signals.reset();
  const std::string loaderProblem = firmware::BSL_lastError();
  const bool unanswered = firmware::BSL_lastRequestUnanswered();
  firmware::BSL_close_BSL();
  output_.finish();
  if (programmed) return true;
  if (stopped_) {
    std::string message = "The firmware upgrade was stopped on request after the current report. " +
                          stateAdvice(state, true);
    if (snapshot_) message += " " + settingsNote(*snapshot_);
    fail(message);
    return false;
  }

  hid::Port& port = ctx_.startedPort();
  const bool loaderThere = !loaderInterfaces(port).empty();
  // A loader that went silent makes every later step fail (a password "refused", a verify
  // that "failed"): the silence is the cause to tell. The sequence's own last line may tell
  // the part's state, which the advice below says too.
  const auto& lines = output_.lines();
  std::size_t reason = lines.size();
  if (reason > 1 && lines.back() + "\r\n" == firmware::partStateText(state)) --reason;
  std::string message =
      "The firmware upgrade failed" +
      (loaderThere && unanswered
           ? std::string(": the bootstrap loader stopped answering. Unplug the device and plug it "
                         "in again.")
       : reason == 0 ? std::string(".")
                     : ": " + printableBytes(lines[reason - 1]) + ".");
  if (!loaderThere && talkgateConfigInterfaces(port).empty()) {
    message += " The device is no longer on the bus.";
  }
  if (loaderThere && loaderProblem == "loader device cannot be opened") {
    message += std::string(" The bootstrap loader is on the bus but cannot be opened. ") +
               std::string(permissionHint());
  }
  message += " " + stateAdvice(state, false);
  if (snapshot_) message.append(" ").append(settingsNote(*snapshot_));
  fail(message);
  return false;
}

std::string Upgrade::returnedTalkgate() {
  for (const auto& info : talkgateConfigInterfaces(ctx_.startedPort())) {
    if (std::find(others_.begin(), others_.end(), info.path) == others_.end()) return info.path;
  }
  return {};
}

bool Upgrade::reconnect() {
  output_.log("Waiting for the Talkgate to restart");
  if (!waitFor(kReturnWaitMs, [this] { return !returnedTalkgate().empty(); })) {
    fail("The firmware was programmed and verified, but the Talkgate did not come back within " +
         std::to_string(kReturnWaitMs / 1000) +
         " s. Unplug it and plug it in again. If it then shows up as a bootstrap loader "
         "('talkgatectl list'), run '" +
         rerun() + "' again.");
    return false;
  }
  if (!ctx_.openDeviceAt(returnedTalkgate())) {
    fail(
        "The firmware was programmed and verified, but the restarted Talkgate cannot be "
        "opened.");
    return false;
  }
  return true;
}

bool Upgrade::writeBack() {
  const DeviceHandle device = hid_handle;
  if (snapshot_ && firmware::serialNumberIsRestored(*snapshot_)) {
    if (const int r = firmware::restoreSerialNumber(device, *snapshot_); r != kOk) {
      fail(std::string(firmware::kSerialNumberFailure) + " (" + resultText(r) +
           ") The Talkgate runs its new firmware; 'talkgatectl set serial " +
           printableBytes(snapshot_->serialNumber) + "' writes its serial number again.");
      return false;
    }
    serialRestored_ = true;
    output_.log("Serial number " + snapshot_->serialNumber + " written back");
  }

  if (restore_ == Restore::Declined) {
    output_.log("Previous settings not restored (--no-restore-settings)");
  } else if (!snapshot_) {
    const std::string note =
        "No settings were read before this upgrade (the device was already in its bootstrap "
        "loader), so none are restored";
    if (restore_ == Restore::Asked) {
      fail(note + "; the Talkgate runs its new firmware.");
      return false;
    }
    output_.log(note);
  } else {
    const firmware::RestoreOutcome outcome = firmware::restoreSettings(device, *snapshot_);
    if (outcome.failedIndex >= 0) {
      const auto requests = firmware::restoreRequests(*snapshot_);
      fail(requests[static_cast<std::size_t>(outcome.failedIndex)].failureMessage + " (" +
           resultText(outcome.result) +
           ") The Talkgate runs its new firmware, but its previous settings were not all "
           "restored; set them again with 'talkgatectl set', 'talkgatectl table set' or "
           "'talkgatectl config restore', then 'talkgatectl save'.");
      return false;
    }
    settingsRestored_ = true;
    output_.log("Previous settings restored and stored as the defaults");
  }

  DeviceStatus status;
  if (const int r = readStatus(device, status); r != kOk) {
    fail("The Talkgate is back, but its status cannot be read (" + resultText(r) + ").");
    return false;
  }
  firmwareVersion_ = status.firmwareVersion;
  output_.log("The Talkgate runs firmware " + firmwareVersion_);
  return true;
}

void Upgrade::fail(const std::string& message) {
  output_.finish();
  ctx_.failure(message);
}

void Upgrade::printJson(bool ok) {
  JsonWriter json(ctx_.out());
  json.beginObject();
  json.key("ok");
  json.value(ok);
  json.key("firmware_version");
  if (firmwareVersion_.empty()) {
    json.nullValue();
  } else {
    json.value(firmwareVersion_);
  }
  json.key("serial_number_restored");
  json.value(serialRestored_);
  json.key("settings_restored");
  json.value(settingsRestored_);
  json.key("log");
  json.beginArray();
  for (const auto& line : output_.lines()) json.value(line);
  json.endArray();
  json.endObject();
  json.finish();
}

int runUpgrade(Context& ctx) {
  const auto& args = ctx.args();
  if (args.empty()) return ctx.badInput("'upgrade' needs a firmware image: upgrade IMAGE.");
  if (args.size() > 1) {
    return ctx.badInput("'upgrade' takes one firmware image, but got also '" +
                        printableBytes(args[1]) + "'.");
  }
  const bool asked = ctx.flag("--restore-settings");
  const bool declined = ctx.flag("--no-restore-settings");
  if (asked && declined) {
    return ctx.badInput("--restore-settings and --no-restore-settings exclude each other.");
  }
  const Restore restore = asked ? Restore::Asked : declined ? Restore::Declined : Restore::Default;

  // The whole image is checked before the device is touched: a bad one must never cost the
  // Talkgate its working firmware.
  const std::string& image = args[0];
  if (image.size() >= firmware::kPathBufferBytes) {
    return ctx.badInput("The path of the firmware image is too long for the loader (" +
                        std::to_string(image.size()) + " characters, at most " +
                        std::to_string(firmware::kPathBufferBytes - 1) + ").");
  }
  firmware::TiTxtImage parsed;
  firmware::TiTxtError error;
  if (!firmware::readTiTxtFile(image, parsed, error) ||
      !firmware::checkFirmwareImage(parsed, firmware::FlashLayout{}, error)) {
    return ctx.badInput("The firmware image " + printablePath(image) + " cannot be used: " +
                        printablePath(error.text()) + ". Nothing was sent to the device.");
  }
  if (int code = 0; !ctx.loaderImagesAtHand(code)) return code;
  const bool confirmed = ctx.flag("--yes");
  if (!confirmed && (!ctx.console().inputIsTerminal || ctx.console().input == nullptr)) {
    return ctx.badInput(
        "'upgrade' asks for confirmation, but standard input is not a terminal; add --yes.");
  }

  hid::Port& port = ctx.startedPort();
  const auto talkgateInterfaces = talkgateConfigInterfaces(port);
  const std::size_t talkgates = talkgateInterfaces.size();
  const std::size_t loaders = loaderInterfaces(port).size();
  if (talkgates + loaders == 0) return ctx.failure("No Talkgate or bootstrap loader is connected.");
  // The device comes back under a new path or its old one (hidraw numbers are reused). Other
  // Talkgates may stay on the bus while one named with --device, or the one loader, is upgraded
  // (the one that comes back is the one that is not among them); two loaders cannot be told
  // apart.
  const bool oneNamedAmongTalkgates = loaders == 0 && ctx.options().devicePath;
  const bool oneLoaderAmongTalkgates = loaders == 1 && !ctx.options().devicePath;
  if (talkgates + loaders > 1 && !oneNamedAmongTalkgates && !oneLoaderAmongTalkgates) {
    return ctx.failure(
        "Upgrade one device at a time: " + std::to_string(talkgates) + " Talkgate(s) and " +
        std::to_string(loaders) + " bootstrap loader(s) are connected. " +
        (loaders > 1 ? "Waiting loaders cannot be told apart: unplug all but one to finish "
                       "its upgrade ('talkgatectl list' shows them)."
         : loaders > 0 ? "A waiting loader is upgraded without --device, the Talkgates beside it "
                         "staying as they are."
                       : "Name the Talkgate to upgrade with --device, or upgrade each in turn "
                       "with --all ('talkgatectl list' shows them)."));
  }
  const bool recovery = loaders == 1;
  if (recovery && ctx.options().devicePath) {
    return ctx.failure("No Talkgate is connected at " + printableBytes(*ctx.options().devicePath) +
                       "; a bootstrap loader is waiting on the bus instead. Run the upgrade "
                       "without --device to program it.");
  }

  if (!confirmed) {
    if (recovery) ctx.err() << "Careful: " << kLoneLoaderRisk << ". " << kLoneLoaderQuestion;
    if (!recovery) ctx.err() << kQuestion;
    ctx.err() << std::flush;
    std::string answer;
    std::getline(*ctx.console().input, answer);
    if (!isYes(answer)) {
      ctx.err() << "Firmware upgrade cancelled; nothing was sent to the device.\n";
      return kExitBadInput;
    }
  }
  Upgrade upgrade(ctx, image, restore);
  // The Talkgate upgraded: the one named, else the only one, else none (a loader is).
  const std::string upgraded = ctx.options().devicePath.value_or(
      recovery || talkgateInterfaces.empty() ? std::string() : talkgateInterfaces.front().path);
  std::vector<std::string> others;
  for (const auto& info : talkgateInterfaces) {
    if (info.path != upgraded) others.push_back(info.path);
    if (info.path == upgraded) upgrade.setTalkgateLocation(info.location);
  }
  upgrade.setOtherTalkgates(std::move(others));
  return upgrade.run(recovery);
}

}  // namespace

void registerUpgradeCommands(CommandRegistry& registry) {
  registry.add(
      {"upgrade",
       {{"upgrade IMAGE [--yes] [--restore-settings|--no-restore-settings]",
         "Program the firmware image IMAGE (TI-TXT) into the Talkgate. The image is checked "
         "first; then the Talkgate's settings are read, it restarts into its bootstrap loader "
         "(2047:0200), is programmed and verified, and once back gets its serial number and "
         "(unless --no-restore-settings) its previous settings written back. A loader already "
         "on the bus (an interrupted upgrade) is programmed directly, without settings to "
         "restore. Asks for confirmation unless --yes; without a terminal --yes is needed. A loader "
         "this run did not start cannot be told apart from another device's: --yes then "
         "takes it for a Talkgate, which would ruin any other device."}},
       {"--yes", "--restore-settings", "--no-restore-settings"},
       runUpgrade,
       {"talkgatectl upgrade talkgate_fw_1.1.0.txt",
        "talkgatectl --json upgrade talkgate_fw_1.1.0.txt --yes",
        "talkgatectl --simulate upgrade sim/images/talkgate_fw_1.1.0.txt --yes",
        "talkgatectl --all upgrade talkgate_fw_1.1.0.txt --yes   # one Talkgate after the other"},
       "The Talkgate is not back on verified new firmware with its settings: no device, a "
       "refused request, or a failed step of the upgrade; the message says how to recover.",
       true});
}

}  // namespace talkgate::cli
