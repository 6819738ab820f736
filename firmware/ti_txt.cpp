#include "firmware/ti_txt.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "files/regular_file.h"

namespace talkgate::firmware {
namespace {

constexpr std::uint8_t kNotHex = 0xFF;
constexpr std::size_t kMaxAddressDigits = 8;
constexpr std::size_t kMaxByteDigits = 2;
constexpr std::uint8_t kErasedByte = 0xFF;

constexpr std::array<std::uint8_t, 256> makeHexTable() {
  std::array<std::uint8_t, 256> table{};
  for (auto& v : table) v = kNotHex;
  for (int c = '0'; c <= '9'; ++c) table[c] = static_cast<std::uint8_t>(c - '0');
  for (int c = 'A'; c <= 'F'; ++c) table[c] = static_cast<std::uint8_t>(c - 'A' + 10);
  for (int c = 'a'; c <= 'f'; ++c) table[c] = static_cast<std::uint8_t>(c - 'a' + 10);
  return table;
}
constexpr std::array<std::uint8_t, 256> kHex = makeHexTable();

inline bool isBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v';
}

std::string describeChar(char c) {
  const auto u = static_cast<unsigned char>(c);
  char buf[16];
  if (u >= 0x20 && u < 0x7F) {
    std::snprintf(buf, sizeof buf, "'%c'", c);
  } else {
    std::snprintf(buf, sizeof buf, "0x%02X", u);
  }
  return buf;
}

std::string hexAddress(std::uint32_t address) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%05X", address);
  return buf;
}

// A section as found in the file: its bytes live in one shared buffer while parsing.
struct RawSection {
  std::uint32_t address = 0;
  std::size_t offset = 0;
  std::size_t length = 0;
  int line = 0;
};

bool fail(TiTxtError& error, int line, std::string reason) {
  error.line = line;
  error.reason = std::move(reason);
  return false;
}

}  // namespace

std::size_t TiTxtImage::byteCount() const {
  std::size_t count = 0;
  for (const auto& s : sections) count += s.data.size();
  return count;
}

bool TiTxtImage::contains(std::uint32_t address, std::uint8_t* value) const {
  auto it = std::upper_bound(sections.begin(), sections.end(), address,
                             [](std::uint32_t a, const TiTxtSection& s) { return a < s.address; });
  if (it == sections.begin()) return false;
  --it;
  if (address >= it->end()) return false;
  if (value) *value = it->data[address - it->address];
  return true;
}

std::string TiTxtError::text() const {
  if (line <= 0) return reason;
  return "line " + std::to_string(line) + ": " + reason;
}

bool parseTiTxt(std::string_view text, TiTxtImage& out, TiTxtError& error) {
  out.sections.clear();
  error = TiTxtError{};

  if (text.size() >= 3 && std::memcmp(text.data(), "\xEF\xBB\xBF", 3) == 0) text.remove_prefix(3);

  std::vector<std::uint8_t> bytes;
  bytes.reserve(text.size() / 3 + 16);
  std::vector<RawSection> raw;
  bool inSection = false;
  RawSection current;
  bool ended = false;
  int line = 0;

  const char* p = text.data();
  const char* const end = p + text.size();
  while (p < end) {
    ++line;
    const char* eol =
        static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
    if (!eol) eol = end;
    const char* s = p;
    const char* e = eol;
    p = eol < end ? eol + 1 : end;
    while (s < e && isBlank(*s)) ++s;
    while (e > s && isBlank(e[-1])) --e;
    if (s == e) continue;

    if (*s == '@') {
      ++s;
      std::uint32_t address = 0;
      std::size_t digits = 0;
      while (s < e && !isBlank(*s)) {
        const std::uint8_t v = kHex[static_cast<unsigned char>(*s)];
        if (v == kNotHex)
          return fail(error, line, "bad hex digit " + describeChar(*s) + " in address");
        if (++digits > kMaxAddressDigits) return fail(error, line, "address has too many digits");
        address = (address << 4) | v;
        ++s;
      }
      if (digits == 0) return fail(error, line, "'@' without an address");
      if (s != e) return fail(error, line, "unexpected text after the address");
      if (address > kMaxImageAddress) {
        return fail(error, line, "address " + hexAddress(address) + " beyond 0xFFFFF");
      }
      if (inSection && current.length > 0) raw.push_back(current);
      current = RawSection{address, bytes.size(), 0, line};
      inSection = true;
      continue;
    }

    if ((*s == 'q' || *s == 'Q') && s + 1 == e) {
      ended = true;
      break;
    }

    if (!inSection) return fail(error, line, "data before the first '@'");
    while (s < e) {
      std::uint32_t value = 0;
      std::size_t digits = 0;
      const char* token = s;
      while (s < e && !isBlank(*s)) {
        const std::uint8_t v = kHex[static_cast<unsigned char>(*s)];
        if (v == kNotHex) return fail(error, line, "bad hex digit " + describeChar(*s));
        value = (value << 4) | v;
        ++digits;
        ++s;
      }
      if (digits > kMaxByteDigits) {
        return fail(
            error, line,
            "too many digits in '" + std::string(token, static_cast<std::size_t>(s - token)) + "'");
      }
      if (current.address + current.length > kMaxImageAddress) {
        return fail(error, line, "byte beyond 0xFFFFF");
      }
      bytes.push_back(static_cast<std::uint8_t>(value));
      ++current.length;
      while (s < e && isBlank(*s)) ++s;
    }
  }
  if (!ended) return fail(error, line > 0 ? line : 1, "missing end marker 'q'");
  if (inSection && current.length > 0) raw.push_back(current);

  std::stable_sort(raw.begin(), raw.end(),
                   [](const RawSection& a, const RawSection& b) { return a.address < b.address; });
  for (std::size_t i = 1; i < raw.size(); ++i) {
    const RawSection& prev = raw[i - 1];
    if (raw[i].address < prev.address + prev.length) {
      return fail(error, std::max(prev.line, raw[i].line),
                  "address " + hexAddress(raw[i].address) + " written twice");
    }
  }

  // Merge runs that touch, so every section is one contiguous run.
  for (std::size_t i = 0; i < raw.size();) {
    std::size_t j = i + 1;
    std::size_t total = raw[i].length;
    while (j < raw.size() && raw[j].address == raw[j - 1].address + raw[j - 1].length) {
      total += raw[j].length;
      ++j;
    }
    // Flash takes whole words: a run starting at an odd address gets the erased value in
    // front. Its neighbour cannot own that byte, or the two runs would have been merged.
    const std::size_t lead = raw[i].address & 1u;
    TiTxtSection section;
    section.address = raw[i].address - static_cast<std::uint32_t>(lead);
    section.line = raw[i].line;
    section.padding = static_cast<std::uint32_t>(lead);
    section.data.resize(lead + total);
    if (lead) section.data[0] = kErasedByte;
    std::size_t at = lead;
    for (std::size_t k = i; k < j; ++k) {
      std::memcpy(section.data.data() + at, bytes.data() + raw[k].offset, raw[k].length);
      at += raw[k].length;
    }
    if (!out.sections.empty() && out.sections.back().end() == section.address) {
      auto& previous = out.sections.back().data;  // the padding closed the gap between them
      previous.insert(previous.end(), section.data.begin(), section.data.end());
    } else {
      out.sections.push_back(std::move(section));
    }
    i = j;
  }
  return true;
}

bool readTextFile(const std::string& path, std::string& text, TiTxtError& error) {
  error = TiTxtError{};
  std::string reason;
  if (!files::readRegularFile(path, kMaxImageTextBytes, text, reason)) {
    return fail(error, 0, "cannot open " + path + ": " + reason);
  }
  return true;
}

bool readTiTxtFile(const std::string& path, TiTxtImage& out, TiTxtError& error) {
  std::string text;
  if (!readTextFile(path, text, error)) {
    out.sections.clear();
    return false;
  }
  return parseTiTxt(text, out, error);
}

std::string formatTiTxt(const TiTxtImage& image) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  constexpr std::size_t kBytesPerLine = 16;
  std::string text;
  text.reserve(image.byteCount() * 3 + image.sections.size() * 16 + 8);
  for (const auto& section : image.sections) {
    char header[16];
    std::snprintf(header, sizeof header, "@%04X\r\n", section.address);
    text += header;
    for (std::size_t i = 0; i < section.data.size(); ++i) {
      const std::uint8_t b = section.data[i];
      text += kDigits[b >> 4];
      text += kDigits[b & 0xF];
      text += ' ';
      if ((i + 1) % kBytesPerLine == 0 || i + 1 == section.data.size()) text += "\r\n";
    }
  }
  text += "q\r\n";
  return text;
}

}  // namespace talkgate::firmware
