#pragma once
// The part's CRC module as the loader's CRC Check uses it: CRC-16/CCITT-FALSE (polynomial
// 0x1021, start 0xFFFF, no reflection, no final XOR), here table-driven so it shares no
// code or shape with the host's bitwise routine.

#include <cstddef>
#include <cstdint>

namespace talkgate::sim {

std::uint16_t simCrc16(const std::uint8_t* data, std::size_t length);

}  // namespace talkgate::sim
