#include "firmware/image_check.h"

#include <algorithm>
#include <cstdio>

namespace talkgate::firmware {
namespace {

std::string hexAddress(std::uint32_t address) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%05X", address);
  return buf;
}

bool fail(TiTxtError& error, int line, std::string reason) {
  error.line = line;
  error.reason = std::move(reason);
  return false;
}

// First address of [start, end) that is not flash, or end when all of it is.
std::uint32_t firstOutsideFlash(std::uint32_t start, std::uint32_t end, const FlashLayout& layout) {
  if (!layout.inFlash(start)) return start;
  const std::uint32_t regionEnd = layout.inInfo(start) ? layout.infoEnd : layout.mainEnd;
  return std::min(end, regionEnd);
}

}  // namespace

bool checkFirmwareImage(const TiTxtImage& image, const FlashLayout& layout, TiTxtError& error) {
  error = TiTxtError{};
  if (image.byteCount() == 0) return fail(error, 0, "the image holds no data");
  for (const auto& section : image.sections) {
    // The padding byte in front of an odd run is not named: the image's own first byte is.
    const std::uint32_t start = section.firstImageByte();
    const std::uint32_t end = section.end();
    if (start < kLoaderAreaEnd && end > kLoaderAreaStart) {
      return fail(error, section.line,
                  "byte at " + hexAddress(std::max(start, kLoaderAreaStart)) +
                      " lies in the loader's own area 0x1000-0x17FF");
    }
    if (start < kInfoSegmentAEnd && end > kInfoSegmentAStart) {
      return fail(error, section.line,
                  "byte at " + hexAddress(std::max(start, kInfoSegmentAStart)) +
                      " lies in information segment A 0x1980-0x19FF, which the loader keeps "
                      "locked");
    }
    const std::uint32_t outside = firstOutsideFlash(start, end, layout);
    if (outside < end) {
      return fail(error, section.line,
                  "byte at " + hexAddress(outside) + " lies outside the part's flash");
    }
  }
  std::uint8_t low = 0;
  std::uint8_t high = 0;
  if (!image.contains(kResetVectorAddress, &low) ||
      !image.contains(kResetVectorAddress + 1, &high)) {
    return fail(error, 0, "no reset vector at 0xFFFE");
  }
  if (low == 0xFF && high == 0xFF) return fail(error, 0, "the reset vector at 0xFFFE is erased");
  // The part jumps there at every start: anywhere but code this image puts into main flash
  // (erased flash, RAM, peripherals, the loader) starts something that is not this firmware,
  // and the loader never runs again because the vector is not blank.
  const std::uint32_t target = static_cast<std::uint32_t>(low) | (std::uint32_t{high} << 8);
  if (!layout.inMain(target) || !image.contains(target) || !image.contains(target + 1)) {
    return fail(error, 0,
                "the reset vector at 0xFFFE points to " + hexAddress(target) +
                    ", which is not in main flash that this image programs");
  }
  return true;
}

}  // namespace talkgate::firmware
