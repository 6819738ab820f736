#pragma once
// Strict reader of TI-TXT firmware images: "@ADDR" section lines, lines of hexadecimal data
// bytes, and the end marker "q". A malformed image is refused with the line and the reason of
// its first problem; nothing is ever read as zeros.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace talkgate::firmware {

// Highest address an MSP430X (20-bit) image may hold.
inline constexpr std::uint32_t kMaxImageAddress = 0xFFFFF;

// One run of consecutive bytes. Sections of an image are sorted by address, never overlap and
// never touch (adjacent runs from the file are merged). Each starts at an even address: a run
// the file starts at an odd one is preceded by one 0xFF, as flash is written in whole words.
struct TiTxtSection {
  std::uint32_t address = 0;
  std::vector<std::uint8_t> data;
  int line = 0;  // line of the "@" that opened it
  // 1 when the run starts at an odd address: the first byte is the erased value put in front
  // to make a whole word, not one of the image's.
  std::uint32_t padding = 0;
  std::uint32_t end() const { return address + static_cast<std::uint32_t>(data.size()); }
  // The address of the image's own first byte.
  std::uint32_t firstImageByte() const { return address + padding; }
};

struct TiTxtImage {
  std::vector<TiTxtSection> sections;
  // Number of data bytes in all sections.
  std::size_t byteCount() const;
  // True when the image holds the byte at address (and stores it in *value when given).
  bool contains(std::uint32_t address, std::uint8_t* value = nullptr) const;
};

// The first problem of an image. line 0: not tied to a line (for instance an unreadable file).
struct TiTxtError {
  int line = 0;
  std::string reason;
  // "line 14: bad hex digit 'G'", or the reason alone when line is 0.
  std::string text() const;
};

// Parses TI-TXT text. Returns false with the first problem in error (out is then cleared).
// Accepts CR LF or LF, a leading UTF-8 byte order mark, blank lines, spaces and tabs, upper or
// lower case digits, "q" or "Q"; anything after the end marker is ignored.
bool parseTiTxt(std::string_view text, TiTxtImage& out, TiTxtError& error);

// Larger image files are refused unread: a full 1 MiB of flash as TI-TXT takes about 3.2 MiB.
inline constexpr std::size_t kMaxImageTextBytes = 4 * 1024 * 1024;

// Reads a whole file and parses it.
bool readTiTxtFile(const std::string& path, TiTxtImage& out, TiTxtError& error);

// Reads a whole regular file of at most kMaxImageTextBytes into text; false with the reason in
// error ("it is a directory", "it does not exist") otherwise. Never blocks.
bool readTextFile(const std::string& path, std::string& text, TiTxtError& error);

// Writes an image as TI-TXT text: upper-case digits, 16 bytes a line, CR LF, then "q".
std::string formatTiTxt(const TiTxtImage& image);

}  // namespace talkgate::firmware
