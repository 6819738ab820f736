// talkgatectl table: shows and edits the customised key code table (slots 1 to 4, the events
// Detected, Not Detected, Day and Night) with the key code catalogue's names.

#include <array>
#include <optional>
#include <string>

#include "cli/command.h"
#include "cli/json.h"
#include "cli/text.h"
#include "device/commands.h"
#include "keycodes/key_catalogue.h"
#include "keycodes/name_suggestions.h"

namespace talkgate::cli {

namespace {

struct Event {
  std::string_view name;   // as typed: "not-detected"
  std::string_view label;  // as shown: "Not Detected"
};

// Slot s (0-based) of the table: modifier at 2s, key code at 2s + 1.
constexpr std::array<Event, 4> kEvents{{{"detected", "Detected"},
                                        {"not-detected", "Not Detected"},
                                        {"day", "Day"},
                                        {"night", "Night"}}};
constexpr std::uint8_t kCustomisedTable = 1;

std::optional<std::size_t> eventSlot(std::string_view name) {
  for (std::size_t i = 0; i < kEvents.size(); ++i) {
    if (kEvents[i].name == name) return i;
  }
  return std::nullopt;
}

std::string keyText(std::uint8_t code) {
  const std::string_view name = keycodes::keyName(code);
  return name.empty() ? "-" : std::string(name);
}

// The modifier's short name, or its raw byte when the catalogue has no entry for it.
std::string modifierText(std::uint8_t byte) {
  const std::string_view name = keycodes::modifierName(byte);
  return name.empty() ? keycodes::FormatKeyCode(byte) : std::string(name);
}

void printTable(Context& ctx, const KeyTable& table, std::uint8_t keypadType) {
  if (ctx.json()) {
    JsonWriter json(ctx.out());
    json.beginObject();
    json.key("keypad_type");
    json.value(static_cast<int>(keypadType));
    json.key("key_table");
    json.beginArray(true);
    for (std::uint8_t byte : table) json.value(static_cast<int>(byte));
    json.endArray();
    json.key("events");
    json.beginArray();
    for (std::size_t i = 0; i < kEvents.size(); ++i) {
      const std::uint8_t modifier = table[2 * i];
      const std::uint8_t code = table[2 * i + 1];
      json.beginObject();
      json.key("event");
      json.value(kEvents[i].name);
      json.key("key");
      json.value(keycodes::keyName(code));
      json.key("code");
      json.value(static_cast<int>(code));
      json.key("modifier");
      json.value(keycodes::modifierName(modifier));
      json.key("modifier_byte");
      json.value(static_cast<int>(modifier));
      json.endObject();
    }
    json.endArray();
    json.endObject();
    json.finish();
    return;
  }
  std::vector<std::vector<std::string>> rows;
  for (std::size_t i = 0; i < kEvents.size(); ++i) {
    const std::uint8_t modifier = table[2 * i];
    const std::uint8_t code = table[2 * i + 1];
    rows.push_back({std::string(kEvents[i].label), keyText(code), keycodes::FormatKeyCode(code),
                    modifierText(modifier)});
  }
  printColumns(ctx.out(), {"EVENT", "KEY", "CODE", "MODIFIER"}, rows);
  if (keypadType != kCustomisedTable) {
    ctx.out() << "(Not in use: the Talkgate uses its default key code table; 'set keypad custom' "
                 "selects this one.)\n";
  }
}

// Reads the status; on failure reports it and returns nullopt with the exit code set.
std::optional<DeviceStatus> readTable(Context& ctx, int& exitCode) {
  const DeviceHandle device = ctx.openDevice();
  if (!device) {
    exitCode = kExitFailure;
    return std::nullopt;
  }
  DeviceStatus status;
  if (const int r = readStatus(device, status); r != kOk) {
    exitCode = ctx.requestFailed("read the key code table", r);
    return std::nullopt;
  }
  return status;
}

// Writes table when the device uses its customised table; prints the result.
int writeTable(Context& ctx, const DeviceStatus& status, const KeyTable& table) {
  if (status.keypadType != kCustomisedTable) {
    return ctx.failure(
        "The Talkgate uses its default key code table, so the customised one was not written. "
        "Select it first with 'talkgatectl set keypad custom'.");
  }
  if (const int r = writeKeyTable(hid_handle, table); r != kOk) {
    return ctx.requestFailed("write the key code table", r);
  }
  printTable(ctx, table, status.keypadType);
  return kExitOk;
}

int runTableShow(Context& ctx) {
  int code = kExitOk;
  const auto status = readTable(ctx, code);
  if (!status) return code;
  printTable(ctx, status->keyTable, status->keypadType);
  return kExitOk;
}

struct Assignment {
  std::size_t slot = 0;
  std::uint8_t code = 0;
  std::uint8_t modifier = 0;
};

// " Did you mean "Spacebar"?" for the names close to a mistyped one; empty when none is.
std::string didYouMean(const std::vector<std::string_view>& names) {
  if (names.empty()) return {};
  std::string text = " Did you mean ";
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i > 0) text.append(i + 1 == names.size() ? " or " : ", ");
    text.append("\"").append(names[i]).append("\"");
  }
  text.append("?");
  return text;
}

// Parses EVENT=CODE[+MODIFIER]; a missing modifier means none.
bool parseAssignment(const std::string& text, Assignment& out, std::string& error) {
  const auto equals = text.find('=');
  if (equals == std::string::npos) {
    error = singleQuoted(printableBytes(text)) + " is not EVENT=CODE[+MODIFIER].";
    return false;
  }
  const std::string event = text.substr(0, equals);
  const auto slot = eventSlot(event);
  if (!slot) {
    error = "Unknown event '" + printableBytes(event) +
            "'; the events are detected, not-detected, day and night.";
    return false;
  }
  std::string codeText = text.substr(equals + 1);
  std::string modifierText = "None";
  if (const auto plus = codeText.find('+'); plus != std::string::npos) {
    modifierText = codeText.substr(plus + 1);
    codeText.resize(plus);
  }
  const auto code = keycodes::parseKeyCode(codeText);
  if (!code) {
    const std::string suggestion = didYouMean(keycodes::similarKeyNames(codeText));
    error = "Unknown key code '" + printableBytes(codeText) + "' for " + event + "." +
            (suggestion.empty() ? " Give a catalogue name such as F20, a or Enter, or a code "
                                  "such as 0x6F."
                                : suggestion) +
            " 'talkgatectl keys' lists the names.";
    return false;
  }
  const auto modifier = keycodes::modifierByteByName(modifierText);
  if (!modifier) {
    const std::string suggestion = didYouMean(keycodes::similarModifierNames(modifierText));
    error = "Unknown modifier '" + printableBytes(modifierText) + "' for " + event + "." +
            (suggestion.empty() ? " The modifiers are None, LeftCtrl, LeftShift, LeftAlt, "
                                  "LeftGui, RightCtrl, RightShift, RightAlt and RightGui."
                                : suggestion);
    return false;
  }
  out = Assignment{*slot, *code, *modifier};
  return true;
}

int runTableSet(Context& ctx, const std::vector<std::string>& words) {
  if (words.empty()) {
    return ctx.badInput("'table set' needs at least one EVENT=CODE[+MODIFIER].");
  }
  std::vector<Assignment> assignments;
  std::array<bool, kEvents.size()> seen{};
  for (const auto& word : words) {
    Assignment assignment;
    std::string error;
    if (!parseAssignment(word, assignment, error)) return ctx.badInput(error);
    if (seen[assignment.slot]) {
      return ctx.badInput("The event " + std::string(kEvents[assignment.slot].name) +
                          " is given more than once.");
    }
    seen[assignment.slot] = true;
    assignments.push_back(assignment);
  }
  int code = kExitOk;
  const auto status = readTable(ctx, code);
  if (!status) return code;
  KeyTable table = status->keyTable;
  for (const auto& a : assignments) {
    table[2 * a.slot] = a.modifier;
    table[2 * a.slot + 1] = a.code;
  }
  return writeTable(ctx, *status, table);
}

int runTableReset(Context& ctx) {
  int code = kExitOk;
  const auto status = readTable(ctx, code);
  if (!status) return code;
  KeyTable table;
  std::copy(keycodes::kResetKeyTable.begin(), keycodes::kResetKeyTable.end(), table.begin());
  return writeTable(ctx, *status, table);
}

int runTable(Context& ctx) {
  const auto& args = ctx.args();
  if (args.empty()) return ctx.badInput("'table' needs show, set or reset.");
  const std::vector<std::string> rest(args.begin() + 1, args.end());
  if (args[0] == "set") return runTableSet(ctx, rest);
  if (args[0] == "show" || args[0] == "reset") {
    if (!rest.empty()) {
      return ctx.badInput("'table " + args[0] + "' takes no arguments, but got '" +
                          printableBytes(rest[0]) + "'.");
    }
    return args[0] == "show" ? runTableShow(ctx) : runTableReset(ctx);
  }
  return ctx.badInput("Unknown table command '" + printableBytes(args[0]) +
                      "'; use show, set or reset.");
}

}  // namespace

void registerTableCommands(CommandRegistry& registry) {
  registry.add({"table",
                {{"table show",
                  "Show the customised key code table: key name, code and modifier "
                  "of the events Detected, Not Detected, Day and Night."},
                 {"table set EVENT=CODE[+MODIFIER]...",
                  "Change the named events and keep the others. EVENT is detected, not-detected, "
                  "day or night; CODE a catalogue name (F20, a, Enter) or a code (0x6F); "
                  "MODIFIER None (the default), LeftCtrl, LeftShift, LeftAlt, LeftGui, "
                  "RightCtrl, RightShift, RightAlt or RightGui. Written only while the Talkgate "
                  "uses its customised table (set keypad custom)."},
                 {"table reset",
                  "Write the standard table: F20, F21, F22, F23 without "
                  "modifiers (same condition as 'table set')."}},
                {},
                runTable,
                {"talkgatectl set keypad custom", "talkgatectl table show",
                 "talkgatectl table set detected=F20 night=a+LeftShift",
                 "talkgatectl table set day=0x6F", "talkgatectl table reset"},
                kDeviceFailureMeaning,
                true});
}

}  // namespace talkgate::cli
