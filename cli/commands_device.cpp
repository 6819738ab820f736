// talkgatectl commands that act on one Talkgate: status, set, save, factory-reset,
// ambient-value and enter-loader.

#include <chrono>
#include <string>

#include "cli/bus.h"
#include "cli/command.h"
#include "cli/json.h"
#include "cli/text.h"
#include "device/clock.h"
#include "device/commands.h"

namespace talkgate::cli {

namespace {

std::string describeAmbient(std::uint8_t value) {
  if (value == 0) return "disabled";
  if (value == 1) return "enabled";
  return std::to_string(value) + " (unknown value)";
}

std::string describeKeypad(std::uint8_t value) {
  if (value == 0) return "default table";
  if (value == 1) return "customised table";
  return std::to_string(value) + " (unknown value)";
}

std::string describeBrightness(std::uint8_t value) {
  std::string text = std::to_string(value);
  if (value > kMaxSymbolBrightness) text += " (out of range)";
  return text;
}

void printStatusJson(std::ostream& out, const DeviceStatus& status) {
  JsonWriter json(out);
  json.beginObject();
  json.key("symbol_led_brightness");
  json.value(static_cast<int>(status.symbolBrightness));
  json.key("ambient");
  json.value(static_cast<int>(status.ambientConfig));
  json.key("keypad_type");
  json.value(static_cast<int>(status.keypadType));
  json.key("key_table");
  json.beginArray(true);
  for (std::uint8_t byte : status.keyTable) json.value(static_cast<int>(byte));
  json.endArray();
  json.key("firmware_version");
  json.value(status.firmwareVersion);
  json.key("serial_number");
  json.value(status.serialNumber);
  json.key("temperature");
  json.value(status.temperature);
  json.endObject();
  json.finish();
}

void printStatusText(Context& ctx, const DeviceStatus& status) {
  LabelledRows rows;
  rows.add("Manufacturer", deviceText(ctx.manufacturer()));
  rows.add("Product", deviceText(ctx.product()));
  rows.add("Firmware version", deviceText(status.firmwareVersion));
  rows.add("Serial number", deviceText(status.serialNumber));
  rows.add("Temperature", deviceText(status.temperature));
  rows.add("Symbol LED brightness", describeBrightness(status.symbolBrightness));
  rows.add("Ambient function", describeAmbient(status.ambientConfig));
  rows.add("Keypad type", describeKeypad(status.keypadType));
  rows.add("Key code table", hexBytes(status.keyTable.data(), status.keyTable.size()));
  rows.print(ctx.out());
}

int runStatus(Context& ctx) {
  if (int code = 0; !ctx.noArguments("status", code)) return code;
  const DeviceHandle device = ctx.openDevice();
  if (!device) return kExitFailure;
  DeviceStatus status;
  if (const int result = readStatus(device, status); result != kOk) {
    return ctx.requestFailed("read the device status", result);
  }
  if (ctx.json()) {
    printStatusJson(ctx.out(), status);
  } else {
    printStatusText(ctx, status);
  }
  return kExitOk;
}

// Confirms a setting change; with --json {"ok": true, "setting": ..., "value": ...}.
template <typename Value>
void confirmSetting(Context& ctx, const std::string& sentence, std::string_view setting,
                    const Value& value) {
  ctx.confirm(sentence, [&](JsonWriter& json) {
    json.key("setting");
    json.value(setting);
    json.key("value");
    json.value(value);
  });
}

// A choice between named values; the index in names is the device value.
bool parseChoice(const std::string& text, std::initializer_list<std::string_view> names,
                 std::uint8_t& value) {
  std::uint8_t index = 0;
  for (std::string_view name : names) {
    if (text == name) {
      value = index;
      return true;
    }
    ++index;
  }
  return false;
}

bool isPrintableAscii(std::string_view text) {
  for (unsigned char c : text) {
    if (c < 0x20 || c > 0x7E) return false;
  }
  return true;
}

int runSet(Context& ctx) {
  const auto& args = ctx.args();
  if (args.empty()) {
    return ctx.badInput("'set' needs a setting: brightness, ambient, keypad or serial.");
  }
  const std::string& setting = args[0];
  const bool known =
      setting == "brightness" || setting == "ambient" || setting == "keypad" || setting == "serial";
  if (!known) {
    return ctx.badInput("Unknown setting '" + printableBytes(setting) +
                        "'; the settings are brightness, ambient, keypad and serial.");
  }
  if (args.size() < 2) return ctx.badInput("'set " + setting + "' needs a value.");
  if (args.size() > 2) {
    return ctx.badInput("'set " + setting + "' takes one value, but got also '" +
                        printableBytes(args[2]) + "'.");
  }
  const std::string& text = args[1];

  if (setting == "brightness") {
    const auto value = parseDecimal(text, kMaxSymbolBrightness);
    if (!value) {
      return ctx.badInput("The symbol LED brightness must be a whole number from 0 to 9, not '" +
                          printableBytes(text) + "'.");
    }
    const DeviceHandle device = ctx.openDevice();
    if (!device) return kExitFailure;
    if (const int r = setSymbolBrightness(device, static_cast<std::uint8_t>(*value)); r != kOk) {
      return ctx.requestFailed("set the symbol LED brightness", r);
    }
    confirmSetting(ctx, "Symbol LED brightness set to " + std::to_string(*value) + ".",
                   "brightness", static_cast<int>(*value));
    return kExitOk;
  }

  if (setting == "ambient") {
    std::uint8_t value = 0;
    if (!parseChoice(text, {"disable", "enable"}, value)) {
      return ctx.badInput("The ambient function takes 'enable' or 'disable', not '" +
                          printableBytes(text) + "'.");
    }
    const DeviceHandle device = ctx.openDevice();
    if (!device) return kExitFailure;
    if (const int r = setAmbientConfig(device, value); r != kOk) {
      return ctx.requestFailed("set the ambient configuration", r);
    }
    confirmSetting(ctx, value ? "Ambient function enabled." : "Ambient function disabled.",
                   "ambient", static_cast<int>(value));
    return kExitOk;
  }

  if (setting == "keypad") {
    std::uint8_t value = 0;
    if (!parseChoice(text, {"default", "custom"}, value)) {
      return ctx.badInput("The keypad type takes 'default' or 'custom', not '" +
                          printableBytes(text) + "'.");
    }
    const DeviceHandle device = ctx.openDevice();
    if (!device) return kExitFailure;
    if (const int r = setKeypadType(device, value); r != kOk) {
      return ctx.requestFailed("set the keypad type", r);
    }
    confirmSetting(ctx,
                   value ? "Keypad type set to the customised key code table."
                         : "Keypad type set to the default key code table.",
                   "keypad", static_cast<int>(value));
    return kExitOk;
  }

  // serial
  if (!isValidSerialNumber(text) || !isPrintableAscii(text)) {
    return ctx.badInput("A serial number has exactly 8 or 12 printable ASCII characters; '" +
                        printableBytes(text) + "' has " + std::to_string(text.size()) +
                        (isPrintableAscii(text) ? "." : " bytes, not all printable ASCII."));
  }
  const DeviceHandle device = ctx.openDevice();
  if (!device) return kExitFailure;
  if (const int r = setSerialNumber(device, text); r != kOk) {
    return ctx.requestFailed("set the serial number", r);
  }
  confirmSetting(ctx, "Serial number set to " + text + ".", "serial", std::string_view(text));
  return kExitOk;
}

int runSave(Context& ctx) {
  if (int code = 0; !ctx.noArguments("save", code)) return code;
  const DeviceHandle device = ctx.openDevice();
  if (!device) return kExitFailure;
  if (const int r = storeDefaults(device); r != kOk) {
    return ctx.requestFailed("store the settings as the device's defaults", r);
  }
  ctx.confirm("The Talkgate stored its current settings as its defaults.");
  return kExitOk;
}

int runFactoryReset(Context& ctx) {
  if (int code = 0; !ctx.noArguments("factory-reset", code)) return code;
  const DeviceHandle device = ctx.openDevice();
  if (!device) return kExitFailure;
  if (const int r = factoryReset(device); r != kOk) {
    return ctx.requestFailed("reset the device to its factory values", r);
  }
  ctx.confirm("The Talkgate is back on its factory values.");
  return kExitOk;
}

int runAmbientValue(Context& ctx) {
  if (int code = 0; !ctx.noArguments("ambient-value", code)) return code;
  const DeviceHandle device = ctx.openDevice();
  if (!device) return kExitFailure;
  std::uint16_t value = 0;
  if (const int r = readAmbientValue(device, value); r != kOk) {
    return ctx.requestFailed("read the ambient value", r);
  }
  if (ctx.json()) {
    JsonWriter json(ctx.out());
    json.beginObject();
    json.key("ambient_value");
    json.value(static_cast<int>(value));
    json.endObject();
    json.finish();
  } else {
    LabelledRows rows;
    rows.add("Ambient value", std::to_string(value));
    rows.print(ctx.out());
  }
  return kExitOk;
}

// True when no Talkgate configuration interface is left on the bus, or a loader is there.
bool talkgateLeftForLoader(Context& ctx) {
  hid::Port& port = ctx.startedPort();
  return !loaderInterfaces(port).empty() || talkgateConfigInterfaces(port).empty();
}

int runEnterLoader(Context& ctx) {
  if (int code = 0; !ctx.noArguments("enter-loader", code)) return code;
  // A loader nothing here could program would strand the Talkgate without its firmware.
  if (int code = 0; !ctx.loaderImagesAtHand(code)) return code;
  const DeviceHandle device = ctx.openDevice();
  if (!device) return kExitFailure;
  const int r = enterLoader(device);
  // The device may restart before it answers; a lost reply is fine once it has left.
  if (r != kOk && !((r == kErrIo || r == kErrTimeout) && talkgateLeftForLoader(ctx))) {
    return ctx.requestFailed("switch the Talkgate to its bootstrap loader", r);
  }
  // The loader enumerates a moment after the Talkgate has left (about a second on a real bus);
  // wait for it, as an upgrade would, so that the next command finds it.
  constexpr int kLoaderWaitMs = 10000;
  constexpr int kBusPollMs = 100;
  Clock& clock = activeClock();
  const auto end = clock.now() + std::chrono::milliseconds(kLoaderWaitMs);
  while (loaderInterfaces(ctx.startedPort()).empty() && clock.now() < end) {
    clock.sleepFor(std::chrono::milliseconds(kBusPollMs));
  }
  ctx.confirm("The Talkgate left HID operation for its bootstrap loader.");
  return kExitOk;
}

}  // namespace

void registerDeviceCommands(CommandRegistry& registry) {
  registry.add(
      {"status",
       {{"status", "Show the settings, key code table and identification of the Talkgate."}},
       {},
       runStatus,
       {"talkgatectl status", "talkgatectl status --json",
        "talkgatectl --device /dev/hidraw3 status", "talkgatectl --all status"},
       kDeviceFailureMeaning,
       true});
  registry.add({"set",
                {{"set brightness N", "Set the symbol LED brightness, N from 0 to 9."},
                 {"set ambient enable|disable", "Switch the ambient function on or off."},
                 {"set keypad default|custom",
                  "Use the device's default key code table or the customised one."},
                 {"set serial TEXT",
                  "Store a new serial number: 8 or 12 printable ASCII "
                  "characters."}},
                {},
                runSet,
                {"talkgatectl set brightness 7", "talkgatectl set ambient enable",
                 "talkgatectl set keypad custom", "talkgatectl set serial TG260042",
                 "talkgatectl --all set brightness 7"},
                kDeviceFailureMeaning,
                true});
  registry.add({"save",
                {{"save", "Make the Talkgate store its current settings as its defaults."}},
                {},
                runSave,
                {"talkgatectl set brightness 7 && talkgatectl save"},
                kDeviceFailureMeaning,
                true});
  registry.add({"factory-reset",
                {{"factory-reset", "Return the Talkgate to its factory values."}},
                {},
                runFactoryReset,
                {"talkgatectl factory-reset", "talkgatectl --all factory-reset"},
                kDeviceFailureMeaning,
                true});
  registry.add({"ambient-value",
                {{"ambient-value", "Read the ambient light sensor (0 to 65535)."}},
                {},
                runAmbientValue,
                {"talkgatectl ambient-value", "talkgatectl --json ambient-value"},
                kDeviceFailureMeaning,
                true});
  registry.add({"enter-loader",
                {{"enter-loader",
                  "Restart the Talkgate into its bootstrap loader for a firmware "
                  "upgrade; it leaves the bus as a keyboard."}},
                {},
                runEnterLoader,
                {"talkgatectl enter-loader && talkgatectl list"}});
}

}  // namespace talkgate::cli
