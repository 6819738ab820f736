#pragma once
// Close matches for a name the catalogue does not know, so that a typing slip ("Space",
// "Entr", "leftshit") is answered with the names that were probably meant. Plain C++.

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace talkgate::keycodes {

// At most this many suggestions are offered: more would not help anyone choose.
inline constexpr std::size_t kMaxSuggestions = 3;

// Edit distance (insertions, deletions, substitutions, swaps of neighbours) between a and b,
// letters compared without regard to case.
std::size_t editDistanceIgnoringCase(std::string_view a, std::string_view b);

// The candidates close to typed, best first, at most limit of them: those that begin with
// typed or that typed begins with, then those within a small edit distance (about one slip per
// three letters). Case is ignored; an exact match is not a suggestion.
std::vector<std::string_view> closestNames(std::string_view typed,
                                           const std::vector<std::string_view>& candidates,
                                           std::size_t limit = kMaxSuggestions);

// The codes whose catalogue name selects them, in code order ("N/A" selects none).
std::vector<std::uint8_t> namedKeyCodes();

// closestNames() over the names of namedKeyCodes().
std::vector<std::string_view> similarKeyNames(std::string_view typed);

// closestNames() over the modifier names.
std::vector<std::string_view> similarModifierNames(std::string_view typed);

}  // namespace talkgate::keycodes
