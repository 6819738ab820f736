// The CRC accumulator and the host CRC of a block.

#include <gtest/gtest.h>

#include <cstring>
#include <string_view>
#include <vector>

#include "firmware/crc.h"
#include "firmware/crc_check.h"

namespace talkgate::firmware {
namespace {

std::uint16_t crcOf(std::string_view text) {
  return crc16(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

std::uint16_t crcOf(const std::vector<std::uint8_t>& bytes) {
  CRC crc(0x1234);  // CrcInit must override the constructor's value
  crc.CrcInit(kCrcInit);
  for (std::uint8_t b : bytes) crc.CrcInput(b);
  return crc.GetCrcValue();
}

TEST(Crc, StandardCheckValues) {
  EXPECT_EQ(crcOf("123456789"), 0x29B1);
  EXPECT_EQ(crcOf("abc"), 0x514A);
  EXPECT_EQ(crcOf(""), 0xFFFF);
  EXPECT_EQ(CRC().GetCrcValue(), 0xFFFF);
}

TEST(Crc, MatchesTheLoaderPacketChecksumsOfItsDocumentation) {
  EXPECT_EQ(crcOf(std::vector<std::uint8_t>{0x52, 0x02}), 0x5590);
  EXPECT_EQ(crcOf(std::vector<std::uint8_t>{0x1A}), 0x528B);
  EXPECT_EQ(crcOf(std::vector<std::uint8_t>{0x19}), 0x62E8);
  EXPECT_EQ(crcOf(std::vector<std::uint8_t>{0x3A, 0x04, 0x01}), 0x121D);
  EXPECT_EQ(crcOf(std::vector<std::uint8_t>{0x3A, 0x00, 0x01, 0x01, 0x01}), 0x4F6C);
  EXPECT_EQ(crcOf(std::vector<std::uint8_t>{0x3B, 0x00}), 0xC460);
}

// A straightforward bit-by-bit CRC-16/CCITT-FALSE to hold the byte-wise shortcut against.
std::uint16_t bitwiseCrc(const std::vector<std::uint8_t>& bytes) {
  std::uint16_t crc = 0xFFFF;
  for (std::uint8_t b : bytes) {
    crc ^= static_cast<std::uint16_t>(b << 8);
    for (int i = 0; i < 8; ++i) {
      crc = (crc & 0x8000) ? static_cast<std::uint16_t>((crc << 1) ^ 0x1021)
                           : static_cast<std::uint16_t>(crc << 1);
    }
  }
  return crc;
}

TEST(Crc, AgreesWithTheBitwiseDefinitionOnEveryByteValue) {
  std::vector<std::uint8_t> bytes;
  for (int i = 0; i < 256; ++i) bytes.push_back(static_cast<std::uint8_t>(i));
  for (int i = 0; i < 256; ++i) bytes.push_back(static_cast<std::uint8_t>(255 - i));
  for (std::size_t n : {1u, 2u, 17u, 256u, 512u}) {
    std::vector<std::uint8_t> part(bytes.begin(), bytes.begin() + static_cast<long>(n));
    EXPECT_EQ(crcOf(part), bitwiseCrc(part)) << n << " bytes";
  }
}

TEST(CalculateCrc, CoversExactlyTheValidBytesOfTheBlock) {
  DataBlock_ block;
  std::memset(block.data, 0xEE, sizeof block.data);  // bytes past the count must not count
  std::memcpy(block.data, "123456789", 9);
  block.numberOfBytes = 9;
  block.startAddress = 0x4400;
  EXPECT_EQ(Calculate_CRC(block), 0x29B1u);
  block.numberOfBytes = 0;
  EXPECT_EQ(Calculate_CRC(block), 0xFFFFu);
  block.numberOfBytes = 3;
  std::memcpy(block.data, "abc", 3);
  EXPECT_EQ(Calculate_CRC(block), 0x514Au);
}

}  // namespace
}  // namespace talkgate::firmware
