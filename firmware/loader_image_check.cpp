#include "firmware/loader_image_check.h"

#include <cstdio>

#include "firmware/firmware_resources.h"
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

std::string ramLoaderImageProblem(std::string_view text, const FlashLayout& layout) {
  TiTxtImage image;
  if (std::string why = parseProblem(text, kRamLoaderBufferBytes, image); !why.empty()) {
    return why;
  }
  for (const TiTxtSection& section : image.sections) {
    const std::uint32_t last = section.end() - 1;
    if (!layout.inRam(section.address) || !layout.inRam(last)) {
      const std::uint32_t outside = layout.inRam(section.address) ? layout.ramEnd : section.address;
      return "puts a byte at " + hex(outside, 5) + " (line " + std::to_string(section.line) +
             "), outside RAM " + hex(layout.ramStart, 4) + "-" + hex(layout.ramEnd - 1, 4);
    }
  }
  if (!image.contains(kRamLoaderEntry)) {
    return "does not hold its start address " + hex(kRamLoaderEntry, 4);
  }
  return {};
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
