#include "firmware/loader_image_check.h"

#include <cstdio>

#include "firmware/firmware_resources.h"
#include "firmware/part_table.h"
#include "firmware/programming_sequence.h"
#include "firmware/ti_txt.h"

namespace talkgate::firmware {
namespace {

std::string hex(std::uint32_t value, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%0*X", digits, static_cast<unsigned>(value));
  return text;
}

// Parses text that has to fit a loader buffer of bufferBytes (terminator included).
std::string parseProblem(std::string_view text, std::size_t bufferBytes, TiTxtImage& image) {
  if (text.size() >= bufferBytes) {
    return "is too long for the loader (" + std::to_string(text.size()) + " characters, at most " +
           std::to_string(bufferBytes - 1) + ")";
  }
  TiTxtError error;
  if (!parseTiTxt(text, image, error)) return "is not well-formed TI-TXT: " + error.text();
  return {};
}

bool isHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

}  // namespace

std::string passwordImageProblem(std::string_view text) {
  TiTxtImage image;
  if (std::string why = parseProblem(text, kPasswordBufferBytes, image); !why.empty()) return why;
  if (image.sections.size() != 1 || image.sections[0].address != kPasswordAddress ||
      image.sections[0].data.size() != kPasswordBytes) {
    return "is not 32 bytes at 0xFFE0";
  }
  return {};
}

constexpr std::uint32_t kRamLoaderVersionAt = kRamLoaderEntry - 4;
constexpr std::uint32_t kRamLoaderVersionBytes = 4;
constexpr std::uint32_t kSmallestRamLoaderCode = 2;  // one instruction word

std::string ramLoaderImageProblem(std::string_view text, std::string_view version) {
  TiTxtImage image;
  if (std::string why = parseProblem(text, kRamLoaderBufferBytes, image); !why.empty()) {
    return why;
  }
  const FlashLayout layout = commonRamLayout();
  for (const TiTxtSection& section : image.sections) {
    const std::uint32_t last = section.end() - 1;
    if (!layout.inRam(section.address) || !layout.inRam(last)) {
      const std::uint32_t outside = layout.inRam(section.address) ? layout.ramEnd : section.address;
      return "puts a byte at " + hex(outside, 5) + " (line " + std::to_string(section.line) +
             "), outside RAM " + hex(layout.ramStart, 4) + "-" + hex(layout.ramEnd - 1, 4);
    }
  }
  for (std::uint32_t a = kRamLoaderVersionAt; a < kRamLoaderVersionAt + kRamLoaderVersionBytes;
       ++a) {
    if (!image.contains(a)) {
      return "does not hold its version bytes " + hex(kRamLoaderVersionAt, 4) + "-" +
             hex(kRamLoaderEntry - 1, 4);
    }
  }
  for (std::uint32_t a = kRamLoaderEntry; a < kRamLoaderEntry + kSmallestRamLoaderCode; ++a) {
    if (!image.contains(a)) return "holds no code at its start address " + hex(kRamLoaderEntry, 4);
  }
  if (!version.empty()) {
    std::string found;
    for (std::uint32_t i = 0; i < kRamLoaderVersionBytes; ++i) {
      std::uint8_t b = 0;
      image.contains(kRamLoaderVersionAt + i, &b);
      char two[4];
      std::snprintf(two, sizeof two, "%s%02X", i ? "." : "", b);
      found += two;
    }
    std::string wanted(version);
    for (char& c : wanted) c = static_cast<char>(c >= 'a' && c <= 'f' ? c - 'a' + 'A' : c);
    if (found != wanted) {
      return "carries version " + found + " at " + hex(kRamLoaderVersionAt, 4) + ", not " +
             std::string(version);
    }
  }
  return {};
}

std::string ramLoaderImageSummary(std::string_view text) {
  TiTxtImage image;
  TiTxtError error;
  if (!parseTiTxt(text, image, error)) return {};
  std::string version;
  for (std::uint32_t i = 0; i < kRamLoaderVersionBytes; ++i) {
    std::uint8_t b = 0;
    image.contains(kRamLoaderVersionAt + i, &b);
    char two[4];
    std::snprintf(two, sizeof two, "%s%02X", i ? "." : "", b);
    version += two;
  }
  const FlashLayout ram = commonRamLayout();
  return "version " + version + " at " + hex(kRamLoaderVersionAt, 4) + ", code from " +
         hex(kRamLoaderEntry, 4) + ", " + std::to_string(image.byteCount()) +
         " bytes inside RAM " + hex(ram.ramStart, 4) + "-" + hex(ram.ramEnd - 1, 4);
}

std::string ramLoaderVersionProblem(std::string_view version) {
  static constexpr std::string_view kForm = "00.06.05.34";
  bool formed = version.size() == kForm.size() && version.substr(0, 3) == "00.";
  for (std::size_t i = 0; formed && i < kForm.size(); ++i) {
    formed = kForm[i] == '.' ? version[i] == '.' : isHexDigit(version[i]);
  }
  if (formed) return {};
  return "is not a version of the form " + std::string(kForm);
}

}  // namespace talkgate::firmware
