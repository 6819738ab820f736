#pragma once
// Proving and preparing flash block by block: the host CRC of a block, the device's CRC of
// the same range, the verify walk and the erase walk over an image.

#include <cstddef>
#include <cstdint>
#include <string>

#include "firmware/crc.h"
#include "firmware/data_block.h"
#include "firmware/flash_layout.h"
#include "firmware/ti_txt.h"

namespace talkgate::firmware {

inline constexpr std::size_t kVerifyBlockBytes = 5000;
inline constexpr std::size_t kEraseBlockBytes = 512;
inline constexpr std::uint32_t kCrcRequestFailed = 0xFFFFFFFF;
inline constexpr std::uint32_t kWalkMatched = 0;
inline constexpr std::uint32_t kWalkMismatch = 1;
inline constexpr std::uint32_t kWalkCannotOpen = static_cast<std::uint32_t>(-2);

// The host CRC of a block's valid bytes (upper 16 bits zero).
std::uint32_t Calculate_CRC(const DataBlock_& data);

// With crcValue 0: the device's CRC of length bytes from addr, or kCrcRequestFailed.
// Otherwise: 0 when the device's CRC equals crcValue, 1 when not, kCrcRequestFailed.
std::uint32_t CRC_Check(std::uint32_t addr, std::uint32_t length, std::uint32_t crcValue);

// Verify walk over a file: kWalkMatched, kWalkMismatch at the first differing block, or
// kWalkCannotOpen when the file cannot be read or is malformed.
std::uint32_t CRC_Check_File(const std::string& filename);
// Verify walk over an image already read.
std::uint32_t CRC_Check_Image(const TiTxtImage& image);

// Erase walk over a file: erases every flash segment its blocks touch. 0, or kWalkCannotOpen.
std::uint32_t EraseDataSegment_File(const std::string& fileName);
// Erase walk over an image already read. With skipMainFlash only segments outside main
// flash are erased (after a mass erase, which leaves information memory as it was). 0, or
// kWalkMismatch at the first erase the loader did not confirm (its address in *failedAt):
// the walk stops there.
std::uint32_t EraseDataSegment_Image(const TiTxtImage& image, const FlashLayout& layout = {},
                                     bool skipMainFlash = false,
                                     std::uint32_t* failedAt = nullptr);

}  // namespace talkgate::firmware
