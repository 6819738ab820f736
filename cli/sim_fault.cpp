#include "cli/sim_fault.h"

#include <array>
#include <utility>

#include "cli/text.h"

namespace talkgate::cli {

namespace {

constexpr int kMaxReport = 1000000;

constexpr std::array<std::pair<std::string_view, sim::LoaderFault>, 7> kKinds{{
    {"unplug", sim::LoaderFault::Unplug},
    {"refuse-password", sim::LoaderFault::RefusePassword},
    {"corrupt-byte", sim::LoaderFault::CorruptByte},
    {"stop-answering", sim::LoaderFault::StopAnswering},
    {"erase-fails", sim::LoaderFault::EraseFails},
    {"second-loader", sim::LoaderFault::SecondLoader},
    {"other-port", sim::LoaderFault::OtherPort},
}};

}  // namespace

std::string simFaultKinds() {
  std::string text;
  for (const auto& [name, kind] : kKinds) text += (text.empty() ? "" : ", ") + std::string(name);
  return text;
}

bool parseSimFault(std::string_view text, SimFault& out, std::string& error) {
  const std::size_t at = text.find('@');
  const std::string_view name = text.substr(0, at);
  SimFault fault;
  bool known = false;
  for (const auto& [kindName, kind] : kKinds) {
    if (name == kindName) {
      fault.kind = kind;
      known = true;
    }
  }
  if (!known) {
    error =
        "Unknown --sim-fault kind '" + printableBytes(name) + "' (known: " + simFaultKinds() + ")";
    return false;
  }
  if (at != std::string_view::npos) {
    const std::string_view number = text.substr(at + 1);
    long value = 0;
    bool digits = !number.empty() && number.size() <= 7;
    for (char c : number) {
      digits = digits && c >= '0' && c <= '9';
      if (digits) value = value * 10 + (c - '0');
    }
    if (!digits || value < 1 || value > kMaxReport) {
      error = "--sim-fault needs a report number from 1 to " + std::to_string(kMaxReport) +
              " after '@', but got '" + printableBytes(number) + "'";
      return false;
    }
    fault.report = static_cast<int>(value);
  }
  out = fault;
  return true;
}

}  // namespace talkgate::cli
