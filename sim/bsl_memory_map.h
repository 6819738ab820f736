#pragma once
// Memory map of the simulated MSP430F5xx USB part, from the device data sheets' memory
// tables and the family guide's flash chapter: 512-byte main segments, four 128-byte
// information segments D..A with A lockable, the loader's own flash, and RAM.

#include <cstdint>

namespace talkgate::sim {

inline constexpr std::uint32_t kSimMainSegmentBytes = 512;
inline constexpr std::uint32_t kSimInfoSegmentBytes = 128;
inline constexpr std::uint32_t kSimPasswordAt = 0xFFE0;  // the vector table is the password
inline constexpr std::uint32_t kSimPasswordBytes = 32;
inline constexpr std::uint32_t kSimResetVectorAt = 0xFFFE;
// The device descriptor (TLV) area: the device ID stands at 0x1A04 (high byte) and 0x1A05.
inline constexpr std::uint32_t kSimDeviceIdAt = 0x1A04;

// Half-open ranges [start, end). The default is a 128 KiB part (F5529 class): main flash
// 0x4400 to 0x243FF, so addresses above 0xFFFF are flash too.
struct BslMemoryMap {
  std::uint32_t mainStart = 0x4400;
  std::uint32_t mainEnd = 0x24400;
  std::uint32_t infoStart = 0x1800;
  std::uint32_t infoEnd = 0x1A00;
  std::uint32_t infoAStart = 0x1980;  // segment A, locked at power-up
  std::uint32_t infoAEnd = 0x1A00;
  std::uint32_t ramStart = 0x2400;
  std::uint32_t ramEnd = 0x4400;
  std::uint16_t deviceId = 0x5529;

  bool inMain(std::uint32_t a) const { return a >= mainStart && a < mainEnd; }
  bool inInfo(std::uint32_t a) const { return a >= infoStart && a < infoEnd; }
  bool inInfoA(std::uint32_t a) const { return a >= infoAStart && a < infoAEnd; }
  bool inFlash(std::uint32_t a) const { return inMain(a) || inInfo(a); }
  bool inRam(std::uint32_t a) const { return a >= ramStart && a < ramEnd; }
  // True when [a, end) lies wholly in main flash or wholly in information memory.
  bool flashRun(std::uint32_t a, std::uint32_t end) const {
    return (inMain(a) && end <= mainEnd) || (inInfo(a) && end <= infoEnd);
  }
  std::uint32_t segmentBytes(std::uint32_t a) const {
    return inInfo(a) ? kSimInfoSegmentBytes : kSimMainSegmentBytes;
  }
  std::uint32_t segmentStart(std::uint32_t a) const { return a - a % segmentBytes(a); }
};

// Parts a test may put on the bus, from their data sheets' memory maps (SLAS590 F552x, SLAS645
// F550x): the F5529 above, and two small F550x parts whose main flash ends at 0xFFFF.
inline BslMemoryMap simPartF5510() {
  BslMemoryMap m;
  m.mainStart = 0x8000;
  m.mainEnd = 0x10000;
  m.ramEnd = 0x3400;
  m.deviceId = 0x5510;
  return m;
}
inline BslMemoryMap simPartF5508() {
  BslMemoryMap m = simPartF5510();
  m.mainStart = 0xC000;
  m.deviceId = 0x5508;
  return m;
}

}  // namespace talkgate::sim
