#pragma once
// A scripted HID port for exact byte checks of the transport: the test queues what each read
// returns and inspects every report written.

#include <deque>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "device/frame.h"
#include "device/hid_port.h"

namespace talkgate::testing {

using Bytes = std::vector<std::uint8_t>;

// Everything a scripted device did, kept outside the device so it survives its deletion.
struct DeviceLog {
  std::vector<Bytes> written;
  int reads = 0;
  int discarded = 0;  // reports dropped before a request
  bool nonBlocking = false;
  bool closed = false;
};

class ScriptedDevice : public hid::Device {
 public:
  explicit ScriptedDevice(DeviceLog& log) : log_(log) {}
  ~ScriptedDevice() override { log_.closed = true; }

  // What the next reads return: a report, an empty poll (0) or an error (-1).
  void queueReport(const Bytes& report) {
    steps_.push_back(Step{static_cast<int>(report.size()), report});
  }
  void queueEmpty(int polls = 1) {
    for (int i = 0; i < polls; ++i) steps_.push_back(Step{0, {}});
  }
  void queueError() { steps_.push_back(Step{-1, {}}); }
  // A report already waiting when the next request is made (a late reply), or a read that
  // fails then (report empty).
  void queueWaiting(const Bytes& report) { waiting_.push_back(report); }

  int writeResult = static_cast<int>(hid::kReportSize);
  std::optional<std::wstring> manufacturer = std::wstring(L"Velkor");
  std::optional<std::wstring> product = std::wstring(L"Talkgate");

  int write(const std::uint8_t* data, std::size_t length) override {
    log_.written.emplace_back(data, data + length);
    return writeResult;
  }
  // Once the script runs out every poll is empty.
  int read(std::uint8_t* data, std::size_t length) override {
    ++log_.reads;
    if (steps_.empty()) return 0;
    Step step = steps_.front();
    steps_.pop_front();
    if (step.result <= 0) return step.result;
    const std::size_t n = std::min(length, step.report.size());
    std::copy_n(step.report.begin(), n, data);
    return static_cast<int>(n);
  }
  // Drops what queueWaiting() left; the scripted replies come after the request.
  int discardInput() override {
    int dropped = 0;
    for (; !waiting_.empty(); waiting_.pop_front()) {
      if (waiting_.front().empty()) {
        waiting_.pop_front();
        return -1;
      }
      ++dropped;
    }
    log_.discarded += dropped;
    return dropped;
  }
  int setNonBlocking(bool nonBlocking) override {
    log_.nonBlocking = nonBlocking;
    return 0;
  }
  bool manufacturerString(std::wstring& out) override { return give(manufacturer, out); }
  bool productString(std::wstring& out) override { return give(product, out); }

 private:
  struct Step {
    int result = 0;
    Bytes report;
  };
  static bool give(const std::optional<std::wstring>& text, std::wstring& out) {
    if (!text) return false;
    out = *text;
    return true;
  }
  DeviceLog& log_;
  std::deque<Step> steps_;
  std::deque<Bytes> waiting_;
};

// A port listing fixed interfaces; open() hands out the device prepared for a path.
class ScriptedPort : public hid::Port {
 public:
  std::vector<hid::DeviceInfo> interfaces;
  std::vector<std::string> opened;
  std::string deniedPath;  // opening it fails with PermissionDenied
  int inits = 0;
  int exits = 0;
  DeviceLog log;
  std::optional<std::wstring> manufacturer = std::wstring(L"Velkor");
  std::optional<std::wstring> product = std::wstring(L"Talkgate");

  void add(const std::string& path, int interfaceNumber, std::uint16_t vendorId = 0x2047,
           std::uint16_t productId = 0x0922) {
    hid::DeviceInfo info;
    info.path = path;
    info.vendorId = vendorId;
    info.productId = productId;
    info.interfaceNumber = interfaceNumber;
    interfaces.push_back(info);
  }

  int init() override {
    ++inits;
    return 0;
  }
  std::vector<hid::DeviceInfo> enumerate(std::uint16_t vendorId, std::uint16_t productId) override {
    std::vector<hid::DeviceInfo> result;
    for (const auto& info : interfaces) {
      if (info.vendorId == vendorId && info.productId == productId) result.push_back(info);
    }
    return result;
  }
  std::unique_ptr<hid::Device> open(const std::string& path, hid::OpenError* error) override {
    opened.push_back(path);
    if (path == deniedPath) {
      if (error) *error = hid::OpenError::PermissionDenied;
      return nullptr;
    }
    if (error) *error = hid::OpenError::None;
    auto device = std::make_unique<ScriptedDevice>(log);
    device->manufacturer = manufacturer;
    device->product = product;
    return device;
  }
  int exit() override {
    ++exits;
    return 0;
  }
};

// A reply report written out byte by byte, independently of the frame encoder: report id, size
// byte, STX, the command and length digits as given, the status byte, data, ETX and the XOR.
inline Bytes replyReport(const char* commandDigits, const char* lengthDigits, std::uint8_t status,
                         const Bytes& data, std::uint8_t sizeByte = 0x40, std::uint8_t etx = 0x03) {
  Bytes report{0x3F,
               sizeByte,
               0x02,
               static_cast<std::uint8_t>(commandDigits[0]),
               static_cast<std::uint8_t>(commandDigits[1]),
               static_cast<std::uint8_t>(lengthDigits[0]),
               static_cast<std::uint8_t>(lengthDigits[1]),
               status};
  report.reserve(64);
  for (const std::uint8_t b : data) report.push_back(b);
  report.push_back(etx);
  std::uint8_t sum = 0;
  for (std::size_t i = 2; i < report.size(); ++i) sum ^= report[i];
  report.push_back(sum);
  report.resize(64, 0);
  return report;
}

// A bare marker report (acknowledgement or refusal).
inline Bytes markerReport(std::uint8_t marker, std::uint8_t sizeByte = 0x40) {
  Bytes report(64, 0);
  report[0] = 0x3F;
  report[1] = sizeByte;
  report[2] = marker;
  return report;
}

using ScopedPort = hid::ScopedPort;

}  // namespace talkgate::testing
