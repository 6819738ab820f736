#include "firmware/crc_check.h"

#include "firmware/block_reader.h"
#include "firmware/bsl430.h"

namespace talkgate::firmware {
namespace {

bool blockMatches(const DataBlock_& block) {
  return CRC_Check(block.startAddress, block.numberOfBytes, 0) == Calculate_CRC(block);
}

// Erases every segment from the block's start to its last byte. A block that starts inside
// a segment may end in the next one; erasing only the first would leave stale bits there.
// lastErased carries over between blocks so a segment is erased once. False at the first
// erase the loader did not confirm, with its address in failedAt.
bool eraseBlock(const DataBlock_& block, const FlashLayout& layout, bool skipMainFlash,
                std::int64_t& lastErased, std::uint32_t& failedAt) {
  if (block.numberOfBytes == 0) return true;
  const std::uint32_t last = block.startAddress + block.numberOfBytes - 1;
  std::uint32_t address = block.startAddress;
  for (;;) {
    const std::uint32_t segment = layout.segmentStart(address);
    if (static_cast<std::int64_t>(segment) != lastErased) {
      if (!(skipMainFlash && layout.inMain(address)) && BSL_eraseSegment(address) != kBslOk) {
        failedAt = address;
        return false;
      }
      lastErased = segment;
    }
    const std::uint32_t next = segment + layout.segmentBytes(address);
    if (next > last) return true;
    address = next;
  }
}

}  // namespace

std::uint32_t Calculate_CRC(const DataBlock_& data) {
  CRC crc(kCrcInit);
  crc.CrcInit(kCrcInit);
  const std::uint32_t count = data.numberOfBytes < kDataBlockBytes
                                  ? data.numberOfBytes
                                  : static_cast<std::uint32_t>(kDataBlockBytes);
  crc.CrcInput(data.data, count);
  return crc.GetCrcValue();
}

std::uint32_t CRC_Check(std::uint32_t addr, std::uint32_t length, std::uint32_t crcValue) {
  if (BSL_CRC_Check(addr, length) != kBslOk) return kCrcRequestFailed;
  const dataBuffer reply = BSL_get_RX_Buffer();
  const std::uint32_t deviceCrc =
      (static_cast<std::uint32_t>(reply[kDataBufferDataAt + 1]) << 8) | reply[kDataBufferDataAt];
  if (crcValue == 0) return deviceCrc;
  return deviceCrc == crcValue ? 0 : 1;
}

std::uint32_t CRC_Check_File(const std::string& filename) {
  if (BSL_openTI_TextForRead(filename) != kBslOk) return kWalkCannotOpen;
  while (BSL_moreDataToRead_TextFile() != 0) {
    const DataBlock_ block = BSL_readTI_TextFile(static_cast<int>(kVerifyBlockBytes));
    if (!blockMatches(block)) {
      BSL_closeTI_Text();
      return kWalkMismatch;
    }
  }
  BSL_closeTI_Text();
  return kWalkMatched;
}

std::uint32_t CRC_Check_Image(const TiTxtImage& image) {
  TiTxtBlockReader reader(image);
  DataBlock_ block;
  while (reader.more()) {
    reader.read(kVerifyBlockBytes, block);
    if (!blockMatches(block)) return kWalkMismatch;
  }
  return kWalkMatched;
}

std::uint32_t EraseDataSegment_File(const std::string& fileName) {
  if (BSL_openTI_TextForRead(fileName) != kBslOk) return kWalkCannotOpen;
  const FlashLayout layout;
  std::int64_t lastErased = -1;
  std::uint32_t failedAt = 0;
  while (BSL_moreDataToRead_TextFile() != 0) {
    const DataBlock_ block = BSL_readTI_TextFile(static_cast<int>(kEraseBlockBytes));
    eraseBlock(block, layout, false, lastErased, failedAt);  // the verify walk shows a failure
  }
  BSL_closeTI_Text();
  return 0;
}

std::uint32_t EraseDataSegment_Image(const TiTxtImage& image, const FlashLayout& layout,
                                     bool skipMainFlash, std::uint32_t* failedAt) {
  TiTxtBlockReader reader(image);
  DataBlock_ block;
  std::int64_t lastErased = -1;
  std::uint32_t failed = 0;
  while (reader.more()) {
    reader.read(kEraseBlockBytes, block);
    if (!eraseBlock(block, layout, skipMainFlash, lastErased, failed)) {
      if (failedAt) *failedAt = failed;
      return kWalkMismatch;
    }
  }
  return 0;
}

}  // namespace talkgate::firmware
