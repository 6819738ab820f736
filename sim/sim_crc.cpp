#include "sim/sim_crc.h"

#include <array>

namespace talkgate::sim {
namespace {

constexpr std::uint16_t kPolynomial = 0x1021;
constexpr std::uint16_t kStart = 0xFFFF;

// Entry i is the register after shifting the byte i through it from zero, MSB first.
constexpr std::array<std::uint16_t, 256> makeTable() {
  std::array<std::uint16_t, 256> table{};
  for (unsigned i = 0; i < 256; ++i) {
    std::uint16_t r = static_cast<std::uint16_t>(i << 8);
    for (int bit = 0; bit < 8; ++bit) {
      r = static_cast<std::uint16_t>((r & 0x8000) ? (r << 1) ^ kPolynomial : r << 1);
    }
    table[i] = r;
  }
  return table;
}

constexpr auto kTable = makeTable();

}  // namespace

std::uint16_t simCrc16(const std::uint8_t* data, std::size_t length) {
  std::uint16_t crc = kStart;
  for (std::size_t i = 0; i < length; ++i) {
    crc = static_cast<std::uint16_t>((crc << 8) ^ kTable[((crc >> 8) ^ data[i]) & 0xFF]);
  }
  return crc;
}

}  // namespace talkgate::sim
