// talkgatectl doctor: checks the whole set-up of this machine for the Talkgate, one line per
// check with what is wrong and how to fix it. Looks only: opens and closes the devices without
// a request, reads the configuration file without creating it.

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

#include "cli/bus.h"
#include "cli/command.h"
#include "cli/json.h"
#include "cli/text.h"
#include "config/ini_file.h"
#include "config/utility_config.h"
#include "firmware/loader_image_check.h"
#include "files/system_folders.h"
#include "files/utf8_path.h"
#include "firmware/loader_images.h"

namespace talkgate::cli {

namespace {

namespace fs = std::filesystem;

constexpr char kRuleSource[] = "packaging/70-talkgate.rules";

struct Check {
  std::string name = {};
  bool ok = false;
  std::string detail = {};  // what was found, or what is wrong
  std::string fix = {};     // empty when ok
};

std::string readText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

bool mentionsDevice(const std::string& rules, std::string_view productId) {
  // A rule line names the vendor and the product; both must be on one line.
  std::string product;
  product.append("\"").append(productId).append("\"");
  std::size_t start = 0;
  while (start < rules.size()) {
    const std::size_t end = std::min(rules.find('\n', start), rules.size());
    const std::string_view line(rules.data() + start, end - start);
    if (!line.starts_with("#") && line.find("\"2047\"") != std::string_view::npos &&
        line.find(product) != std::string_view::npos) {
      return true;
    }
    start = end + 1;
  }
  return false;
}

std::string joinedFolders(const std::vector<std::string>& folders) {
  std::string text;
  for (std::size_t i = 0; i < folders.size(); ++i) {
    if (i > 0) text.append(i + 1 == folders.size() ? " or " : ", ");
    text.append(folders[i]);
  }
  return text;
}

Check checkUdevRule(const std::vector<std::string>& folders) {
  Check check{"udev rule"};
  const std::string fix = "Copy " + std::string(kRuleSource) + " to " +
                          (folders.empty() ? std::string("/etc/udev/rules.d") : folders.front()) +
                          ", then unplug and replug the device.";
  std::string talkgateOnly;
  for (const auto& folder : folders) {
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
      if (entry.path().extension() != ".rules") continue;
      const std::string rules = readText(entry.path());
      if (!mentionsDevice(rules, "0922")) continue;
      if (mentionsDevice(rules, "0200")) {
        check.ok = true;
        check.detail = entry.path().string();
        return check;
      }
      talkgateOnly = entry.path().string();
    }
  }
  if (!talkgateOnly.empty()) {
    check.detail = talkgateOnly +
                   " covers the Talkgate but not its bootstrap loader (2047:0200), which a "
                   "firmware upgrade opens.";
  } else {
    check.detail = "No rule for the Talkgate (2047:0922) in " + joinedFolders(folders) + ".";
  }
  check.fix = fix;
  return check;
}

std::string serialText(const hid::DeviceInfo& info) {
  return info.serialNumber.empty() ? std::string("no serial number")
                                   : printableWide(info.serialNumber);
}

Check checkBus(const std::vector<hid::DeviceInfo>& talkgates,
               const std::vector<hid::DeviceInfo>& loaders) {
  Check check{"devices on the bus"};
  if (talkgates.empty() && loaders.empty()) {
    check.detail = "No Talkgate and no bootstrap loader is connected.";
    check.fix =
        "Plug the Talkgate in; 'lsusb -d 2047:' should list 2047:0922 (or 2047:0200, its "
        "loader).";
    return check;
  }
  check.ok = true;
  check.detail =
      std::to_string(talkgates.size()) + (talkgates.size() == 1 ? " Talkgate" : " Talkgates");
  for (std::size_t i = 0; i < talkgates.size(); ++i) {
    check.detail.append(i == 0 ? " (" : ", ").append(serialText(talkgates[i]));
    if (i + 1 == talkgates.size()) check.detail.append(")");
  }
  check.detail.append(", ").append(std::to_string(loaders.size()));
  check.detail.append(loaders.size() == 1 ? " bootstrap loader" : " bootstrap loaders");
  if (!loaders.empty()) {
    check.detail.append(" (an interrupted upgrade: 'talkgatectl upgrade IMAGE' finishes it)");
  }
  return check;
}

Check checkOpen(hid::Port& port, const hid::DeviceInfo& info, std::string_view kind) {
  Check check{"open " + printablePath(info.path)};
  hid::OpenError error = hid::OpenError::None;
  const std::unique_ptr<hid::Device> device = port.open(info.path, &error);
  const std::string what = std::string(kind) + " " + serialText(info);
  if (device) {
    check.ok = true;
    check.detail = what;
  } else if (error == hid::OpenError::PermissionDenied) {
    check.detail = "Permission denied for the " + what + ".";
    check.fix = std::string(permissionHint());
  } else {
    check.detail = "The " + what + " could not be opened.";
    check.fix = "Unplug the device and plug it in again; another program may hold it.";
  }
  return check;
}

Check checkLoaderImages(const Context& ctx) {
  Check check{"loader images"};
  const firmware::LoaderImageSources sources =
      firmware::loaderImageSources(ctx.options().loaderDir);
  const firmware::LoaderImageLookup lookup = firmware::findProductLoaderImages(sources);
  if (lookup.images) {
    check.ok = true;
    check.detail = lookup.origin == "built in" ? std::string("built into this program")
                                               : "in " + lookup.origin;
    // What was checked, so a stand-in or a truncated file is not taken on trust.
    check.detail += std::string("; ") + firmware::kPasswordFileName + ": 32 bytes at 0xFFE0; " +
                    firmware::kRamLoaderFileName + ": " +
                    firmware::ramLoaderImageSummary(lookup.images->ramBslText) +
                    ", the version expected";
    return check;
  }
  check.detail = "No usable loader images for a real Talkgate in " +
                 joinedFolders(sources.folders) +
                 (sources.builtIn ? ", nor built into this program." : ".");
  for (const auto& problem : lookup.problems) check.detail.append(" ").append(problem);
  check.fix = std::string("Copy the product's ") + firmware::kPasswordFileName + " and " +
              firmware::kRamLoaderFileName + " into " +
              (sources.folders.empty() ? std::string("a folder") : sources.folders.back()) +
              " or a folder given with --loader-dir; without them only the simulated Talkgate "
              "can be upgraded.";
  return check;
}

std::string configFilePath(const Context& ctx) {
  if (ctx.options().configFile) return *ctx.options().configFile;
  if (ctx.userDataFolder().empty()) return {};
  return config::configPathUnder(ctx.userDataFolder());
}

Check checkConfigFile(const Context& ctx) {
  Check check{"configuration file"};
  const std::string path = configFilePath(ctx);
  constexpr char kSaveFix[] =
      "Run 'talkgatectl config save' on a Talkgate whose settings are the model (or 'talkgatectl "
      "config import FILE' with a good copy).";
  std::error_code ec;
  if (path.empty()) {
    check.detail =
        "The per-user configuration folder is unknown (" + unknownUserDataFolderReason() + ").";
    check.fix = "Set " + std::string(files::userFolderVariable()) + ", or give --config FILE.";
    return check;
  }
  if (!fs::is_regular_file(files::pathFromUtf8(path), ec)) {
    check.detail = path + " does not exist.";
    check.fix = kSaveFix;
    return check;
  }
  try {
    // The file as the utility first creates it, its six keys without values, is in order.
    bool fresh = true;
    for (const char* key : config::kCreationOrder) {
      fresh = fresh && config::CIniFile::RecordExists(key, config::kSection, path) &&
              config::CIniFile::GetValue(key, config::kSection, path).empty();
    }
    if (fresh) {
      check.ok = true;
      check.detail = path + ", no settings saved in it yet";
      return check;
    }
  } catch (const std::out_of_range& error) {
    check.detail = path + " cannot be read (" + printablePath(error.what()) + ").";
    check.fix = kSaveFix;
    return check;
  }
  config::RestoreValues values;
  const config::RestoreOutcome checked = config::checkRestoreFile(path, values);
  if (!checked.unreadable.empty() || !checked.malformed.empty()) {
    check.detail =
        path + " cannot be read (" + printablePath(checked.unreadable + checked.malformed) + ").";
  } else if (!checked.failedKey.empty()) {
    check.detail =
        "The value of " + checked.failedKey + " in " + path + " is missing or not valid.";
  } else {
    check.ok = true;
    check.detail = path;
    return check;
  }
  check.fix = kSaveFix;
  return check;
}

std::vector<Check> runChecks(Context& ctx) {
  std::vector<Check> checks;
  checks.push_back(checkUdevRule(ctx.environment().udevRuleFolders));
  hid::Port& port = ctx.startedPort();
  const auto talkgates = talkgateConfigInterfaces(port);
  const auto loaders = loaderInterfaces(port);
  checks.push_back(checkBus(talkgates, loaders));
  for (const auto& info : talkgates) checks.push_back(checkOpen(port, info, "Talkgate"));
  for (const auto& info : loaders) checks.push_back(checkOpen(port, info, "bootstrap loader"));
  checks.push_back(checkLoaderImages(ctx));
  checks.push_back(checkConfigFile(ctx));
  return checks;
}

void printChecksJson(std::ostream& out, const std::vector<Check>& checks, bool allWell) {
  JsonWriter json(out);
  json.beginObject();
  json.key("ok");
  json.value(allWell);
  json.key("checks");
  json.beginArray();
  for (const auto& check : checks) {
    json.beginObject();
    json.key("check");
    json.value(check.name);
    json.key("ok");
    json.value(check.ok);
    json.key("detail");
    json.value(check.detail);
    json.key("fix");
    if (check.ok) {
      json.nullValue();
    } else {
      json.value(check.fix);
    }
    json.endObject();
  }
  json.endArray();
  json.endObject();
  json.finish();
}

int runDoctor(Context& ctx) {
  if (int code = 0; !ctx.noArguments("doctor", code)) return code;
  const std::vector<Check> checks = runChecks(ctx);
  std::size_t problems = 0;
  for (const auto& check : checks) problems += check.ok ? 0 : 1;
  if (ctx.json()) {
    printChecksJson(ctx.out(), checks, problems == 0);
  } else {
    for (const auto& check : checks) {
      ctx.out() << check.name << ": ";
      if (check.ok) {
        ctx.out() << "ok (" << check.detail << ")\n";
      } else {
        ctx.out() << check.detail << " Fix: " << check.fix << '\n';
      }
    }
    if (problems == 0) {
      ctx.out() << "All is well.\n";
    } else {
      ctx.out() << problems << (problems == 1 ? " problem" : " problems") << " found.\n";
    }
  }
  return problems == 0 ? kExitOk : kExitFailure;
}

}  // namespace

void registerDoctorCommand(CommandRegistry& registry) {
  registry.add(
      {"doctor",
       {{"doctor",
         "Check the set-up of this computer, one line per check with ok or the problem "
         "and its fix: the udev rule, the Talkgates and loaders on the bus, whether "
         "each can be opened, the loader images a real Talkgate's upgrade needs (and where "
         "they are), and the configuration file. Changes nothing."}},
       {},
       runDoctor,
       {"talkgatectl doctor", "talkgatectl doctor --json", "talkgatectl --simulate doctor"},
       "At least one check found a problem; its line says how to fix it."});
}

}  // namespace talkgate::cli
