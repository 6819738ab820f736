#pragma once
// How talkgatectl lays out its help texts: wrapped at 100 columns, entries as "usage  text".
// The manual page is made from this layout (packaging/help_to_man.cmake reads it back).

#include <cstddef>
#include <ostream>
#include <string_view>

namespace talkgate::cli {

inline constexpr std::size_t kHelpLineWidth = 100;
inline constexpr std::size_t kHelpIndent = 2;
inline constexpr std::size_t kHelpUsageColumn = 32;  // where descriptions start
inline constexpr std::size_t kHelpCodeColumn = 5;    // where exit status meanings start

// Writes text wrapped at kHelpLineWidth, every line after the first indented by indent blanks.
// The first line starts at column `column`.
void writeWrapped(std::ostream& out, std::string_view text, std::size_t column, std::size_t indent);

// One "  usage   description" entry; a usage too long for its column gets a line of its own.
void writeEntry(std::ostream& out, std::string_view usage, std::string_view description,
                std::size_t descriptionColumn = kHelpUsageColumn);

// A paragraph indented like the entries.
void writeParagraph(std::ostream& out, std::string_view text);

}  // namespace talkgate::cli
