// The run context of talkgatectl: messages, exit codes and the device session.

#include <algorithm>
#include <cstdlib>

#include "cli/bus.h"
#include "cli/command.h"
#include "cli/json.h"
#include "cli/text.h"
#include "files/system_folders.h"
#include "device/commands.h"
#include "firmware/loader_images.h"

namespace talkgate::cli {

namespace {

constexpr char kNotConnected[] = "No Talkgate is connected.";
// The package installs the rule under the system's udev folder; a source build does not
// install it, so the hint names both places.
constexpr char kPermissionHint[] =
    "Install the udev rule 70-talkgate.rules (the package puts it in /usr/lib/udev/rules.d; "
    "from a source build copy packaging/70-talkgate.rules to /etc/udev/rules.d), then unplug "
    "and replug the device.";
constexpr char kUnreadable[] = "Unable To Find";
constexpr char kWaitsInLoader[] =
    "No Talkgate answers: a Talkgate waits in its bootstrap loader (2047:0200), as after an "
    "interrupted upgrade, and answers again once its firmware is programmed: run 'talkgatectl "
    "upgrade IMAGE' to finish the upgrade.";

// A USB string as the transport keeps it: the low 8 bits of each character.
std::string narrowDeviceString(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) {
    if (c == L'\0') break;
    out += static_cast<char>(static_cast<unsigned>(c) & 0xFFu);
  }
  return out;
}

}  // namespace

const Environment& defaultEnvironment() {
  static const Environment environment;
  return environment;
}

std::string_view permissionHint() {
  return kPermissionHint;
}

std::string unknownUserDataFolderReason() {
  const char* variable = files::userFolderVariable();
  return std::string(variable) + (std::getenv(variable) == nullptr ? " is not set" : " is empty");
}

Context::Context(const Invocation& invocation, std::ostream& out, std::ostream& err,
                 hid::Port& port)
    : invocation_(invocation), out_(out), err_(err), port_(port) {
  if (!invocation.words.empty()) args_.assign(invocation.words.begin() + 1, invocation.words.end());
}

Context::~Context() {
  closeDevice();
}

bool Context::flag(std::string_view name) const {
  const auto& flags = invocation_.commandFlags;
  return std::find(flags.begin(), flags.end(), name) != flags.end();
}

int Context::badInput(const std::string& message) {
  err_ << message << "\nRun 'talkgatectl --help' for the commands and their arguments.\n";
  return kExitBadInput;
}

int Context::failure(const std::string& message) {
  err_ << message << '\n';
  return kExitFailure;
}

bool Context::noArguments(std::string_view command, int& exitCode) {
  if (args_.empty()) return true;
  exitCode = badInput(singleQuoted(command) + " takes no arguments, but got " +
                      singleQuoted(printableBytes(args_.front())) + ".");
  return false;
}

void Context::confirm(const std::string& sentence,
                      const std::function<void(JsonWriter&)>& extraFields) {
  if (!json()) {
    out_ << sentence << '\n';
    return;
  }
  JsonWriter json(out_);
  json.beginObject();
  json.key("ok");
  json.value(true);
  if (extraFields) extraFields(json);
  json.endObject();
  json.finish();
}

int Context::requestFailed(std::string_view what, int result) {
  return failure("Unable to " + std::string(what) + ": " + resultText(result) + ".");
}

bool Context::loaderImagesAtHand(int& exitCode) {
  const std::string refusal = firmware::loaderImagesRefusal(
      port_, firmware::loaderImageSources(invocation_.options.loaderDir));
  if (refusal.empty()) return true;
  err_ << refusal << '\n';
  exitCode = kExitBadInput;
  return false;
}

DeviceHandle Context::openDevice() {
  return open(invocation_.options.devicePath);
}

DeviceHandle Context::openFirstDevice() {
  return open(std::nullopt);
}

DeviceHandle Context::openDeviceAt(const std::string& path) {
  return open(path);
}

DeviceHandle Context::open(const std::optional<std::string>& path) {
  closeDevice();
  deviceTouched_ = true;
  portStarted_ = true;  // the scan starts the HID library even when it finds nothing
  hid::OpenError error = hid::OpenError::None;
  DeviceHandle handle = nullptr;
  if (path) {
    std::string problem;
    handle = openByPath(*path, error, problem);
    if (!handle && !problem.empty()) {
      failure(problem);
      return nullptr;
    }
  } else {
    char manufacturer[kDeviceStringBuffer] = {};
    char product[kDeviceStringBuffer] = {};
    handle = ScanForUSBDevice_a(kVendorId, kProductId, manufacturer, product, sizeof manufacturer,
                                &error);
    manufacturer_ = manufacturer;
    product_ = product;
  }
  if (handle == nullptr) {
    if (error == hid::OpenError::PermissionDenied) {
      failure("Permission denied opening the Talkgate (" +
              printablePath(path ? *path : firstConfigPath()) + "). " +
              std::string(kPermissionHint));
    } else if (error == hid::OpenError::NotFound && !path && !loaderInterfaces(port_).empty()) {
      failure(kWaitsInLoader);
    } else if (error == hid::OpenError::NotFound) {
      failure(kNotConnected);
    } else {
      failure("A Talkgate is connected, but it could not be opened.");
    }
    return nullptr;
  }
  hid_handle = handle;
  return handle;
}

std::string Context::firstConfigPath() {
  const auto interfaces = talkgateConfigInterfaces(port_);
  return interfaces.empty() ? std::string() : interfaces.front().path;
}

DeviceHandle Context::openByPath(const std::string& path, hid::OpenError& error,
                                 std::string& problem) {
  error = hid::OpenError::NotFound;
  if (port_.init() != 0) {
    error = hid::OpenError::Other;
    return nullptr;
  }
  const auto interfaces = port_.enumerate(static_cast<std::uint16_t>(kVendorId),
                                          static_cast<std::uint16_t>(kProductId));
  const auto chosen = std::find_if(interfaces.begin(), interfaces.end(),
                                   [&path](const auto& info) { return info.path == path; });
  if (chosen == interfaces.end()) {
    problem = "No Talkgate is connected at " + printableBytes(path) + ".";
    return nullptr;
  }
  if (chosen->interfaceNumber != kConfigInterface) {
    problem = printableBytes(path) +
              " is not the configuration interface of a Talkgate; 'talkgatectl list' "
              "shows the one to use.";
    return nullptr;
  }
  std::unique_ptr<hid::Device> device = port_.open(path, &error);
  if (!device) return nullptr;
  std::wstring text;
  manufacturer_ = device->manufacturerString(text) ? narrowDeviceString(text) : kUnreadable;
  text.clear();
  product_ = device->productString(text) ? narrowDeviceString(text) : kUnreadable;
  device->setNonBlocking(true);
  return device.release();
}

hid::Port& Context::startedPort() {
  if (!portStarted_) {
    port_.init();
    portStarted_ = true;
  }
  return port_;
}

void Context::closeDevice() {
  if (!portStarted_) return;
  hid_exit_safely(hid_handle);
  hid_handle = nullptr;
  portStarted_ = false;
}

const CommandSpec* CommandRegistry::find(std::string_view name) const {
  for (const auto& command : commands_) {
    if (command.name == name) return &command;
  }
  return nullptr;
}

}  // namespace talkgate::cli
