// The --help text of talkgatectl, built from the command registry and the option table.

#include <string>
#include <string_view>

#include "cli/command.h"
#include "cli/help_layout.h"
#include "cli/options.h"

namespace talkgate::cli {

void printHelp(std::ostream& out, const CommandRegistry& registry) {
  out << "Usage: talkgatectl [OPTIONS] COMMAND [ARGUMENTS]\n\n";
  writeWrapped(out,
               "Shows and changes the settings of a Velkor Talkgate (USB 2047:0922, HID interface "
               "1) from the command line. Options may stand before or after the command; \"--\" "
               "ends the options, so that a value may start with \"-\".",
               0, 0);
  out << "\nCommands:\n";
  for (const auto& command : registry.all()) {
    for (const auto& entry : command.help) writeEntry(out, entry.usage, entry.description);
  }
  writeEntry(out, "help [COMMAND]",
             "Show this help, or only the forms, examples and exit status of COMMAND (also "
             "'talkgatectl COMMAND --help').");

  out << "\nOptions:\n";
  for (const auto& option : globalOptionSpecs()) {
    std::string usage(option.name);
    if (!option.valueName.empty()) usage.append(" ").append(option.valueName);
    writeEntry(out, usage, option.description);
  }

  out << "\nOutput:\n";
  // Paragraphs apart by a blank line, so that the manual page can tell them apart.
  bool firstParagraph = true;
  for (const char* paragraph : {
           "'status' prints one line per item. With --json it prints one object with the "
           "keys symbol_led_brightness (0 to 9), ambient (0 disabled, 1 enabled), "
           "keypad_type (0 default table, 1 customised table), key_table (12 numbers: the "
           "modifier and key code of each of 6 slots; slots 1 to 4 are Detected, Not "
           "Detected, Day and Night), firmware_version, serial_number and temperature.",
           "Texts from the device may hold any bytes: in JSON well-formed UTF-8 (as in a file "
           "name) is kept and every other byte outside printable ASCII is "
           "written as a \\u00XX escape, in plain output as \\xNN; device texts longer than 32 "
           "characters are cut in tables.",
           "With --json, 'table show' prints an object whose key_table holds the 12 bytes "
           "and whose events list the four events, 'ambient-value' prints "
           "{\"ambient_value\": N}, 'list' an array of interfaces, and the other commands "
           "{\"ok\": true, ...} on success.",
           "'upgrade' prints its log lines, on a terminal above a progress bar. With --json "
           "it prints one object at the end: ok, firmware_version (as read back from the "
           "upgraded Talkgate, or null), serial_number_restored, settings_restored and log "
           "(the log lines).",
           "With --all, each Talkgate's answer follows its path and serial number on one line "
           "(a longer one on the lines below it), then a summary line. With --json it prints "
           "one array of objects with path, serial_number, ok, exit_status (null for a device "
           "the command did not reach), result (the command's own JSON document, or null) and "
           "error (its messages, or null).",
           "'doctor' prints one line per check: the check, then 'ok' with what it found, or "
           "the problem and 'Fix:' with what to do. With --json it prints an object with ok "
           "and checks, each with check, ok, detail and fix (null when ok). 'keys --json' "
           "prints an object with keys (name, code) and modifiers (name, byte).",
       }) {
    if (!firstParagraph) out << '\n';
    writeParagraph(out, paragraph);
    firstParagraph = false;
  }

  out << "\nExit status:\n";
  writeEntry(out, "0", "Success.", kHelpCodeColumn);
  writeEntry(out, "1",
             std::string(kDeviceFailureMeaning) +
                 " For 'upgrade': the Talkgate is not back on verified new firmware with its "
                 "settings; the message says how to recover. With --all: a device failed, or "
                 "none is connected. For 'doctor': a check found a problem.",
             kHelpCodeColumn);
  writeEntry(out, "2", kBadInputMeaning, kHelpCodeColumn);

  out << "\nExamples:\n";
  out << "  talkgatectl status\n"
         "  talkgatectl set brightness 7 && talkgatectl save\n"
         "  talkgatectl --json status\n"
         "  talkgatectl table set detected=F20 night=a+LeftShift\n"
         "  talkgatectl config save        # on the device whose settings are the model\n"
         "  talkgatectl config restore     # on each further device\n"
         "  talkgatectl --simulate --sim-state sim.json set ambient enable\n"
         "  talkgatectl --simulate --sim-state sim.json status --json\n"
         "  talkgatectl --simulate --sim-state sim.json --sim-fault unplug@70 upgrade fw.txt "
         "--yes\n"
         "  talkgatectl upgrade talkgate_fw_1.1.0.txt --yes\n"
         "  talkgatectl --all set brightness 7 && talkgatectl --all save\n"
         "  talkgatectl --simulate --sim-devices 3 --sim-state fleet.json --all status\n"
         "  talkgatectl doctor\n"
         "  talkgatectl keys\n"
         "  talkgatectl help table\n";
}

}  // namespace talkgate::cli
