#pragma once
// The loader library's records: a block of image bytes and the buffer of the last reply.

#include <cstddef>
#include <cstdint>

namespace talkgate::firmware {

inline constexpr std::size_t kDataBlockBytes = 10240;
inline constexpr std::size_t kDataBufferBytes = 260;

// Consecutive image bytes starting at startAddress; numberOfBytes of data are valid.
struct DataBlock_ {
  std::uint8_t data[kDataBlockBytes];
  std::uint32_t numberOfBytes;
  std::uint32_t startAddress;
};
static_assert(sizeof(DataBlock_) == 10248, "layout of the block record is fixed");

// The last loader reply: bytes 0-3 the core length (little-endian), byte 4 the reply code,
// bytes 5 on the reply data. After a CRC Check bytes 5 and 6 hold the CRC, low byte first.
struct dataBuffer {
  std::uint8_t bytes[kDataBufferBytes];
  std::uint8_t operator[](std::size_t i) const { return bytes[i]; }
};
inline constexpr std::size_t kDataBufferCodeAt = 4;
inline constexpr std::size_t kDataBufferDataAt = 5;

}  // namespace talkgate::firmware
