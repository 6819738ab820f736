#pragma once
// The small JSON reader and writer pieces behind the simulator's state files: objects, arrays,
// whole numbers, strings, true, false and null; errors name the offset of the first problem.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace talkgate::sim::json {

struct Value {
  enum class Kind { Null, Bool, Integer, String, Array, Object };
  Kind kind = Kind::Null;
  long long integer = 0;  // also a Bool's value: 1 for true, 0 for false
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

// Parses one whole document; false with "offset N: what" in error.
bool parse(std::string_view text, Value& out, std::string& error);
// The text as a JSON string literal, quotes included.
std::string quoted(const std::string& text);
// "offset N: what", for a problem found in a parsed value.
std::string at(const Value& value, const std::string& what);

}  // namespace talkgate::sim::json
