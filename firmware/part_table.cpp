#include "firmware/part_table.h"

#include <algorithm>
#include <array>

namespace talkgate::firmware {
namespace {

constexpr FlashLayout smallPart(std::uint32_t mainStart) {
  FlashLayout l;
  l.mainStart = mainStart;
  l.mainEnd = 0x10000;
  l.ramEnd = 0x3400;  // 4 KiB
  return l;
}

// F5529: 128 KiB flash 0x4400-0x243FF, 8 KiB RAM 0x2400-0x43FF (the default FlashLayout).
// F5510: 32 KiB flash 0x8000-0xFFFF; F5508: 16 KiB flash 0xC000-0xFFFF; both 4 KiB RAM.
constexpr std::array<PartInfo, 3> kParts{{
    {0x5529, "MSP430F5529", FlashLayout{}},
    {0x5510, "MSP430F5510", smallPart(0x8000)},
    {0x5508, "MSP430F5508", smallPart(0xC000)},
}};

}  // namespace

std::span<const PartInfo> knownParts() {
  return kParts;
}

const PartInfo* partWithId(std::uint16_t deviceId) {
  const auto it = std::find_if(kParts.begin(), kParts.end(),
                               [deviceId](const PartInfo& p) { return p.deviceId == deviceId; });
  return it == kParts.end() ? nullptr : &*it;
}

FlashLayout commonRamLayout() {
  FlashLayout common;
  for (const PartInfo& p : kParts) {
    common.ramStart = std::max(common.ramStart, p.layout.ramStart);
    common.ramEnd = std::min(common.ramEnd, p.layout.ramEnd);
  }
  return common;
}

}  // namespace talkgate::firmware
