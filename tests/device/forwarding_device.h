#pragma once
// A device that passes every call on to another one; test wrappers derive from it and override
// only what they watch or change (usually write).

#include <cstdint>
#include <memory>
#include <string>

#include "device/hid_port.h"

namespace talkgate::testing {

class ForwardingDevice : public hid::Device {
 public:
  explicit ForwardingDevice(std::unique_ptr<hid::Device> inner) : inner_(std::move(inner)) {}
  int write(const std::uint8_t* data, std::size_t length) override {
    return inner_->write(data, length);
  }
  int read(std::uint8_t* data, std::size_t length) override { return inner_->read(data, length); }
  int setNonBlocking(bool b) override { return inner_->setNonBlocking(b); }
  int discardInput() override { return inner_->discardInput(); }
  bool manufacturerString(std::wstring& out) override { return inner_->manufacturerString(out); }
  bool productString(std::wstring& out) override { return inner_->productString(out); }

 private:
  std::unique_ptr<hid::Device> inner_;
};

}  // namespace talkgate::testing
