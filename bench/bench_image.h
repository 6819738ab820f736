#pragma once
// Firmware images the benchmark programs: laid out like a linker's output (code from the start
// of main flash, constants after a gap, a block above 0xFFFF, calibration data in information
// memory and the vector table), filled with reproducible bytes, carrying the "TGFW:" marker the
// simulated Talkgate reports as its version and the product's loader password as vectors.

#include <cstddef>
#include <cstdint>
#include <string>

#include "firmware/flash_layout.h"
#include "firmware/ti_txt.h"

namespace talkgate::bench {

struct BenchImage {
  firmware::TiTxtImage image;
  std::string text;     // the image as TI-TXT
  std::string version;  // what the Talkgate reports after running it
};

// Builds an image of exactly totalBytes data bytes; false with the reason in *why when that
// many bytes do not fit the part's flash this way (or are too few for the layout).
bool makeBenchImage(std::size_t totalBytes, std::uint32_t seed, const std::string& version,
                    BenchImage& out, std::string* why = nullptr,
                    const firmware::FlashLayout& layout = {});

// The fewest RX Data Block reports that can carry the image at blockBytes data bytes each:
// the sum over its sections of their length divided by blockBytes, rounded up.
std::size_t fewestReports(const firmware::TiTxtImage& image, std::size_t blockBytes);

}  // namespace talkgate::bench
