#pragma once
// Reading talkgatectl's --json output in tests, through the simulator's JSON reader (no Qt).

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "sim/json_value.h"

namespace talkgate::cli::testing {

using Json = sim::json::Value;

// The document in text; a Null value, and a failed expectation, when text is no JSON.
inline Json parseJson(const std::string& text) {
  Json value;
  std::string error;
  EXPECT_TRUE(sim::json::parse(text, value, error)) << error << "\n" << text;
  return value;
}

// The member reached through nested names; a Null value when any of them is missing.
inline const Json& jsonAt(const Json& object, std::initializer_list<std::string_view> names) {
  static const Json missing;
  const Json* at = &object;
  for (std::string_view name : names) {
    at = at->member(name);
    if (at == nullptr) return missing;
  }
  return *at;
}

inline bool jsonTrue(const Json& value) {
  return value.kind == Json::Kind::Bool && value.integer == 1;
}

inline bool jsonFalse(const Json& value) {
  return value.kind == Json::Kind::Bool && value.integer == 0;
}

// True when object has the member name and it is null (a missing member is not null).
inline bool jsonNull(const Json& object, std::string_view name) {
  const Json* member = object.member(name);
  return member != nullptr && member->kind == Json::Kind::Null;
}

// The strings of an array, in order; other items are left out.
inline std::vector<std::string> jsonStrings(const Json& array) {
  std::vector<std::string> texts;
  for (const Json& item : array.items) {
    if (item.kind == Json::Kind::String) texts.push_back(item.text);
  }
  return texts;
}

// True when text is one whole JSON object or array.
inline bool isJsonDocument(const std::string& text) {
  Json value;
  std::string error;
  return sim::json::parse(text, value, error) &&
         (value.kind == Json::Kind::Object || value.kind == Json::Kind::Array);
}

// The object in text; a failed expectation when it is none.
inline Json parseObject(const std::string& text) {
  const Json value = parseJson(text);
  EXPECT_EQ(value.kind, Json::Kind::Object) << text;
  return value;
}

}  // namespace talkgate::cli::testing
