#pragma once
// Memory map of the MSP430F5xx USB part the Talkgate is built round, and the flash segment
// arithmetic the erase and the image check rely on.

#include <cstdint>

namespace talkgate::firmware {

inline constexpr std::uint32_t kMainSegmentBytes = 512;
inline constexpr std::uint32_t kInfoSegmentBytes = 128;
inline constexpr std::uint32_t kLoaderAreaStart = 0x1000;  // the ROM loader's own flash
inline constexpr std::uint32_t kLoaderAreaEnd = 0x1800;    // one past its last byte
inline constexpr std::uint32_t kPasswordAddress = 0xFFE0;  // vector table = loader password
inline constexpr std::uint32_t kPasswordBytes = 32;
inline constexpr std::uint32_t kResetVectorAddress = 0xFFFE;
// The main segment holding the vector table and the reset vector. It is programmed last, so
// until the whole image is proven the reset vector stays erased and the part starts its loader.
inline constexpr std::uint32_t kResetVectorSegmentStart = 0xFE00;
inline constexpr std::uint32_t kResetVectorSegmentEnd = 0x10000;  // one past its last byte
// Information segment A: locked on these parts; the loader neither erases nor writes it.
inline constexpr std::uint32_t kInfoSegmentAStart = 0x1980;
inline constexpr std::uint32_t kInfoSegmentAEnd = 0x1A00;  // one past its last byte

// Half-open address ranges [start, end) of one part. The default is a 128 KiB part
// (F5529 class): main flash 0x4400 to 0x243FF, so addresses above 0xFFFF are flash too.
struct FlashLayout {
  std::uint32_t mainStart = 0x4400;
  std::uint32_t mainEnd = 0x24400;
  std::uint32_t infoStart = 0x1800;
  std::uint32_t infoEnd = 0x1A00;
  std::uint32_t ramStart = 0x2400;
  std::uint32_t ramEnd = 0x4400;

  bool inMain(std::uint32_t a) const { return a >= mainStart && a < mainEnd; }
  bool inInfo(std::uint32_t a) const { return a >= infoStart && a < infoEnd; }
  bool inFlash(std::uint32_t a) const { return inMain(a) || inInfo(a); }
  bool inRam(std::uint32_t a) const { return a >= ramStart && a < ramEnd; }
  // Size of the erase segment holding a flash address.
  std::uint32_t segmentBytes(std::uint32_t a) const {
    return inInfo(a) ? kInfoSegmentBytes : kMainSegmentBytes;
  }
  // First address of the erase segment holding a.
  std::uint32_t segmentStart(std::uint32_t a) const { return a & ~(segmentBytes(a) - 1); }
};

}  // namespace talkgate::firmware
