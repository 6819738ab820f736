// The Windows HID port's logic over the Calls seam (see win_hid_port.h). Plain C++: built and
// tested on every system, the system calls themselves only on Windows.

#include "device/win_hid_port.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace talkgate::hid::win {
namespace {

constexpr std::size_t kDefaultReportLength = kReportSize + 1;

class WinDevice : public Device {
 public:
  WinDevice(Calls& calls, Handle handle, std::size_t inputLength, std::size_t outputLength)
      : calls_(calls), handle_(handle), buffer_(inputLength), outputLength_(outputLength) {}
  ~WinDevice() override {
    if (pending_) calls_.cancelRead(handle_);
    calls_.close(handle_);
  }
  WinDevice(const WinDevice&) = delete;
  WinDevice& operator=(const WinDevice&) = delete;

  // Shorter reports are padded to the output report length, as the system asks; the report
  // identifier stays in byte 0.
  int write(const std::uint8_t* data, std::size_t length) override {
    if (data == nullptr || length == 0) return -1;
    std::vector<std::uint8_t> report(data, data + length);
    if (report.size() < outputLength_) report.resize(outputLength_, 0);
    std::size_t written = 0;
    if (!calls_.write(handle_, report.data(), report.size(), written)) return -1;
    return static_cast<int>(written);
  }

  // One read is kept outstanding: a non-blocking read that finds nothing leaves it running,
  // so the report it later completes with is delivered by the next call, never lost.
  int read(std::uint8_t* data, std::size_t length) override {
    if (data == nullptr || length == 0) return -1;
    std::size_t got = 0;
    if (!pending_) {
      const Io started = calls_.startRead(handle_, buffer_.data(), buffer_.size(), got);
      if (started == Io::Failed) return -1;
      if (started == Io::Done) return deliver(data, length, got);
      pending_ = true;
    }
    const Io result = calls_.finishRead(handle_, nonBlocking_ ? 0 : -1, got);
    if (result == Io::Pending) return 0;
    pending_ = false;
    if (result == Io::Failed) return -1;  // the device has left, for instance
    return deliver(data, length, got);
  }

  int setNonBlocking(bool nonBlocking) override {
    nonBlocking_ = nonBlocking;
    return 0;
  }
  bool manufacturerString(std::wstring& out) override {
    return calls_.text(handle_, Calls::Text::Manufacturer, out);
  }
  bool productString(std::wstring& out) override {
    return calls_.text(handle_, Calls::Text::Product, out);
  }

 private:
  // As hidapi gives it: the report identifier in byte 0, except that the 0 of a device without
  // numbered reports is left out.
  int deliver(std::uint8_t* data, std::size_t length, std::size_t got) {
    got = std::min(got, buffer_.size());
    const std::uint8_t* from = buffer_.data();
    if (got > 0 && from[0] == 0) {
      ++from;
      --got;
    }
    const std::size_t n = std::min(got, length);
    std::memcpy(data, from, n);
    return static_cast<int>(n);
  }

  Calls& calls_;
  Handle handle_;
  std::vector<std::uint8_t> buffer_;
  std::size_t outputLength_;
  bool pending_ = false;
  bool nonBlocking_ = false;
};

class WinPort : public Port {
 public:
  explicit WinPort(Calls& calls) : calls_(calls) {}

  int init() override { return 0; }
  int exit() override { return 0; }

  std::vector<DeviceInfo> enumerate(std::uint16_t vendorId, std::uint16_t productId) override {
    std::vector<DeviceInfo> result;
    for (const std::string& path : calls_.interfacePaths()) {
      // No access asked: attributes and strings of a device another program holds still read.
      OpenError error = OpenError::None;
      const Handle handle = calls_.open(path, Access::None, error);
      if (handle == kNoHandle) continue;
      DeviceInfo info;
      const bool matches = calls_.attributes(handle, info.vendorId, info.productId) &&
                           (vendorId == 0 || info.vendorId == vendorId) &&
                           (productId == 0 || info.productId == productId);
      if (matches) {
        info.path = path;
        info.interfaceNumber = interfaceNumberFromPath(path);
        info.location = usbLocation(calls_, path);
        calls_.text(handle, Calls::Text::Serial, info.serialNumber);
        calls_.text(handle, Calls::Text::Manufacturer, info.manufacturer);
        calls_.text(handle, Calls::Text::Product, info.product);
        result.push_back(std::move(info));
      }
      calls_.close(handle);
    }
    return result;
  }

  std::unique_ptr<Device> open(const std::string& path, OpenError* error) override {
    OpenError reason = OpenError::None;
    const Handle handle = calls_.open(path, Access::ReadWrite, reason);
    if (error) *error = handle == kNoHandle ? reason : OpenError::None;
    if (handle == kNoHandle) return nullptr;
    std::size_t input = 0;
    std::size_t output = 0;
    if (!calls_.reportLengths(handle, input, output) || input == 0) {
      input = kDefaultReportLength;
      output = kDefaultReportLength;
    }
    return std::make_unique<WinDevice>(calls_, handle, input, output);
  }

 private:
  Calls& calls_;
};

}  // namespace

int interfaceNumberFromPath(const std::string& path) {
  std::string lower(path);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  const std::size_t at = lower.find("&mi_");
  if (at == std::string::npos || at + 6 > lower.size()) return -1;
  int number = 0;
  for (std::size_t i = at + 4; i < at + 6; ++i) {
    const char c = lower[i];
    if (!std::isxdigit(static_cast<unsigned char>(c))) return -1;
    number = number * 16 + (c <= '9' ? c - '0' : c - 'a' + 10);
  }
  return number;
}

std::string usbLocation(Calls& calls, const std::string& interfacePath) {
  constexpr int kMostLevels = 16;  // HID interface, composite interface, device, hubs...
  Calls::Node node = calls.interfaceNode(interfacePath);
  for (int level = 0; node != 0 && level < kMostLevels; ++level, node = calls.parent(node)) {
    std::string id = calls.instanceId(node);
    std::transform(id.begin(), id.end(), id.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    if (id.rfind("USB\\", 0) != 0 || id.find("&MI_") != std::string::npos) continue;
    for (const std::string& path : calls.locationPaths(node)) {
      if (!path.empty()) return path;
    }
    return calls.locationInformation(node);
  }
  return {};
}

std::unique_ptr<Port> makePort(Calls& calls) {
  return std::make_unique<WinPort>(calls);
}

}  // namespace talkgate::hid::win
