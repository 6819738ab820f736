#include "bench/bench_image.h"

#include <algorithm>

#include "firmware/firmware_resources.h"
#include "firmware/image_check.h"

namespace talkgate::bench {
namespace {

constexpr std::uint32_t kInfoDataAt = 0x1880;  // calibration constants, one info segment
constexpr std::size_t kInfoDataBytes = 64;
constexpr std::uint32_t kVectorsAt = 0xFF80;
constexpr std::size_t kVectorBytes = 0x10000 - kVectorsAt;
constexpr std::uint32_t kConstGapBytes = 0x222;  // constants start mid-segment after a gap
constexpr std::uint32_t kHighAt = 0x10400;       // not touching the vectors: its own section
constexpr std::size_t kMarkerOffset = 0x40;
constexpr std::size_t kMinLowBytes = 512;
constexpr unsigned kLowSharePercent = 55;  // of the bytes beyond info data and vectors

bool fail(std::string* why, std::string reason) {
  if (why) *why = std::move(reason);
  return false;
}

// Reproducible bytes, never a long run of 0xFF.
std::vector<std::uint8_t> filler(std::uint32_t& state, std::size_t count) {
  std::vector<std::uint8_t> bytes(count);
  for (auto& b : bytes) {
    state = state * 1103515245u + 12345u;
    b = static_cast<std::uint8_t>(state >> 16);
  }
  return bytes;
}

}  // namespace

bool makeBenchImage(std::size_t totalBytes, std::uint32_t seed, const std::string& version,
                    BenchImage& out, std::string* why, const firmware::FlashLayout& layout) {
  const std::size_t fixed = kInfoDataBytes + kVectorBytes;
  if (totalBytes < fixed + kMinLowBytes) return fail(why, "too few bytes for the image layout");
  const std::size_t rest = totalBytes - fixed;
  const std::size_t lowRoom = kVectorsAt - layout.mainStart - kConstGapBytes - 2;
  const std::size_t low = std::min(rest * kLowSharePercent / 100, lowRoom);
  if (low < kMinLowBytes) return fail(why, "too few bytes for the image layout");
  const std::size_t high = rest - low;
  if (kHighAt + high > layout.mainEnd) return fail(why, "the image does not fit the part's flash");

  const std::size_t constants = (low / 8) | 1u;  // odd: its last word is padded when sent
  const std::size_t code = low - constants;
  const std::uint32_t codeEnd = layout.mainStart + static_cast<std::uint32_t>(code);
  const std::uint32_t constAt = ((codeEnd + 1u) & ~1u) + kConstGapBytes;

  std::uint32_t state = seed;
  firmware::TiTxtImage image;
  image.sections.push_back({kInfoDataAt, filler(state, kInfoDataBytes), 0});
  image.sections.push_back({layout.mainStart, filler(state, code), 0});
  const std::string marker = "TGFW:" + version;
  auto& codeBytes = image.sections.back().data;
  if (kMarkerOffset + marker.size() + 1 > codeBytes.size()) return fail(why, "no room for marker");
  std::copy(marker.begin(), marker.end(), codeBytes.begin() + kMarkerOffset);
  codeBytes[kMarkerOffset + marker.size()] = 0;
  image.sections.push_back({constAt, filler(state, constants), 0});

  // The vector table ends in the product's password, so the loader accepts the next upgrade.
  firmware::TiTxtImage password;
  firmware::TiTxtError error;
  if (!firmware::parseTiTxt(firmware::firmwareResources().passwordText, password, error) ||
      password.sections.size() != 1 || password.sections[0].address != firmware::kPasswordAddress ||
      password.sections[0].data.size() != firmware::kPasswordBytes) {
    return fail(why, "the built-in loader password cannot be read: " + error.text());
  }
  std::vector<std::uint8_t> vectors = filler(state, kVectorBytes - firmware::kPasswordBytes);
  vectors.insert(vectors.end(), password.sections[0].data.begin(), password.sections[0].data.end());
  image.sections.push_back({kVectorsAt, std::move(vectors), 0});
  if (high > 0) image.sections.push_back({kHighAt, filler(state, high), 0});

  // Read back what a user's file would hold, so the benchmark runs on a checked image.
  out.text = firmware::formatTiTxt(image);
  out.version = version;
  if (!firmware::parseTiTxt(out.text, out.image, error) ||
      !firmware::checkFirmwareImage(out.image, layout, error)) {
    return fail(why, "generated image refused: " + error.text());
  }
  if (out.image.byteCount() != totalBytes || out.image.sections.size() != image.sections.size()) {
    return fail(why, "generated image does not hold the requested bytes");
  }
  return true;
}

std::size_t fewestReports(const firmware::TiTxtImage& image, std::size_t blockBytes) {
  std::size_t reports = 0;
  for (const auto& section : image.sections) {
    reports += (section.data.size() + blockBytes - 1) / blockBytes;
  }
  return reports;
}

}  // namespace talkgate::bench
