#include "sim/sim_ti_txt.h"

#include <cstdio>

namespace talkgate::sim {
namespace {

constexpr std::uint32_t kAddressLimit = 0x100000;  // 20-bit address space

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool isBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r';
}

// Parses a whole token of hex digits, at most maxDigits of them.
bool parseHex(std::string_view token, std::size_t maxDigits, std::uint32_t& value) {
  if (token.empty() || token.size() > maxDigits) return false;
  value = 0;
  for (char c : token) {
    const int d = hexDigit(c);
    if (d < 0) return false;
    value = value * 16 + static_cast<std::uint32_t>(d);
  }
  return true;
}

bool fail(std::string* error, int line, const std::string& reason) {
  if (error) *error = "line " + std::to_string(line) + ": " + reason;
  return false;
}

bool readRuns(std::string_view text, std::vector<SimTextRun>& runs, std::string* error) {
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  int line = 0;
  while (!text.empty()) {
    const std::size_t newline = text.find('\n');
    std::string_view row = text.substr(0, newline);
    text.remove_prefix(newline == std::string_view::npos ? text.size() : newline + 1);
    ++line;
    while (!row.empty() && isBlank(row.front())) row.remove_prefix(1);
    while (!row.empty() && isBlank(row.back())) row.remove_suffix(1);
    if (row.empty()) continue;
    if (row == "q" || row == "Q") return true;
    if (row.front() == '@') {
      std::uint32_t address = 0;
      if (!parseHex(row.substr(1), 8, address) || address >= kAddressLimit) {
        return fail(error, line, "bad address");
      }
      runs.push_back(SimTextRun{address, {}, line});
      continue;
    }
    if (runs.empty()) return fail(error, line, "data before the first address");
    SimTextRun& run = runs.back();
    while (!row.empty()) {
      std::size_t length = 0;
      while (length < row.size() && !isBlank(row[length])) ++length;
      std::uint32_t byte = 0;
      if (!parseHex(row.substr(0, length), 2, byte)) return fail(error, line, "bad data byte");
      if (run.end() >= kAddressLimit) return fail(error, line, "data beyond the address space");
      run.bytes.push_back(static_cast<std::uint8_t>(byte));
      row.remove_prefix(length);
      while (!row.empty() && isBlank(row.front())) row.remove_prefix(1);
    }
  }
  return fail(error, line, "missing end marker 'q'");
}

}  // namespace

bool readSimTiTxt(std::string_view text, std::vector<SimTextRun>& runs, std::string* error) {
  runs.clear();
  if (readRuns(text, runs, error)) return true;
  runs.clear();  // nothing half-read is ever used
  return false;
}

std::string writeSimTiTxt(const std::vector<SimTextRun>& runs) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  constexpr std::size_t kPerLine = 16;
  std::string text;
  for (const auto& run : runs) {
    char header[16];
    std::snprintf(header, sizeof header, "@%04X\r\n", static_cast<unsigned>(run.address));
    text += header;
    for (std::size_t i = 0; i < run.bytes.size(); ++i) {
      text += kDigits[run.bytes[i] >> 4];
      text += kDigits[run.bytes[i] & 0xF];
      text += ' ';
      if ((i + 1) % kPerLine == 0 || i + 1 == run.bytes.size()) text += "\r\n";
    }
  }
  text += "q\r\n";
  return text;
}

}  // namespace talkgate::sim
