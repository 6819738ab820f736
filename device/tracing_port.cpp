#include "device/tracing_port.h"

#include <algorithm>
#include <string>

namespace talkgate::hid {
namespace {

class TracingDevice : public Device {
 public:
  TracingDevice(std::unique_ptr<Device> inner, std::shared_ptr<TracingPort::Sink> sink)
      : inner_(std::move(inner)), sink_(std::move(sink)) {}

  int write(const std::uint8_t* data, std::size_t length) override {
    sink_->line('>', data, length);
    return inner_->write(data, length);
  }
  int read(std::uint8_t* data, std::size_t length) override {
    const int received = inner_->read(data, length);
    // Empty polls would drown the trace; only reports that arrived are shown.
    if (received > 0) {
      sink_->line('<', data, std::min(static_cast<std::size_t>(received), length));
    }
    return received;
  }
  int setNonBlocking(bool nonBlocking) override { return inner_->setNonBlocking(nonBlocking); }
  bool manufacturerString(std::wstring& out) override { return inner_->manufacturerString(out); }
  bool productString(std::wstring& out) override { return inner_->productString(out); }

 private:
  std::unique_ptr<Device> inner_;
  std::shared_ptr<TracingPort::Sink> sink_;
};

}  // namespace

void TracingPort::Sink::line(char direction, const std::uint8_t* data, std::size_t length) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text(1, direction);
  text.reserve(1 + 3 * length + 1);
  for (std::size_t i = 0; i < length; ++i) {
    text += ' ';
    text += kDigits[data[i] >> 4];
    text += kDigits[data[i] & 0x0F];
  }
  text += '\n';
  std::lock_guard lock(mutex);
  out << text << std::flush;
}

TracingPort::TracingPort(Port& inner, std::ostream& out)
    : inner_(inner), sink_(std::make_shared<Sink>(out)) {}

int TracingPort::init() {
  return inner_.init();
}

std::vector<DeviceInfo> TracingPort::enumerate(std::uint16_t vendorId, std::uint16_t productId) {
  return inner_.enumerate(vendorId, productId);
}

std::unique_ptr<Device> TracingPort::open(const std::string& path, OpenError* error) {
  std::unique_ptr<Device> device = inner_.open(path, error);
  if (!device) return nullptr;
  return std::make_unique<TracingDevice>(std::move(device), sink_);
}

int TracingPort::exit() {
  return inner_.exit();
}

}  // namespace talkgate::hid
