// Parses arbitrary TI-TXT text; what parses must format and parse back to the same image.

#include <string_view>

#include "firmware/ti_txt.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  talkgate::firmware::TiTxtImage image;
  talkgate::firmware::TiTxtError error;
  if (!talkgate::firmware::parseTiTxt(text, image, error)) return 0;
  const std::string again = talkgate::firmware::formatTiTxt(image);
  talkgate::firmware::TiTxtImage reparsed;
  if (!talkgate::firmware::parseTiTxt(again, reparsed, error)) __builtin_trap();
  if (talkgate::firmware::formatTiTxt(reparsed) != again) __builtin_trap();
  return 0;
}
