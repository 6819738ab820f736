#pragma once
// CRC-16/CCITT-FALSE (polynomial 0x1021, initial 0xFFFF, no reflection, no final XOR): the
// checksum the MSP430 bootstrap loader computes for its CRC Check command.

#include <cstddef>
#include <cstdint>

namespace talkgate::firmware {

inline constexpr std::uint16_t kCrcInit = 0xFFFF;

// Byte-at-a-time accumulator without a lookup table.
class CRC {
 public:
  explicit CRC(std::uint16_t init = kCrcInit) : crc(init) {}
  // Restarts the accumulator at init.
  void CrcInit(std::uint16_t init) { crc = init; }
  // Feeds one byte.
  void CrcInput(std::uint8_t data) {
    std::uint32_t x = ((crc >> 8) ^ data) & 0xFFu;
    x ^= x >> 4;
    crc = static_cast<std::uint16_t>((crc << 8) ^ (x << 12) ^ (x << 5) ^ x);
  }
  // Feeds a run of bytes in order.
  void CrcInput(const std::uint8_t* data, std::size_t length) {
    for (std::size_t i = 0; i < length; ++i) CrcInput(data[i]);
  }
  // The checksum of everything fed so far.
  std::uint16_t GetCrcValue() const { return crc; }

  std::uint16_t crc;
};

// The checksum of one run of bytes, starting from kCrcInit.
inline std::uint16_t crc16(const std::uint8_t* data, std::size_t length) {
  CRC acc(kCrcInit);
  acc.CrcInput(data, length);
  return acc.GetCrcValue();
}

}  // namespace talkgate::firmware
