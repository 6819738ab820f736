#pragma once
// Cuts an image at an address range, so the upgrade can hold back the segment with the reset
// vector until everything else has been written and proven.

#include <cstdint>

#include "firmware/ti_txt.h"

namespace talkgate::firmware {

struct SplitImage {
  TiTxtImage outside;  // the bytes outside [begin, end)
  TiTxtImage inside;   // the bytes inside [begin, end)
};

// Splits image at [begin, end); sections crossing a bound are cut there. Both parts keep the
// image's order and the lines of the sections they came from.
SplitImage splitImage(const TiTxtImage& image, std::uint32_t begin, std::uint32_t end);

}  // namespace talkgate::firmware
