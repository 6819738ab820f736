#pragma once
// Walks a parsed image as a series of blocks of consecutive bytes, the way the loader
// library's file reader hands them out.

#include <cstddef>

#include "firmware/data_block.h"
#include "firmware/ti_txt.h"

namespace talkgate::firmware {

class TiTxtBlockReader {
 public:
  // The image must outlive the reader.
  explicit TiTxtBlockReader(const TiTxtImage& image) : image_(&image) {}
  // True while blocks remain.
  bool more() const { return section_ < image_->sections.size(); }
  // Fills out with the next block: at most maxBytes (clamped to 1..10240) consecutive bytes
  // of one section. With no block left, out holds 0 bytes at address 0.
  void read(std::size_t maxBytes, DataBlock_& out);

 private:
  const TiTxtImage* image_;
  std::size_t section_ = 0;
  std::size_t offset_ = 0;
};

}  // namespace talkgate::firmware
