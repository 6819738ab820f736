// The key code catalogue: exact display texts, code formatting, modifier conversions and the
// name lookups used by the command-line tool.

#include "keycodes/key_catalogue.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace kc = talkgate::keycodes;

namespace {

// Display names in code order, written out independently of the catalogue.
const char* const kNames =
    "Reserved ErrorRollOver POSTFail ErrorUndefined a b c d e f g h i j k l m n o p q r s t u v "
    "w x y z 1 2 3 4 5 6 7 8 9 0 Enter Escape Backspace Tab Spacebar Minus Equal LeftBracket "
    "RightBracket Backslash VerticalBar Semicolon Apostrophe Tilde Comma Period Slash CapsLock "
    "F1 F2 F3 F4 F5 F6 F7 F8 F9 F10 F11 F12 PrintScreen ScrollLock Pause Insert Home PageUp "
    "DeleteForward End PageDown RightArrow LeftArrow DownArrow UpArrow KeypadNumlock KeypadSlash "
    "KeypadAsterisk KeypadMinus KeypadPlus KeypadEnter Keypad1 Keypad2 Keypad3 Keypad4 Keypad5 "
    "Keypad6 Keypad7 Keypad8 Keypad9 Keypad0 KeypadPeriod NonUsBackslash WindowsKey Power "
    "KeypadEqual F13 F14 F15 F16 F17 F18 F19 F20 F21 F22 F23 F24 N/A N/A Menu N/A N/A N/A N/A "
    "N/A N/A N/A N/A N/A VolumeUp VolumeDown";

std::vector<std::string> expectedNames() {
  std::vector<std::string> names;
  std::istringstream in(kNames);
  for (std::string name; in >> name;) names.push_back(name);
  return names;
}

}  // namespace

TEST(ShortCodeList, HoldsOneEntryPerCodeUpTo0x81) {
  ASSERT_EQ(kc::shortCodeList.size(), 130u);
  ASSERT_EQ(expectedNames().size(), 130u);
}

TEST(ShortCodeList, EveryEntryIsCodeSpacingNameAndTabs) {
  const std::map<int, int> spaces{{0x0A, 3}, {0x10, 3}, {0x1A, 3}, {0x7E, 5},
                                  {0x7F, 5}, {0x80, 5}, {0x81, 5}};
  const std::map<int, int> tabs{{0x74, 4}, {0x75, 4}, {0x80, 3}, {0x81, 3}};
  const auto names = expectedNames();
  for (int code = 0; code < 130; ++code) {
    const int run = spaces.count(code) ? spaces.at(code) : 4;
    const int tabCount = tabs.count(code) ? tabs.at(code) : 0;
    const std::string expected = kc::FormatKeyCode(code) + std::string(run, ' ') +
                                 names[static_cast<std::size_t>(code)] +
                                 std::string(tabCount, '\t');
    EXPECT_EQ(kc::shortCodeList[static_cast<std::size_t>(code)], expected) << "code " << code;
  }
}

TEST(ShortCodeList, OddEntriesReadExactly) {
  EXPECT_EQ(kc::shortCodeList[0x04], "0x04    a");
  EXPECT_EQ(kc::shortCodeList[0x28], "0x28    Enter");
  EXPECT_EQ(kc::shortCodeList[0x0A], "0x0A   g");
  EXPECT_EQ(kc::shortCodeList[0x10], "0x10   m");
  EXPECT_EQ(kc::shortCodeList[0x1A], "0x1A   w");
  EXPECT_EQ(kc::shortCodeList[0x74], "0x74    N/A\t\t\t\t");
  EXPECT_EQ(kc::shortCodeList[0x75], "0x75    N/A\t\t\t\t");
  EXPECT_EQ(kc::shortCodeList[0x7E], "0x7E     N/A");
  EXPECT_EQ(kc::shortCodeList[0x7F], "0x7F     N/A");
  EXPECT_EQ(kc::shortCodeList[0x80], "0x80     VolumeUp\t\t\t");
  EXPECT_EQ(kc::shortCodeList[0x81], "0x81     VolumeDown\t\t\t");
  EXPECT_EQ(kc::shortCodeList[0x32], "0x32    VerticalBar");
  EXPECT_EQ(kc::shortCodeList[0x53], "0x53    KeypadNumlock");
  EXPECT_EQ(kc::shortCodeList[0x65], "0x65    WindowsKey");
}

TEST(ModifierList, EntriesKeepTheirOddSpacing) {
  const std::vector<std::string> expected{" None",       "Left  Ctrl",   "Left Shift",
                                          "Left    Alt", "Left   Gui",   "Right  Ctrl",
                                          "Right Shift", "Right    Alt", "Right   Gui"};
  ASSERT_EQ(kc::modifierList.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i)
    EXPECT_EQ(kc::modifierList[i], expected[i]) << "index " << i;
}

TEST(FormatKeyCode, AlwaysTwoUppercaseDigits) {
  EXPECT_EQ(kc::FormatKeyCode(0), "0x00");
  EXPECT_EQ(kc::FormatKeyCode(0x05), "0x05");
  EXPECT_EQ(kc::FormatKeyCode(15), "0x0F");
  EXPECT_EQ(kc::FormatKeyCode(16), "0x10");
  EXPECT_EQ(kc::FormatKeyCode(0x6F), "0x6F");
  EXPECT_EQ(kc::FormatKeyCode(0xAB), "0xAB");
  EXPECT_EQ(kc::FormatKeyCode(0xE2), "0xE2");  // above the list, still shown
  EXPECT_EQ(kc::FormatKeyCode(0xFF), "0xFF");
}

TEST(ModifierConversion, IndexAndByteMapBothWays) {
  EXPECT_EQ(kc::ModifierIndexToByte(0), 0);
  EXPECT_EQ(kc::ModifierIndexToByte(1), 0xE0);
  EXPECT_EQ(kc::ModifierIndexToByte(8), 0xE7);
  EXPECT_EQ(kc::ModifierByteToIndex(0xE7), 8);
  EXPECT_EQ(kc::ModifierByteToIndex(0xE0), 1);
  EXPECT_EQ(kc::ModifierByteToIndex(0), 0);
  EXPECT_EQ(kc::ModifierByteToIndex(3), 3);
  for (int index = 0; index <= 8; ++index)
    EXPECT_EQ(kc::ModifierByteToIndex(kc::ModifierIndexToByte(index)), index) << index;
}

TEST(ModifierConversion, BytesWithoutAnEntryAreRecognised) {
  EXPECT_EQ(kc::ModifierIndexToByte(9), -1);
  EXPECT_EQ(kc::ModifierIndexToByte(-1), -1);
  EXPECT_TRUE(kc::hasModifierEntry(0));
  EXPECT_TRUE(kc::hasModifierEntry(8));  // taken as an index
  EXPECT_TRUE(kc::hasModifierEntry(0xE7));
  EXPECT_FALSE(kc::hasModifierEntry(9));
  EXPECT_FALSE(kc::hasModifierEntry(0xDF));
  EXPECT_FALSE(kc::hasModifierEntry(0xE8));
  EXPECT_FALSE(kc::hasModifierEntry(0xFF));
  EXPECT_TRUE(kc::isModifierByte(0xE3));
  EXPECT_FALSE(kc::isModifierByte(3));
}

TEST(KeyLookup, NamesGiveTheirCodes) {
  EXPECT_EQ(kc::keyCodeByName("F20"), 0x6F);
  EXPECT_EQ(kc::keyCodeByName("a"), 0x04);
  EXPECT_EQ(kc::keyCodeByName("Enter"), 0x28);
  EXPECT_EQ(kc::keyCodeByName("enter"), 0x28);
  EXPECT_EQ(kc::keyCodeByName("A"), 0x04);
  EXPECT_EQ(kc::keyCodeByName("1"), 0x1E);
  EXPECT_EQ(kc::keyCodeByName("0"), 0x27);
  EXPECT_EQ(kc::keyCodeByName("VolumeDown"), 0x81);   // trailing tabs are not part of the name
  EXPECT_EQ(kc::keyCodeByName("N/A"), std::nullopt);  // names several codes
  EXPECT_EQ(kc::keyCodeByName(""), std::nullopt);
  EXPECT_EQ(kc::keyCodeByName("F25"), std::nullopt);
  EXPECT_EQ(kc::keyCodeByName("F2 "), std::nullopt);
}

TEST(KeyLookup, EveryUniqueNameRoundTrips) {
  const auto names = expectedNames();
  for (int code = 0; code <= 0x81; ++code) {
    const auto& name = names[static_cast<std::size_t>(code)];
    EXPECT_EQ(kc::keyName(code), name);
    if (name != "N/A") {
      EXPECT_EQ(kc::keyCodeByName(name), code) << name;
    }
  }
  EXPECT_EQ(kc::keyName(0x82), "");
  EXPECT_EQ(kc::keyName(-1), "");
}

TEST(KeyLookup, HexCodesCoverTheWholeByte) {
  EXPECT_EQ(kc::parseKeyCode("0x6F"), 0x6F);
  EXPECT_EQ(kc::parseKeyCode("0xe2"), 0xE2);
  EXPECT_EQ(kc::parseKeyCode("0XFF"), 0xFF);
  EXPECT_EQ(kc::parseKeyCode("0x0"), 0x00);
  EXPECT_EQ(kc::parseKeyCode("Enter"), 0x28);
  EXPECT_EQ(kc::parseKeyCode("0x100"), std::nullopt);
  EXPECT_EQ(kc::parseKeyCode("0x1G"), std::nullopt);
  EXPECT_EQ(kc::parseKeyCode("0x"), std::nullopt);
  EXPECT_EQ(kc::parseKeyCode("0x-1"), std::nullopt);
}

TEST(ModifierLookup, ShortNamesMapToModifierBytes) {
  const std::vector<std::pair<std::string, int>> expected{
      {"None", 0x00},       {"LeftCtrl", 0xE0}, {"LeftShift", 0xE1},
      {"LeftAlt", 0xE2},    {"LeftGui", 0xE3},  {"RightCtrl", 0xE4},
      {"RightShift", 0xE5}, {"RightAlt", 0xE6}, {"RightGui", 0xE7}};
  for (const auto& [name, byte] : expected) {
    EXPECT_EQ(kc::modifierByteByName(name), byte) << name;
    EXPECT_EQ(kc::modifierName(byte), name);
  }
  EXPECT_EQ(kc::modifierByteByName("leftshift"), 0xE1);
  EXPECT_EQ(kc::modifierByteByName("Shift"), std::nullopt);
  EXPECT_EQ(kc::modifierByteByName(" None"), std::nullopt);
  EXPECT_EQ(kc::modifierName(3), "");
  EXPECT_EQ(kc::modifierName(0xE8), "");
}

TEST(ResetTable, IsF20ToF23ThenUpArrowAndEnterWithoutModifiers) {
  EXPECT_EQ(kc::kResetKeyTable, (std::array<std::uint8_t, 12>{0x00, 0x6F, 0x00, 0x70, 0x00, 0x71,
                                                              0x00, 0x72, 0x00, 0x52, 0x00, 0x28}));
  EXPECT_EQ(kc::keyName(kc::kResetKeyTable[1]), "F20");
  EXPECT_EQ(kc::keyName(kc::kResetKeyTable[11]), "Enter");
}
