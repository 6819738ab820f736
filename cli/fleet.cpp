#include "cli/fleet.h"

#include <algorithm>
#include <sstream>
#include <string_view>

#include "cli/bus.h"
#include "cli/json.h"
#include "cli/text.h"

namespace talkgate::cli {

namespace {

constexpr char kNoTalkgate[] = "No Talkgate is connected, so no command was run.";

struct DeviceRun {
  hid::DeviceInfo device;
  int status = kExitOk;
  std::string out = {};
  std::string err = {};
};

std::vector<hid::DeviceInfo> talkgatesOnTheBus(const Invocation& invocation, hid::Port& port,
                                               std::ostream& out, std::ostream& err) {
  Context lister(invocation, out, err, port);
  std::vector<hid::DeviceInfo> talkgates = talkgateConfigInterfaces(lister.startedPort());
  lister.closeDevice();
  return talkgates;
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
  out << printableBytes(run.device.path) << ' '
      << (run.device.serialNumber.empty() ? std::string("-")
                                          : printableWide(run.device.serialNumber))
      << ": ";
  const bool ok = run.status == kExitOk;
  const std::vector<std::string> lines = linesOf(ok ? run.out : run.err);
  if (!ok) out << "failed: ";
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
    json.value(run.status == kExitOk);
    json.key("exit_status");
    json.value(run.status);
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
  const std::vector<hid::DeviceInfo> talkgates = talkgatesOnTheBus(invocation, port, out, err);
  if (talkgates.empty()) {
    if (json) out << "[]\n";
    err << kNoTalkgate << '\n';
    return kExitFailure;
  }

  std::vector<DeviceRun> runs;
  for (const auto& talkgate : talkgates) {
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
    if (!json) printResultLine(out, run);
    runs.push_back(std::move(run));
  }

  std::size_t failed = 0;
  for (const auto& run : runs) failed += run.status == kExitOk ? 0 : 1;
  if (json) {
    printJson(out, runs);
  } else {
    out << runs.size() << (runs.size() == 1 ? " Talkgate: " : " Talkgates: ")
        << runs.size() - failed << " succeeded, " << failed << " failed.\n";
  }
  return failed == 0 ? kExitOk : kExitFailure;
}

}  // namespace talkgate::cli
