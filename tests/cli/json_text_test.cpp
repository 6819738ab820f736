// JSON escaping, terminal-safe text and number parsing of talkgatectl.

#include <gtest/gtest.h>

#include <sstream>

#include "cli/json.h"
#include "cli/text.h"

using namespace talkgate::cli;

TEST(JsonString, EscapesQuotesBackslashesAndControlCharacters) {
  EXPECT_EQ(jsonString(std::string_view("a\"b\\c")), R"("a\"b\\c")");
  EXPECT_EQ(jsonString(std::string_view("\n\r\t\b\f")), R"("\n\r\t\b\f")");
  EXPECT_EQ(jsonString(std::string_view("\x01\x1f\x7f", 3)), R"("\u0001\u001f\u007f")");
  const std::string withNul("x\0y", 3);
  EXPECT_EQ(jsonString(std::string_view(withNul)), R"("x\u0000y")");
}

TEST(JsonString, BytesAboveAsciiBecomeEscapesSoOutputStaysValid) {
  // 0xC3 alone is not UTF-8; raw it would make the whole document invalid.
  EXPECT_EQ(jsonString(std::string_view("\xC3\xFF", 2)), R"("\u00c3\u00ff")");
}

TEST(JsonString, WellFormedUtf8StaysAsItIsAndEveryOtherByteIsEscaped) {
  const std::string_view utf8 = "\xC3\xBC\xE2\x82\xAC\xF0\x9F\x98\x80";  // two, three, four bytes
  EXPECT_EQ(jsonString(utf8), "\"" + std::string(utf8) + "\"");
  // A C1 control character, an overlong form, a surrogate, a cut sequence.
  EXPECT_EQ(jsonString(std::string_view("\xC2\x85\xC0\xAF\xED\xA0\x80\xE2\x82")),
            R"("\u00c2\u0085\u00c0\u00af\u00ed\u00a0\u0080\u00e2\u0082")");
}

TEST(JsonString, WideTextUsesSurrogatePairsBeyondTheBasicPlane) {
  EXPECT_EQ(jsonString(std::wstring_view(L"\u00e9")), R"("\u00e9")");
  EXPECT_EQ(jsonString(std::wstring_view(L"\U0001F600")), R"("\ud83d\ude00")");
  // Beyond Unicode (a 32-bit wchar_t), or half a surrogate pair (a 16-bit one).
  const wchar_t invalid[] = {static_cast<wchar_t>(sizeof(wchar_t) == 2 ? 0xD800 : 0x110000), 0};
  EXPECT_EQ(jsonString(std::wstring_view(invalid)), R"("\ufffd")");
}

TEST(JsonWriter, NestsObjectsAndKeepsCompactArraysOnOneLine) {
  std::ostringstream out;
  JsonWriter json(out);
  json.beginObject();
  json.key("n");
  json.value(7);
  json.key("list");
  json.beginArray(true);
  json.value(1);
  json.value(2);
  json.endArray();
  json.key("empty");
  json.beginArray();
  json.endArray();
  json.key("inner");
  json.beginObject();
  json.key("ok");
  json.value(true);
  json.endObject();
  json.endObject();
  json.finish();
  EXPECT_EQ(out.str(),
            "{\n  \"n\": 7,\n  \"list\": [1, 2],\n  \"empty\": [],\n  \"inner\": {\n    \"ok\": "
            "true\n  }\n}\n");
}

TEST(PrintableText, DeviceBytesCannotReachTheTerminalRaw) {
  EXPECT_EQ(printableBytes("TG260001"), "TG260001");
  EXPECT_EQ(printableBytes(std::string_view("\x1b[2J\\\xff", 6)), "\\x1B[2J\\\\\\xFF");
  EXPECT_EQ(printableWide(L"Velkor \u00e9"), "Velkor \xC3\xA9");
  EXPECT_EQ(printableWide(L"a\nb"), "a\\u{A}b");
}

// Paths print as the user wrote them: Windows backslashes single, letters of any script kept;
// what could steer the terminal, and bytes that are no UTF-8, escaped.
TEST(PrintableText, PathsKeepBackslashesAndLettersButNoControlBytes) {
  const std::pair<std::string, std::string> table[] = {
      {"C:\\Users\\Zo\xC3\xAB\\fw 1.1.txt", "C:\\Users\\Zo\xC3\xAB\\fw 1.1.txt"},
      {"/home/\xE2\x82\xAC/\xF0\x9F\x94\x8A.json", "/home/\xE2\x82\xAC/\xF0\x9F\x94\x8A.json"},
      {"/tmp/\x1b[2Jx.txt", "/tmp/\\x1B[2Jx.txt"},
      {"a\xC2\x85" "b", "a\\xC2\\x85b"},             // C1 control (NEL)
      {"\xFF\xC3(\xE2\x82", "\\xFF\\xC3(\\xE2\\x82"},  // not UTF-8, cut short
      {"\xC0\xAF\xED\xA0\x80", "\\xC0\\xAF\\xED\\xA0\\x80"},  // overlong, surrogate
  };
  for (const auto& [path, shown] : table) EXPECT_EQ(printablePath(path), shown) << shown;
  // A character beyond the first 65536 is one character however wide wchar_t is.
  EXPECT_EQ(printableWide(L"Talkgate \U0001F50A"), "Talkgate \xF0\x9F\x94\x8A");
}

TEST(ParseDecimal, AcceptsOnlyPlainDigitsWithinTheLimit) {
  EXPECT_EQ(parseDecimal("0", 9), 0u);
  EXPECT_EQ(parseDecimal("9", 9), 9u);
  EXPECT_EQ(parseDecimal("07", 9), 7u);
  for (const char* bad : {"", "10", "-1", "+1", " 1", "1 ", "1x", "0x1", "99999999999999999999"}) {
    EXPECT_FALSE(parseDecimal(bad, 9).has_value()) << bad;
  }
}

TEST(Columns, PadsEveryColumnToItsWidestCell) {
  std::ostringstream out;
  printColumns(out, {"A", "BB", "C"}, {{"long", "x", "end"}, {"s", "yyyy", "e"}});
  EXPECT_EQ(out.str(), "A     BB    C\nlong  x     end\ns     yyyy  e\n");
  std::ostringstream rows;
  LabelledRows labelled;
  labelled.add("Short", "1");
  labelled.add("Much longer", "2");
  labelled.print(rows);
  EXPECT_EQ(rows.str(), "Short        1\nMuch longer  2\n");
}
