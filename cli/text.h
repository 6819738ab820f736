#pragma once
// Text helpers for talkgatectl's human-readable output and argument parsing.

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace talkgate::cli {

// Raw device bytes made safe for a terminal: printable ASCII as is, a backslash doubled, every
// other byte as \xNN, so a hostile device text cannot move the cursor or clear the screen.
std::string printableBytes(std::string_view bytes);

// A path (UTF-8) for a terminal, as the user wrote it: backslashes and printable characters of
// any script as they are; control characters and bytes that are no UTF-8 as \xNN.
std::string printablePath(std::string_view path);

// A wide USB string for a terminal: UTF-8 for printable characters, \u{N} for control characters.
std::string printableWide(std::wstring_view text);

// The columns text takes on a terminal: one per character (UTF-8 continuation bytes take none).
std::size_t displayWidth(std::string_view text);

// A device text made printable (printableBytes, or printableWide for a USB string) and cut to
// at most maxColumns, ending in "..." when cut, so that no device can stretch a table.
inline constexpr std::size_t kDeviceTextColumns = 32;
std::string deviceText(std::string_view bytes, std::size_t maxColumns = kDeviceTextColumns);
std::string deviceText(std::wstring_view text, std::size_t maxColumns = kDeviceTextColumns);

// Bytes as upper-case hexadecimal pairs separated by blanks ("00 6F").
std::string hexBytes(const std::uint8_t* data, std::size_t length);

// text between single quotes ("'day=F99'"), for messages. Built by appending: GCC 12 sees a
// false overlap (-Wrestrict) in "'" + std::string when optimising.
std::string singleQuoted(std::string_view text);

// A decimal number made of digits only (no sign, no blanks), at most maxValue; nullopt otherwise.
std::optional<unsigned> parseDecimal(std::string_view text, unsigned maxValue);

// Two columns, the labels padded to the longest one.
class LabelledRows {
 public:
  void add(std::string label, std::string value);
  // Writes each row as "label  value" with the values in one column.
  void print(std::ostream& out) const;

 private:
  std::vector<std::pair<std::string, std::string>> rows_;
};

}  // namespace talkgate::cli

namespace talkgate::cli {

// A table with a header row; every column is padded to its widest cell.
void printColumns(std::ostream& out, const std::vector<std::string>& header,
                  const std::vector<std::vector<std::string>>& rows);

}  // namespace talkgate::cli
