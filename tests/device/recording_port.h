#pragma once
// A port that forwards to another one and records every report the host tried to write (it
// announces no hot-plug events; watchers poll it). It can also pass itself off as real
// hardware, so that a simulated bus stands in for USB where a port must not be simulated.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "device/hid_port.h"
#include "tests/device/forwarding_device.h"

namespace talkgate::testing {

// Every report the host tried to write, whether or not the write succeeded.
struct WriteLog {
  std::vector<std::vector<std::uint8_t>> attempts;
};

class RecordingPort : public hid::Port {
 public:
  explicit RecordingPort(hid::Port& inner, bool claimsHardware = false)
      : inner_(inner), claimsHardware_(claimsHardware) {}
  int init() override { return inner_.init(); }
  std::vector<hid::DeviceInfo> enumerate(std::uint16_t v, std::uint16_t p) override {
    return inner_.enumerate(v, p);
  }
  std::unique_ptr<hid::Device> open(const std::string& path, hid::OpenError* error) override {
    auto device = inner_.open(path, error);
    if (!device) return nullptr;
    return std::make_unique<Recording>(std::move(device), log);
  }
  int exit() override { return inner_.exit(); }
  bool simulated() const override { return !claimsHardware_ && inner_.simulated(); }

  std::shared_ptr<WriteLog> log = std::make_shared<WriteLog>();

 private:
  class Recording : public ForwardingDevice {
   public:
    Recording(std::unique_ptr<hid::Device> inner, std::shared_ptr<WriteLog> log)
        : ForwardingDevice(std::move(inner)), log_(std::move(log)) {}
    int write(const std::uint8_t* data, std::size_t length) override {
      log_->attempts.emplace_back(data, data + length);
      return ForwardingDevice::write(data, length);
    }

   private:
    std::shared_ptr<WriteLog> log_;
  };
  hid::Port& inner_;
  bool claimsHardware_;
};

}  // namespace talkgate::testing
