#include "cli/text.h"

#include <algorithm>
#include <cstdio>

namespace talkgate::cli {

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

void appendUtf8(std::string& out, std::uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

}  // namespace

std::string printableBytes(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (unsigned char c : bytes) {
    if (c == '\\') {
      out += "\\\\";
    } else if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else {
      out += "\\x";
      out += kHexDigits[c >> 4];
      out += kHexDigits[c & 0xF];
    }
  }
  return out;
}

std::string printablePath(std::string_view path) {
  std::string out;
  out.reserve(path.size());
  std::size_t i = 0;
  while (i < path.size()) {
    const auto lead = static_cast<unsigned char>(path[i]);
    const std::size_t length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3
                               : (lead >> 3) == 0x1E ? 4 : 0;
    std::uint32_t cp = length == 1 ? lead : length == 2 ? lead & 0x1F : length == 3 ? lead & 0x0F
                                                                                     : lead & 0x07;
    bool valid = length > 0 && i + length <= path.size();
    for (std::size_t k = 1; valid && k < length; ++k) {
      const auto next = static_cast<unsigned char>(path[i + k]);
      valid = (next & 0xC0) == 0x80;
      cp = (cp << 6) | (next & 0x3F);
    }
    static constexpr std::uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    valid = valid && cp >= kSmallest[length] && cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF);
    const bool control = cp < 0x20 || (cp >= 0x7F && cp < 0xA0);
    if (valid && !control) {
      out.append(path.substr(i, length));
      i += length;
    } else {
      out += "\\x";
      out += kHexDigits[lead >> 4];
      out += kHexDigits[lead & 0xF];
      ++i;
    }
  }
  return out;
}

std::string printableWide(std::wstring_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    auto cp = static_cast<std::uint32_t>(text[i]);
    // A 16-bit wchar_t (Windows) holds a character beyond the first 65536 as a surrogate pair.
    if constexpr (sizeof(wchar_t) == 2) {
      if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size()) {
        const auto low = static_cast<std::uint32_t>(text[i + 1]);
        if (low >= 0xDC00 && low <= 0xDFFF) {
          cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
          ++i;
        }
      }
    }
    const bool control = cp < 0x20 || (cp >= 0x7F && cp < 0xA0);
    const bool invalid = cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF);
    if (cp == '\\') {
      out += "\\\\";
    } else if (control || invalid) {
      char buffer[16];
      std::snprintf(buffer, sizeof buffer, "\\u{%X}", static_cast<unsigned>(cp));
      out += buffer;
    } else {
      appendUtf8(out, cp);
    }
  }
  return out;
}

std::size_t displayWidth(std::string_view text) {
  std::size_t width = 0;
  for (unsigned char c : text) width += (c & 0xC0) == 0x80 ? 0 : 1;
  return width;
}

namespace {

std::string cutToColumns(std::string text, std::size_t maxColumns) {
  if (displayWidth(text) <= maxColumns) return text;
  std::size_t columns = 0;
  std::size_t at = 0;
  for (; at < text.size(); ++at) {
    const bool starts = (static_cast<unsigned char>(text[at]) & 0xC0) != 0x80;
    if (starts && ++columns > maxColumns - 3) break;
  }
  text.resize(at);
  return text + "...";
}

}  // namespace

std::string deviceText(std::string_view bytes, std::size_t maxColumns) {
  return cutToColumns(printableBytes(bytes), maxColumns);
}

std::string deviceText(std::wstring_view text, std::size_t maxColumns) {
  return cutToColumns(printableWide(text), maxColumns);
}

std::string hexBytes(const std::uint8_t* data, std::size_t length) {
  std::string out;
  for (std::size_t i = 0; i < length; ++i) {
    if (i > 0) out += ' ';
    out += kHexDigits[data[i] >> 4];
    out += kHexDigits[data[i] & 0xF];
  }
  return out;
}

std::string singleQuoted(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 2);
  out.append("'").append(text).append("'");
  return out;
}

std::optional<unsigned> parseDecimal(std::string_view text, unsigned maxValue) {
  if (text.empty()) return std::nullopt;
  unsigned long long value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<unsigned>(c - '0');
    if (value > maxValue) return std::nullopt;  // also stops any overflow
  }
  return static_cast<unsigned>(value);
}

void LabelledRows::add(std::string label, std::string value) {
  rows_.emplace_back(std::move(label), std::move(value));
}

void LabelledRows::print(std::ostream& out) const {
  std::size_t width = 0;
  for (const auto& row : rows_) width = std::max(width, displayWidth(row.first));
  for (const auto& [label, value] : rows_) {
    out << label;
    if (!value.empty()) out << std::string(width - displayWidth(label) + 2, ' ') << value;
    out << '\n';
  }
}

}  // namespace talkgate::cli

namespace talkgate::cli {

void printColumns(std::ostream& out, const std::vector<std::string>& header,
                  const std::vector<std::vector<std::string>>& rows) {
  std::vector<std::size_t> widths(header.size(), 0);
  auto measure = [&widths](const std::vector<std::string>& row) {
    for (std::size_t i = 0; i < row.size() && i < widths.size(); ++i) {
      widths[i] = std::max(widths[i], displayWidth(row[i]));
    }
  };
  measure(header);
  for (const auto& row : rows) measure(row);
  auto print = [&](const std::vector<std::string>& row) {
    std::string line;
    for (std::size_t i = 0; i < row.size() && i < widths.size(); ++i) {
      line += row[i];
      if (i + 1 < row.size()) line += std::string(widths[i] - displayWidth(row[i]) + 2, ' ');
    }
    out << line << '\n';
  };
  print(header);
  for (const auto& row : rows) print(row);
}

}  // namespace talkgate::cli
