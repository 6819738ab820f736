// The firmware version a Talkgate image announces: "TGFW:" then printable ASCII up to a NUL,
// somewhere in main flash.

#include <algorithm>

#include "sim/sim_bsl_device.h"
#include "sim/sim_ti_txt.h"

namespace talkgate::sim {
namespace {

constexpr std::size_t kVersionMarkerMax = 32;

}  // namespace

std::optional<std::string> SimBslDevice::firmwareVersionOf(const BslMemory& memory,
                                                           const BslMemoryMap& layout) {
  static constexpr char kMarker[] = "TGFW:";
  constexpr std::size_t kMarkerLength = sizeof kMarker - 1;
  if (memory.size() < layout.mainEnd) return std::nullopt;
  auto from = memory.begin() + layout.mainStart;
  const auto to = memory.begin() + layout.mainEnd;
  for (;;) {
    from = std::search(from, to, kMarker, kMarker + kMarkerLength);
    if (from == to) return std::nullopt;
    std::string version;
    auto p = from + kMarkerLength;
    while (p != to && *p >= 0x20 && *p < 0x7F && version.size() <= kVersionMarkerMax) {
      version.push_back(static_cast<char>(*p));
      ++p;
    }
    if (p != to && *p == 0 && !version.empty() && version.size() <= kVersionMarkerMax) {
      return version;
    }
    ++from;
  }
}

std::optional<std::string> SimBslDevice::firmwareVersionOfImage(std::string_view tiTxt) {
  std::vector<SimTextRun> runs;
  if (!readSimTiTxt(tiTxt, runs, nullptr)) return std::nullopt;
  BslMemory memory(kAddressSpace, 0xFF);
  for (const auto& run : runs) {
    std::copy(run.bytes.begin(), run.bytes.end(), memory.begin() + run.address);
  }
  return firmwareVersionOf(memory);
}

}  // namespace talkgate::sim
