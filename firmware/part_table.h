#pragma once
// The MSP430 USB parts this program knows how to upgrade, by the device ID their device
// descriptor holds, each with its memory map from its data sheet (SLAS590 for the F552x,
// SLAS645 for the F550x). A part not listed here is never programmed.

#include <cstdint>
#include <span>

#include "firmware/flash_layout.h"

namespace talkgate::firmware {

// The device ID in the device descriptor (TLV) area: high byte at 0x1A04, low byte at 0x1A05.
inline constexpr std::uint32_t kDeviceIdAddress = 0x1A04;
inline constexpr std::uint32_t kDeviceIdBytes = 2;

struct PartInfo {
  std::uint16_t deviceId;
  const char* name;
  FlashLayout layout;
};

std::span<const PartInfo> knownParts();
// The part with this device ID; nullptr when it is not one of ours.
const PartInfo* partWithId(std::uint16_t deviceId);
// The RAM every known part has (what the RAM loader must fit before the part is known).
FlashLayout commonRamLayout();

}  // namespace talkgate::firmware
