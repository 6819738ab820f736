#include "firmware/block_reader.h"

#include <algorithm>
#include <cstring>

namespace talkgate::firmware {

void TiTxtBlockReader::read(std::size_t maxBytes, DataBlock_& out) {
  out.numberOfBytes = 0;
  out.startAddress = 0;
  if (!more()) return;
  maxBytes = std::clamp<std::size_t>(maxBytes, 1, kDataBlockBytes);
  const TiTxtSection& section = image_->sections[section_];
  const std::size_t count = std::min(maxBytes, section.data.size() - offset_);
  std::memcpy(out.data, section.data.data() + offset_, count);
  out.numberOfBytes = static_cast<std::uint32_t>(count);
  out.startAddress = section.address + static_cast<std::uint32_t>(offset_);
  offset_ += count;
  if (offset_ >= section.data.size()) {
    ++section_;
    offset_ = 0;
  }
}

}  // namespace talkgate::firmware
