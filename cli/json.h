#pragma once
// A tiny JSON writer for talkgatectl's machine-readable output. Texts are written as UTF-8: a
// well-formed UTF-8 character (a file name such as "Prüfung.txt") as it is, every other byte
// outside printable ASCII (control characters, bytes of no UTF-8 character, as a device may
// send) as a \u escape of its value, so the output is valid JSON whatever the bytes are.

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace talkgate::cli {

// Escapes one code point (already known to be outside printable ASCII or special) as \uXXXX,
// with a surrogate pair above the Basic Multilingual Plane.
inline void appendJsonCodePointEscape(std::string& out, std::uint32_t codePoint) {
  static constexpr char kHex[] = "0123456789abcdef";
  auto unit = [&out](std::uint32_t value) {
    out += "\\u";
    for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(value >> shift) & 0xF];
  };
  if (codePoint > 0x10FFFF) codePoint = 0xFFFD;
  if (codePoint >= 0x10000) {
    const std::uint32_t v = codePoint - 0x10000;
    unit(0xD800 + (v >> 10));
    unit(0xDC00 + (v & 0x3FF));
  } else {
    unit(codePoint);
  }
}

// Appends one code point, quoted as JSON requires.
inline void appendJsonCodePoint(std::string& out, std::uint32_t codePoint) {
  switch (codePoint) {
    case '"':
      out += "\\\"";
      return;
    case '\\':
      out += "\\\\";
      return;
    case '\b':
      out += "\\b";
      return;
    case '\f':
      out += "\\f";
      return;
    case '\n':
      out += "\\n";
      return;
    case '\r':
      out += "\\r";
      return;
    case '\t':
      out += "\\t";
      return;
    default:
      break;
  }
  if (codePoint >= 0x20 && codePoint < 0x7F) {
    out += static_cast<char>(codePoint);
  } else {
    appendJsonCodePointEscape(out, codePoint);
  }
}

// The length of the well-formed UTF-8 character of a printable code point (U+00A0 and up) at
// the start of text; 0 when there is none (an ASCII byte, a control character, a stray or cut
// sequence, an overlong form, a surrogate, beyond U+10FFFF).
inline std::size_t utf8PrintableLength(std::string_view text) {
  const auto byte = [&text](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(0);
  const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
  if (length == 0 || lead > 0xF4 || text.size() < length) return 0;
  std::uint32_t codePoint = lead & (0x7Fu >> length);
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return 0;
    codePoint = (codePoint << 6) | (byte(i) & 0x3Fu);
  }
  static constexpr std::uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (codePoint < kSmallest[length] || codePoint < 0xA0 || codePoint > 0x10FFFF) return 0;
  if (codePoint >= 0xD800 && codePoint <= 0xDFFF) return 0;
  return length;
}

// A JSON string literal for text: UTF-8 characters kept, other bytes read as the code point of
// the same value (the device strings keep the low 8 bits of each character).
inline std::string jsonString(std::string_view bytes) {
  std::string out = "\"";
  while (!bytes.empty()) {
    const std::size_t character = utf8PrintableLength(bytes);
    if (character > 0) {
      out.append(bytes.substr(0, character));
    } else {
      appendJsonCodePoint(out, static_cast<unsigned char>(bytes.front()));
    }
    bytes.remove_prefix(character > 0 ? character : 1);
  }
  out += '"';
  return out;
}

// A JSON string literal for a wide (Unicode) string, such as a USB string descriptor.
inline std::string jsonString(std::wstring_view text) {
  std::string out = "\"";
  for (std::size_t i = 0; i < text.size(); ++i) {
    auto c = static_cast<std::uint32_t>(text[i]);
    // A 16-bit wchar_t (Windows) holds a character beyond the first 65536 as a surrogate pair;
    // half a pair is no character.
    if (c >= 0xD800 && c <= 0xDFFF) {
      const auto low = i + 1 < text.size() ? static_cast<std::uint32_t>(text[i + 1]) : 0;
      if (sizeof(wchar_t) == 2 && c <= 0xDBFF && low >= 0xDC00 && low <= 0xDFFF) {
        c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
        ++i;
      } else {
        c = 0xFFFD;
      }
    }
    appendJsonCodePoint(out, c);
  }
  out += '"';
  return out;
}

// Writes objects and arrays with two-space indentation; arrays of plain numbers stay on one line
// so that a key table reads as one row.
class JsonWriter {
 public:
  explicit JsonWriter(std::ostream& out) : out_(out) {}

  void beginObject() { open('{', false); }
  void endObject() { close('}'); }
  // compact: members on one line (for short arrays of numbers).
  void beginArray(bool compact = false) { open('[', compact); }
  void endArray() { close(']'); }

  // Starts an object member; the next value or begin* call is its value.
  void key(std::string_view name) {
    separate();
    out_ << jsonString(name) << ": ";
    afterKey_ = true;
  }

  void value(std::string_view text) { scalar(jsonString(text)); }
  void value(std::wstring_view text) { scalar(jsonString(text)); }
  void value(const char* text) { value(std::string_view(text)); }
  void value(long long number) { scalar(std::to_string(number)); }
  void value(int number) { value(static_cast<long long>(number)); }
  void value(unsigned number) { value(static_cast<long long>(number)); }
  void value(bool flag) { scalar(flag ? "true" : "false"); }
  void nullValue() { scalar("null"); }
  // A whole JSON document written by another writer, as the next value: its lines indented to
  // the depth it lands at, its final line break dropped.
  void document(std::string_view text) {
    while (!text.empty() && text.back() == '\n') text.remove_suffix(1);
    separate();
    for (char c : text) {
      if (c == '\n') {
        newline(levels_.size());
      } else {
        out_ << c;
      }
    }
  }

  // Ends the document with a line break.
  void finish() { out_ << '\n'; }

 private:
  struct Level {
    bool compact = false;
    bool empty = true;
  };

  void separate() {
    if (afterKey_) {
      afterKey_ = false;
      return;
    }
    if (levels_.empty()) return;
    Level& level = levels_.back();
    if (!level.empty) out_ << (level.compact ? ", " : ",");
    if (!level.compact) newline(levels_.size());
    level.empty = false;
  }
  void open(char bracket, bool compact) {
    separate();
    out_ << bracket;
    levels_.push_back(Level{compact, true});
  }
  void close(char bracket) {
    if (levels_.empty()) return;
    const Level level = levels_.back();
    levels_.pop_back();
    if (!level.compact && !level.empty) newline(levels_.size());
    out_ << bracket;
  }
  void scalar(const std::string& text) {
    separate();
    out_ << text;
  }
  void newline(std::size_t depth) {
    out_ << '\n';
    for (std::size_t i = 0; i < depth; ++i) out_ << "  ";
  }

  std::ostream& out_;
  std::vector<Level> levels_;
  bool afterKey_ = false;
};

}  // namespace talkgate::cli
