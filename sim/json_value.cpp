#include "sim/json_value.h"

#include <cctype>
#include <cstdio>

namespace talkgate::sim::json {
namespace {

constexpr int kMaxDepth = 16;

class Parser {
 public:
  explicit Parser(std::string_view text) : text_(text) {}

  bool parseDocument(Value& out) {
    if (!parseValue(out, 0)) return false;
    skipSpace();
    if (pos_ != text_.size()) return fail("unexpected text after the document");
    return true;
  }
  const std::string& error() const { return error_; }

 private:
  bool fail(const std::string& what) {
    error_ = "offset " + std::to_string(pos_) + ": " + what;
    return false;
  }
  void skipSpace() {
    while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\n' ||
                                   text_[pos_] == '\r' || text_[pos_] == '\t')) {
      ++pos_;
    }
  }
  bool consume(char c) {
    skipSpace();
    if (pos_ < text_.size() && text_[pos_] == c) {
      ++pos_;
      return true;
    }
    return false;
  }
  bool literal(std::string_view word) {
    if (text_.substr(pos_, word.size()) != word) return false;
    pos_ += word.size();
    return true;
  }

  bool parseValue(Value& out, int depth) {
    skipSpace();
    if (depth > kMaxDepth) return fail("nesting too deep");
    if (pos_ >= text_.size()) return fail("unexpected end of file");
    out.offset = pos_;
    const char c = text_[pos_];
    if (c == '{') return parseObject(out, depth);
    if (c == '[') return parseArray(out, depth);
    if (c == '"') {
      out.kind = Value::Kind::String;
      return parseString(out.text);
    }
    if (c == '-' || (c >= '0' && c <= '9')) return parseInteger(out);
    if (literal("true")) {
      out.kind = Value::Kind::Bool;
      out.integer = 1;
      return true;
    }
    if (literal("false")) {
      out.kind = Value::Kind::Bool;
      return true;
    }
    if (literal("null")) return true;
    return fail(std::string("unexpected character '") + c + "'");
  }

  bool parseObject(Value& out, int depth) {
    out.kind = Value::Kind::Object;
    ++pos_;
    if (consume('}')) return true;
    for (;;) {
      skipSpace();
      std::string key;
      if (pos_ >= text_.size() || text_[pos_] != '"') return fail("expected a key");
      if (!parseString(key)) return false;
      if (!consume(':')) return fail("expected ':'");
      Value value;
      if (!parseValue(value, depth + 1)) return false;
      out.memberNames.push_back(std::move(key));
      out.memberValues.push_back(std::move(value));
      if (consume('}')) return true;
      if (!consume(',')) return fail("expected ',' or '}'");
    }
  }

  bool parseArray(Value& out, int depth) {
    out.kind = Value::Kind::Array;
    ++pos_;
    if (consume(']')) return true;
    for (;;) {
      Value item;
      if (!parseValue(item, depth + 1)) return false;
      out.items.push_back(std::move(item));
      if (consume(']')) return true;
      if (!consume(',')) return fail("expected ',' or ']'");
    }
  }

  bool parseInteger(Value& out) {
    out.kind = Value::Kind::Integer;
    bool negative = false;
    if (text_[pos_] == '-') {
      negative = true;
      ++pos_;
    }
    const std::size_t digitsStart = pos_;
    long long value = 0;
    while (pos_ < text_.size() && text_[pos_] >= '0' && text_[pos_] <= '9') {
      if (value > 1'000'000'000) return fail("number too large");
      value = value * 10 + (text_[pos_] - '0');
      ++pos_;
    }
    if (pos_ == digitsStart) return fail("expected a digit");
    if (pos_ < text_.size() && (text_[pos_] == '.' || text_[pos_] == 'e' || text_[pos_] == 'E')) {
      return fail("only whole numbers are expected");
    }
    out.integer = negative ? -value : value;
    return true;
  }

  bool parseString(std::string& out) {
    ++pos_;  // opening quote
    for (;;) {
      if (pos_ >= text_.size()) return fail("unterminated string");
      const char c = text_[pos_];
      if (c == '"') {
        ++pos_;
        return true;
      }
      if (static_cast<unsigned char>(c) < 0x20) return fail("control character in string");
      if (c != '\\') {
        out += c;
        ++pos_;
        continue;
      }
      if (++pos_ >= text_.size()) return fail("unterminated string");
      const char e = text_[pos_++];
      switch (e) {
        case '"':
        case '\\':
        case '/':
          out += e;
          break;
        case 'b':
          out += '\b';
          break;
        case 'f':
          out += '\f';
          break;
        case 'n':
          out += '\n';
          break;
        case 'r':
          out += '\r';
          break;
        case 't':
          out += '\t';
          break;
        case 'u': {
          unsigned code = 0;
          for (int i = 0; i < 4; ++i, ++pos_) {
            if (pos_ >= text_.size() || !std::isxdigit(static_cast<unsigned char>(text_[pos_]))) {
              return fail("bad \\u escape");
            }
            const char h = text_[pos_];
            code = code * 16 + static_cast<unsigned>(h <= '9' ? h - '0' : (h | 0x20) - 'a' + 10);
          }
          if (code > 0xFF) return fail("character outside the device's 8-bit range");
          out += static_cast<char>(code);
          break;
        }
        default:
          --pos_;
          return fail(std::string("bad escape '\\") + e + "'");
      }
    }
  }

  std::string_view text_;
  std::size_t pos_ = 0;
  std::string error_;
};

}  // namespace

bool parse(std::string_view text, Value& out, std::string& error) {
  Parser parser(text);
  if (!parser.parseDocument(out)) {
    error = parser.error();
    return false;
  }
  return true;
}

std::string quoted(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", c);
      out += escape;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

std::string at(const Value& value, const std::string& what) {
  return "offset " + std::to_string(value.offset) + ": " + what;
}

}  // namespace talkgate::sim::json
