// Suggestions for mistyped key and modifier names.

#include "keycodes/name_suggestions.h"

#include <gtest/gtest.h>

#include <string_view>
#include <vector>

#include "keycodes/key_catalogue.h"

namespace kc = talkgate::keycodes;
using Names = std::vector<std::string_view>;

TEST(EditDistance, CountsInsertionsDeletionsSubstitutionsAndSwapsIgnoringCase) {
  EXPECT_EQ(kc::editDistanceIgnoringCase("Enter", "ENTER"), 0u);
  EXPECT_EQ(kc::editDistanceIgnoringCase("Entr", "Enter"), 1u);
  EXPECT_EQ(kc::editDistanceIgnoringCase("Enterr", "Enter"), 1u);
  EXPECT_EQ(kc::editDistanceIgnoringCase("Emter", "Enter"), 1u);
  EXPECT_EQ(kc::editDistanceIgnoringCase("Etner", "Enter"), 1u);
  EXPECT_EQ(kc::editDistanceIgnoringCase("", "Tab"), 3u);
  EXPECT_EQ(kc::editDistanceIgnoringCase("kitten", "sitting"), 3u);
}

TEST(ClosestNames, PrefixesComeFirstThenSlipsAndFarNamesNever) {
  EXPECT_EQ(kc::similarKeyNames("Space"), Names{"Spacebar"});
  EXPECT_EQ(kc::similarKeyNames("space"), Names{"Spacebar"});
  EXPECT_EQ(kc::similarKeyNames("Entr"), Names{"Enter"});
  EXPECT_EQ(kc::similarKeyNames("Esc"), Names{"Escape"});
  // Several close names: at most three, in catalogue order within a kind.
  EXPECT_EQ(kc::similarKeyNames("F2x"), (Names{"F2", "F20", "F21"}));
  // Among prefixes the nearest in length first.
  EXPECT_EQ(kc::similarKeyNames("Keypad"), (Names{"Keypad1", "Keypad2", "Keypad3"}));
  EXPECT_EQ(kc::similarModifierNames("leftshit"), Names{"LeftShift"});
  EXPECT_TRUE(kc::similarKeyNames("Hyperdrive").empty());
  EXPECT_TRUE(kc::similarKeyNames("").empty());
  // "N/A" names no single code and so is never offered; a lone letter is no prefix guess.
  EXPECT_TRUE(kc::similarKeyNames("N/").empty());
  EXPECT_EQ(kc::closestNames("q", {"quit", "qq", "b"}), Names{"qq"});
}

TEST(NamedKeyCodes, HoldsEveryCodeWhoseNameSelectsIt) {
  const auto codes = kc::namedKeyCodes();
  ASSERT_FALSE(codes.empty());
  EXPECT_EQ(codes.front(), 0x00);
  EXPECT_EQ(codes.back(), 0x81);
  // Eleven codes share the name "N/A" and are reachable only as 0xNN.
  EXPECT_EQ(codes.size(), kc::kShortCodeCount - 11);
  for (std::uint8_t code : codes) EXPECT_EQ(kc::keyCodeByName(kc::keyName(code)), code);
}
