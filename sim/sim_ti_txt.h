#pragma once
// The simulator's own small TI-TXT reader and writer, for setting up and keeping the flash
// of a simulated part. It knows nothing of the host's image rules: it only reads "@ADDR"
// lines, lines of one- or two-digit hexadecimal bytes and the end marker "q".

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace talkgate::sim {

// One "@" section: bytes from address on, as the file gives them.
struct SimTextRun {
  std::uint32_t address = 0;
  std::vector<std::uint8_t> bytes;
  int line = 0;  // line of its "@"
  std::uint32_t end() const { return address + static_cast<std::uint32_t>(bytes.size()); }
};

// Reads text into runs. False with "line N: reason" in *error on the first problem; no run
// ever reaches past the 20-bit address space.
bool readSimTiTxt(std::string_view text, std::vector<SimTextRun>& runs, std::string* error);

// Writes runs as TI-TXT: upper-case digits, 16 bytes a line, CR LF, then "q".
std::string writeSimTiTxt(const std::vector<SimTextRun>& runs);

}  // namespace talkgate::sim
