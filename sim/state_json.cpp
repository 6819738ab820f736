// JSON persistence of the simulated Talkgate's state: a small writer and a small reader for
// exactly the shape the writer produces (objects, arrays, integers, strings).

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string_view>

#include "sim/sim_talkgate.h"

namespace talkgate::sim {
namespace {

constexpr int kMaxDepth = 16;

// ---- Writer ----

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

void writeSettings(std::ostream& out, const char* name, const TalkgateSettings& settings) {
  out << "  " << quoted(name) << ": {\n"
      << "    \"symbolBrightness\": " << int{settings.symbolBrightness} << ",\n"
      << "    \"ambientConfig\": " << int{settings.ambientConfig} << ",\n"
      << "    \"keypadType\": " << int{settings.keypadType} << ",\n"
      << "    \"keyTable\": [";
  for (std::size_t i = 0; i < settings.keyTable.size(); ++i) {
    out << (i ? ", " : "") << int{settings.keyTable[i]};
  }
  out << "]\n  },\n";
}

std::string toJson(const TalkgateState& state) {
  std::ostringstream out;
  out << "{\n";
  writeSettings(out, "working", state.working);
  writeSettings(out, "defaults", state.defaults);
  out << "  \"firmwareVersion\": " << quoted(state.firmwareVersion) << ",\n"
      << "  \"serialNumber\": " << quoted(state.serialNumber) << ",\n"
      << "  \"temperature\": " << quoted(state.temperature) << ",\n"
      << "  \"ambientValue\": " << state.ambientValue << "\n}\n";
  return out.str();
}

// ---- Reader ----

struct Value {
  enum class Kind { Null, Bool, Integer, String, Array, Object };
  Kind kind = Kind::Null;
  long long integer = 0;
  std::string text;
  std::vector<Value> items;
  // Object members as two parallel lists: a pair holding Value would need Value complete.
  std::vector<std::string> memberNames;
  std::vector<Value> memberValues;
  std::size_t offset = 0;

  const Value* member(std::string_view name) const {
    for (std::size_t i = 0; i < memberNames.size(); ++i) {
      if (memberNames[i] == name) return &memberValues[i];
    }
    return nullptr;
  }
};

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
    if (literal("true") || literal("false")) {
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

// ---- Mapping ----

std::string at(const Value& value, const std::string& what) {
  return "offset " + std::to_string(value.offset) + ": " + what;
}

bool readInteger(const Value& object, const char* key, long long max, long long& out,
                 std::string& error) {
  const Value* value = object.member(key);
  if (!value) return true;  // missing keys keep their values
  if (value->kind != Value::Kind::Integer || value->integer < 0 || value->integer > max) {
    error = at(*value, std::string("\"") + key + "\" must be a whole number from 0 to " +
                           std::to_string(max));
    return false;
  }
  out = value->integer;
  return true;
}

bool readByte(const Value& object, const char* key, std::uint8_t& out, std::string& error) {
  long long value = out;
  if (!readInteger(object, key, 0xFF, value, error)) return false;
  out = static_cast<std::uint8_t>(value);
  return true;
}

bool readText(const Value& object, const char* key, std::string& out, std::string& error) {
  const Value* value = object.member(key);
  if (!value) return true;
  if (value->kind != Value::Kind::String) {
    error = at(*value, std::string("\"") + key + "\" must be a string");
    return false;
  }
  out = value->text;
  return true;
}

bool readSettings(const Value& root, const char* key, TalkgateSettings& out, std::string& error) {
  const Value* object = root.member(key);
  if (!object) return true;
  if (object->kind != Value::Kind::Object) {
    error = at(*object, std::string("\"") + key + "\" must be an object");
    return false;
  }
  if (!readByte(*object, "symbolBrightness", out.symbolBrightness, error) ||
      !readByte(*object, "ambientConfig", out.ambientConfig, error) ||
      !readByte(*object, "keypadType", out.keypadType, error)) {
    return false;
  }
  const Value* table = object->member("keyTable");
  if (!table) return true;
  if (table->kind != Value::Kind::Array || table->items.size() != kKeyTableSize) {
    error = at(*table, "\"keyTable\" must be an array of 12 bytes");
    return false;
  }
  for (std::size_t i = 0; i < kKeyTableSize; ++i) {
    const Value& item = table->items[i];
    if (item.kind != Value::Kind::Integer || item.integer < 0 || item.integer > 0xFF) {
      error = at(item, "key table entries must be whole numbers from 0 to 255");
      return false;
    }
    out.keyTable[i] = static_cast<std::uint8_t>(item.integer);
  }
  return true;
}

bool fromJson(std::string_view text, TalkgateState& state, std::string& error) {
  Value root;
  Parser parser(text);
  if (!parser.parseDocument(root)) {
    error = parser.error();
    return false;
  }
  if (root.kind != Value::Kind::Object) {
    error = at(root, "the document must be an object");
    return false;
  }
  long long ambient = state.ambientValue;
  if (!readSettings(root, "working", state.working, error) ||
      !readSettings(root, "defaults", state.defaults, error) ||
      !readText(root, "firmwareVersion", state.firmwareVersion, error) ||
      !readText(root, "serialNumber", state.serialNumber, error) ||
      !readText(root, "temperature", state.temperature, error) ||
      !readInteger(root, "ambientValue", 0xFFFF, ambient, error)) {
    return false;
  }
  state.ambientValue = static_cast<std::uint16_t>(ambient);
  return true;
}

}  // namespace

bool SimTalkgate::loadState(const std::string& path, TalkgateState& out, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "cannot open " + path;
    return false;
  }
  std::ostringstream buffer;
  buffer << in.rdbuf();
  if (in.bad()) {
    error = "cannot read " + path;
    return false;
  }
  TalkgateState state = out;
  if (!fromJson(buffer.str(), state, error)) {
    error = path + ": " + error;
    return false;
  }
  out = std::move(state);
  return true;
}

bool SimTalkgate::saveState(const std::string& path, const TalkgateState& state,
                            std::string& error) {
  const std::string temporary = path + ".tmp";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    if (!out) {
      error = "cannot create " + temporary;
      return false;
    }
    out << toJson(state);
    out.flush();
    if (!out) {
      error = "cannot write " + temporary;
      std::error_code ignored;
      std::filesystem::remove(temporary, ignored);
      return false;
    }
  }
  std::error_code ec;
  std::filesystem::rename(temporary, path, ec);
  if (ec) {
    error = "cannot replace " + path + ": " + ec.message();
    std::filesystem::remove(temporary, ec);
    return false;
  }
  return true;
}

}  // namespace talkgate::sim
