#include "cli/help_layout.h"

namespace talkgate::cli {

namespace {

void writeBlanks(std::ostream& out, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) out << ' ';
}

}  // namespace

void writeWrapped(std::ostream& out, std::string_view text, std::size_t column,
                  std::size_t indent) {
  std::size_t position = column;
  bool lineEmpty = true;
  while (!text.empty()) {
    const std::size_t end = text.find(' ');
    const std::string_view word = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (word.empty()) continue;
    if (!lineEmpty && position + 1 + word.size() > kHelpLineWidth) {
      out << '\n';
      writeBlanks(out, indent);
      position = indent;
      lineEmpty = true;
    }
    if (!lineEmpty) {
      out << ' ';
      ++position;
    }
    out << word;
    position += word.size();
    lineEmpty = false;
  }
  out << '\n';
}

void writeEntry(std::ostream& out, std::string_view usage, std::string_view description,
                std::size_t descriptionColumn) {
  writeBlanks(out, kHelpIndent);
  out << usage;
  std::size_t column = kHelpIndent + usage.size();
  if (column + 2 > descriptionColumn) {
    out << '\n';
    column = 0;
  }
  writeBlanks(out, descriptionColumn - column);
  writeWrapped(out, description, descriptionColumn, descriptionColumn);
}

void writeParagraph(std::ostream& out, std::string_view text) {
  writeBlanks(out, kHelpIndent);
  writeWrapped(out, text, kHelpIndent, kHelpIndent);
}

}  // namespace talkgate::cli
