// talkgatectl keys: the key code catalogue's names and codes and the modifier names, the
// words 'table set' understands. Reads no device.

#include <string>

#include "cli/command.h"
#include "cli/json.h"
#include "cli/text.h"
#include "keycodes/key_catalogue.h"
#include "keycodes/name_suggestions.h"

namespace talkgate::cli {

namespace {

// The modifier bytes in list order: None, then the eight modifier keys.
std::vector<std::uint8_t> modifierBytes() {
  std::vector<std::uint8_t> bytes;
  for (std::size_t index = 0; index < keycodes::kModifierCount; ++index) {
    bytes.push_back(
        static_cast<std::uint8_t>(keycodes::ModifierIndexToByte(static_cast<int>(index))));
  }
  return bytes;
}

void printKeysJson(std::ostream& out) {
  JsonWriter json(out);
  json.beginObject();
  json.key("keys");
  json.beginArray();
  for (std::uint8_t code : keycodes::namedKeyCodes()) {
    json.beginObject();
    json.key("name");
    json.value(keycodes::keyName(code));
    json.key("code");
    json.value(static_cast<int>(code));
    json.endObject();
  }
  json.endArray();
  json.key("modifiers");
  json.beginArray();
  for (std::uint8_t byte : modifierBytes()) {
    json.beginObject();
    json.key("name");
    json.value(keycodes::modifierName(byte));
    json.key("byte");
    json.value(static_cast<int>(byte));
    json.endObject();
  }
  json.endArray();
  json.endObject();
  json.finish();
}

void printKeysText(std::ostream& out) {
  std::vector<std::vector<std::string>> keys;
  for (std::uint8_t code : keycodes::namedKeyCodes()) {
    keys.push_back({std::string(keycodes::keyName(code)), keycodes::FormatKeyCode(code)});
  }
  printColumns(out, {"KEY", "CODE"}, keys);
  out << "(Codes without a name of their own are given as 0xNN, up to 0xFF.)\n\n";
  std::vector<std::vector<std::string>> modifiers;
  for (std::uint8_t byte : modifierBytes()) {
    modifiers.push_back({std::string(keycodes::modifierName(byte)), keycodes::FormatKeyCode(byte)});
  }
  printColumns(out, {"MODIFIER", "BYTE"}, modifiers);
}

int runKeys(Context& ctx) {
  if (int code = 0; !ctx.noArguments("keys", code)) return code;
  if (ctx.json()) {
    printKeysJson(ctx.out());
  } else {
    printKeysText(ctx.out());
  }
  return kExitOk;
}

}  // namespace

void registerKeyCommands(CommandRegistry& registry) {
  registry.add({"keys",
                {{"keys",
                  "List the key names with their codes and the modifier names, as 'table set' "
                  "takes them."}},
                {},
                runKeys,
                {"talkgatectl keys", "talkgatectl keys --json"},
                ""});
}

}  // namespace talkgate::cli
