#include "cli/fleet.h"

#include <algorithm>
#include <optional>
#include <sstream>
#include <string_view>

#include "cli/bus.h"
#include "cli/json.h"
#include "cli/text.h"

namespace talkgate::cli {

namespace {

constexpr char kNoTalkgate[] = "No Talkgate is connected, so no command was run.";

constexpr char kInLoader[] =
    "a Talkgate waits here in its bootstrap loader, as after an interrupted upgrade: run "
    "'talkgatectl upgrade IMAGE' (without --all) to finish its upgrade.";
constexpr char kNotRun[] = "not upgraded: the fleet upgrade stopped at the failure above.";

// One device's line of the result. A device the command did not run on (a waiting loader, a
// Talkgate after a failed upgrade) has no exit status; err says why.
struct DeviceRun {
  hid::DeviceInfo device;
  std::optional<int> status = kExitOk;
  std::string out = {};
  std::string err = {};
  bool ok() const { return status == kExitOk; }
};

struct OnTheBus {
  std::vector<hid::DeviceInfo> talkgates;
  std::vector<hid::DeviceInfo> loaders;
};

OnTheBus devicesOnTheBus(const Invocation& invocation, hid::Port& port, std::ostream& out,
                         std::ostream& err) {
  Context lister(invocation, out, err, port);
  OnTheBus found{talkgateConfigInterfaces(lister.startedPort()),
                 loaderInterfaces(lister.startedPort())};
  lister.closeDevice();
  return found;
}

// The lines of text, without empty ones.
std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty()) lines.push_back(line);
  }
  return lines;
}

// "sim:2 TG260001: <answer>"; a longer answer follows on lines of its own, indented.
void printResultLine(std::ostream& out, const DeviceRun& run) {
  out << printablePath(run.device.path) << ' '
      << (run.device.serialNumber.empty() ? std::string("-")
                                          : deviceText(run.device.serialNumber))
      << ": ";
  const bool ok = run.ok();
  const std::vector<std::string> lines = linesOf(ok ? run.out : run.err);
  if (!ok) out << (run.status ? "failed: " : "");
  if (lines.size() == 1) {
    out << lines.front() << '\n';
    return;
  }
  out << (ok ? "ok" : "see below") << '\n';
  for (const auto& line : lines) out << "  " << line << '\n';
}

// The command's result document: an upgrade writes one-line progress objects before it, which
// are left out here. The result is the last document that opens on a line of its own.
std::string_view resultDocument(std::string_view text) {
  std::size_t start = 0;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = std::min(text.find('\n', at), text.size());
    const std::string_view line = text.substr(at, end - at);
    if (line == "{" || line == "[" || line == "{}" || line == "[]") start = at;
    at = end + 1;
  }
  return text.substr(start);
}

void printJson(std::ostream& out, const std::vector<DeviceRun>& runs) {
  JsonWriter json(out);
  json.beginArray();
  for (const auto& run : runs) {
    json.beginObject();
    json.key("path");
    json.value(run.device.path);
    json.key("serial_number");
    json.value(std::wstring_view(run.device.serialNumber));
    json.key("ok");
    json.value(run.ok());
    json.key("exit_status");
    if (run.status) {
      json.value(*run.status);
    } else {
      json.nullValue();
    }
    json.key("result");
    if (run.out.empty()) {
      json.nullValue();
    } else {
      json.document(resultDocument(run.out));
    }
    json.key("error");
    if (run.err.empty()) {
      json.nullValue();
    } else {
      json.value(run.err);
    }
    json.endObject();
  }
  json.endArray();
  json.finish();
}

}  // namespace

int runOnEveryTalkgate(const Invocation& invocation, const CommandSpec& command, hid::Port& port,
                       std::ostream& out, std::ostream& err, const ContextSetup& setup,
                       bool& deviceTouched) {
  const bool json = invocation.options.json;
  const bool upgrade = command.name == "upgrade";
  const auto [talkgates, loaders] = devicesOnTheBus(invocation, port, out, err);
  if (talkgates.empty() && loaders.empty()) {
    if (json) out << "[]\n";
    err << kNoTalkgate << '\n';
    return kExitFailure;
  }

  // A waiting loader is a Talkgate the command cannot reach; it is reported, not skipped. An
  // upgrade waits until it is finished: a fleet run upgrades no further Talkgate before.
  std::vector<DeviceRun> runs;
  for (const auto& loader : loaders) {
    runs.push_back(DeviceRun{loader, std::nullopt, "", kInLoader});
    if (!json) printResultLine(out, runs.back());
  }
  bool stopped = upgrade && !loaders.empty();
  for (const auto& talkgate : talkgates) {
    if (stopped) {
      runs.push_back(DeviceRun{talkgate, std::nullopt, "", kNotRun});
      if (!json) printResultLine(out, runs.back());
      continue;
    }
    Invocation one = invocation;
    one.options.all = false;
    one.options.devicePath = talkgate.path;
    std::ostringstream deviceOut;
    std::ostringstream deviceErr;
    DeviceRun run{talkgate};
    {
      Context context(one, deviceOut, deviceErr, port);
      setup(context);
      // The answers are collected, not drawn: no progress bars between the result lines.
      Console console = context.console();
      console.outputIsTerminal = false;
      context.setConsole(console);
      run.status = command.run(context);
      deviceTouched = deviceTouched || context.deviceTouched();
      context.closeDevice();
    }
    run.out = deviceOut.str();
    run.err = deviceErr.str();
    // Arguments are checked before a device is opened: refused once, refused for all.
    if (run.status == kExitBadInput && runs.empty()) {
      err << run.err;
      return kExitBadInput;
    }
    // The next upgrade would leave a second device to recover: the fleet stops at the first.
    stopped = upgrade && !run.ok();
    if (!json) printResultLine(out, run);
    runs.push_back(std::move(run));
  }

  std::size_t failed = 0;
  std::size_t notRun = 0;
  for (const auto& run : runs) {
    failed += run.status && !run.ok() ? 1 : 0;
    notRun += run.status ? 0 : 1;
  }
  if (json) {
    printJson(out, runs);
  } else {
    out << runs.size() << (runs.size() == 1 ? " Talkgate: " : " Talkgates: ")
        << runs.size() - failed - notRun << " succeeded, " << failed << " failed"
        << (notRun > 0 ? ", " + std::to_string(notRun) + " not reached" : std::string()) << ".\n";
  }
  return failed + notRun == 0 ? kExitOk : kExitFailure;
}

}  // namespace talkgate::cli
