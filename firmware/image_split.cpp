#include "firmware/image_split.h"

#include <algorithm>

namespace talkgate::firmware {
namespace {

// Appends the bytes of section within [from, to), if any.
void appendPart(const TiTxtSection& section, std::uint32_t from, std::uint32_t to,
                TiTxtImage& out) {
  from = std::max(from, section.address);
  to = std::min(to, section.end());
  if (from >= to) return;
  TiTxtSection part;
  part.address = from;
  part.line = section.line;
  const auto first = section.data.begin() + (from - section.address);
  part.data.assign(first, first + (to - from));
  out.sections.push_back(std::move(part));
}

}  // namespace

SplitImage splitImage(const TiTxtImage& image, std::uint32_t begin, std::uint32_t end) {
  SplitImage split;
  for (const auto& section : image.sections) {
    appendPart(section, 0, begin, split.outside);
    appendPart(section, begin, end, split.inside);
    appendPart(section, end, kMaxImageAddress + 1, split.outside);
  }
  return split;
}

}  // namespace talkgate::firmware
