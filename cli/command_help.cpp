// The help of one talkgatectl command ('talkgatectl help table', 'talkgatectl table --help').

#include "cli/command.h"
#include "cli/help_layout.h"

namespace talkgate::cli {

void printCommandHelp(std::ostream& out, const CommandSpec& command) {
  constexpr std::string_view kFirst = "Usage: ";
  constexpr std::string_view kNext = "       ";
  bool first = true;
  for (const auto& entry : command.help) {
    out << (first ? kFirst : kNext) << "talkgatectl [OPTIONS] " << entry.usage << '\n';
    first = false;
  }

  out << "\nArguments:\n";
  for (const auto& entry : command.help) writeEntry(out, entry.usage, entry.description);

  if (!command.examples.empty()) {
    out << "\nExamples:\n";
    for (const auto& example : command.examples) out << "  " << example << '\n';
  }

  out << "\nExit status:\n";
  writeEntry(out, "0", "Success.", kHelpCodeColumn);
  if (!command.failureMeaning.empty()) {
    writeEntry(out, "1", command.failureMeaning, kHelpCodeColumn);
  }
  writeEntry(out, "2", kBadInputMeaning, kHelpCodeColumn);

  out << "\nThe options every command takes: 'talkgatectl --help'.\n";
}

}  // namespace talkgate::cli
