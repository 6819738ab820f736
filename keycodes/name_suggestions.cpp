#include "keycodes/name_suggestions.h"

#include <algorithm>
#include <cctype>
#include <tuple>

#include "keycodes/key_catalogue.h"

namespace talkgate::keycodes {

namespace {

char folded(char c) {
  return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

bool startsWithIgnoringCase(std::string_view text, std::string_view prefix) {
  if (prefix.size() > text.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (folded(text[i]) != folded(prefix[i])) return false;
  }
  return true;
}

// How many slips a name of this length may hold and still count as meant: one per three
// letters, at least one.
std::size_t allowedSlips(std::size_t length) {
  return std::max<std::size_t>(1, length / 3);
}

}  // namespace

std::size_t editDistanceIgnoringCase(std::string_view a, std::string_view b) {
  // Optimal string alignment distance over three rows of the table.
  std::vector<std::size_t> twoBack(b.size() + 1);
  std::vector<std::size_t> previous(b.size() + 1);
  std::vector<std::size_t> current(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) previous[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    current[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t cost = folded(a[i - 1]) == folded(b[j - 1]) ? 0 : 1;
      current[j] = std::min({previous[j] + 1, current[j - 1] + 1, previous[j - 1] + cost});
      if (i > 1 && j > 1 && folded(a[i - 1]) == folded(b[j - 2]) &&
          folded(a[i - 2]) == folded(b[j - 1])) {
        current[j] = std::min(current[j], twoBack[j - 2] + 1);
      }
    }
    std::swap(twoBack, previous);
    std::swap(previous, current);
  }
  return previous[b.size()];
}

std::vector<std::string_view> closestNames(std::string_view typed,
                                           const std::vector<std::string_view>& candidates,
                                           std::size_t limit) {
  if (typed.empty()) return {};
  // Ranked by kind (0 prefix, 1 slips), then closeness, then catalogue order.
  std::vector<std::tuple<int, std::size_t, std::size_t>> ranked;
  for (std::size_t index = 0; index < candidates.size(); ++index) {
    const std::string_view name = candidates[index];
    const std::size_t distance = editDistanceIgnoringCase(typed, name);
    if (distance == 0) continue;
    const bool prefix = startsWithIgnoringCase(name, typed) || startsWithIgnoringCase(typed, name);
    // A one-letter prefix ("F") matches too much to be a guess at anything.
    if (prefix && std::min(typed.size(), name.size()) >= 2) {
      ranked.emplace_back(0, distance, index);
    } else if (distance <= allowedSlips(std::max(typed.size(), name.size())) &&
               distance < name.size()) {
      ranked.emplace_back(1, distance, index);
    }
  }
  std::sort(ranked.begin(), ranked.end());
  std::vector<std::string_view> names;
  for (const auto& [kind, distance, index] : ranked) {
    if (names.size() == limit) break;
    const std::string_view name = candidates[index];
    if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
  }
  return names;
}

std::vector<std::uint8_t> namedKeyCodes() {
  std::vector<std::uint8_t> codes;
  for (int code = 0; code <= kLastListedCode; ++code) {
    if (keyCodeByName(keyName(code)) == code) codes.push_back(static_cast<std::uint8_t>(code));
  }
  return codes;
}

std::vector<std::string_view> similarKeyNames(std::string_view typed) {
  std::vector<std::string_view> names;
  for (std::uint8_t code : namedKeyCodes()) names.push_back(keyName(code));
  return closestNames(typed, names);
}

std::vector<std::string_view> similarModifierNames(std::string_view typed) {
  return closestNames(typed,
                      std::vector<std::string_view>(modifierNames.begin(), modifierNames.end()));
}

}  // namespace talkgate::keycodes
