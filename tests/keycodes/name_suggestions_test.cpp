// Suggestions for mistyped key and modifier names.

#include "keycodes/name_suggestions.h"

#include <gtest/gtest.h>

namespace kc = talkgate::keycodes;
using Names = std::vector<std::string_view>;

TEST(ClosestNames, PrefixesFirstThenSlipsAndFarOrAmbiguousNamesNever) {
  EXPECT_EQ(kc::similarKeyNames("space"), Names{"Spacebar"});
  EXPECT_EQ(kc::similarKeyNames("Entr"), Names{"Enter"});              // a letter left out
  EXPECT_EQ(kc::similarKeyNames("Etner"), Names{"Enter"});             // two letters swapped
  EXPECT_EQ(kc::similarKeyNames("F2x"), (Names{"F2", "F20", "F21"}));  // at most three
  EXPECT_EQ(kc::similarKeyNames("Keypad"), (Names{"Keypad1", "Keypad2", "Keypad3"}));
  EXPECT_EQ(kc::similarModifierNames("leftshit"), Names{"LeftShift"});
  EXPECT_TRUE(kc::similarKeyNames("Hyperdrive").empty());
  EXPECT_TRUE(kc::similarKeyNames("N/").empty()) << "\"N/A\" selects no single code";
  EXPECT_EQ(kc::closestNames("q", {"quit", "qq", "b"}), Names{"qq"})
      << "a lone letter is no prefix";
}
