// talkgatectl commands that look at the whole bus rather than one device: list.

#include "cli/bus.h"
#include "cli/command.h"
#include "cli/json.h"
#include "cli/text.h"

namespace talkgate::cli {

namespace {

struct Found {
  hid::DeviceInfo info;
  std::string kind;  // "talkgate" or "loader"
  std::string role;  // "configuration", "keyboard", "loader" or "other"
};

std::vector<Found> findDevices(hid::Port& port) {
  std::vector<Found> found;
  for (auto& info : port.enumerate(static_cast<std::uint16_t>(kVendorId),
                                   static_cast<std::uint16_t>(kProductId))) {
    std::string role = info.interfaceNumber == kConfigInterface ? "configuration"
                       : info.interfaceNumber == 0              ? "keyboard"
                                                                : "other";
    found.push_back({std::move(info), "talkgate", std::move(role)});
  }
  for (auto& info : loaderInterfaces(port)) {
    found.push_back({std::move(info), "loader", "loader"});
  }
  return found;
}

int runList(Context& ctx) {
  if (!ctx.args().empty()) {
    return ctx.badInput("'list' takes no arguments, but got '" + printableBytes(ctx.args()[0]) +
                        "'.");
  }
  const bool quietReal = ctx.flag("--quiet-real");
  if (quietReal && ctx.options().simulate) {
    return ctx.badInput("--quiet-real looks at the USB bus and cannot be used with --simulate.");
  }
  const std::vector<Found> found = findDevices(ctx.startedPort());
  if (quietReal) return found.empty() ? kExitFailure : kExitOk;

  if (ctx.json()) {
    JsonWriter json(ctx.out());
    json.beginArray();
    for (const auto& f : found) {
      json.beginObject();
      json.key("kind");
      json.value(f.kind);
      json.key("role");
      json.value(f.role);
      json.key("path");
      json.value(f.info.path);
      json.key("interface");
      json.value(f.info.interfaceNumber);
      json.key("serial_number");
      json.value(std::wstring_view(f.info.serialNumber));
      json.key("vendor_id");
      json.value(static_cast<int>(f.info.vendorId));
      json.key("product_id");
      json.value(static_cast<int>(f.info.productId));
      // The USB port, the same for a Talkgate and its loader; null where the system does not
      // tell.
      json.key("location");
      if (f.info.location.empty()) {
        json.nullValue();
      } else {
        json.value(f.info.location);
      }
      json.endObject();
    }
    json.endArray();
    json.finish();
    return kExitOk;
  }
  if (found.empty()) {
    ctx.out() << "No Talkgate or bootstrap loader is connected.\n";
    return kExitOk;
  }
  std::vector<std::vector<std::string>> rows;
  for (const auto& f : found) {
    rows.push_back({f.kind == "talkgate" ? "Talkgate" : "Loader",
                    std::to_string(f.info.interfaceNumber), f.role,
                    f.info.serialNumber.empty() ? "-" : deviceText(f.info.serialNumber),
                    printablePath(f.info.path)});
  }
  printColumns(ctx.out(), {"DEVICE", "INTERFACE", "ROLE", "SERIAL", "PATH"}, rows);
  return kExitOk;
}

}  // namespace

void registerBusCommands(CommandRegistry& registry) {
  registry.add({"list",
                {{"list",
                  "List every Talkgate interface and bootstrap loader (2047:0200) on the "
                  "bus: path, interface, serial number (with --json also the USB port, the "
                  "same for a Talkgate and its loader). Give --device the path of a "
                  "configuration interface."},
                 {"list --quiet-real",
                  "Print nothing; exit 0 when a Talkgate or loader is on the "
                  "USB bus, 1 when none is."}},
                {"--quiet-real"},
                runList,
                {"talkgatectl list", "talkgatectl list --json",
                 "talkgatectl list --quiet-real || echo 'nothing plugged in'"},
                "With --quiet-real: no Talkgate or loader is on the USB bus."});
}

}  // namespace talkgate::cli
