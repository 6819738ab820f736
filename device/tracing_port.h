#pragma once
// A port that forwards to another one and writes every report sent or received as hex bytes
// ("> 3f 40 02 ..." for writes, "< 3f 40 02 ..." for reads) to a stream, for --trace.

#include <memory>
#include <mutex>
#include <ostream>

#include "device/hid_port.h"

namespace talkgate::hid {

class TracingPort : public Port {
 public:
  // inner and out must outlive the port and every device it opened.
  TracingPort(Port& inner, std::ostream& out);

  int init() override;
  std::vector<DeviceInfo> enumerate(std::uint16_t vendorId, std::uint16_t productId) override;
  std::unique_ptr<Device> open(const std::string& path, OpenError* error = nullptr) override;
  int exit() override;
  bool announcesHotplug() const override { return inner_.announcesHotplug(); }
  int subscribeHotplug(HotplugCallback callback) override {
    return inner_.subscribeHotplug(std::move(callback));
  }
  void unsubscribeHotplug(int id) override { inner_.unsubscribeHotplug(id); }
  bool simulated() const override { return inner_.simulated(); }

  // Writes one traced line: direction ('>' or '<') and the bytes in lower-case hex.
  struct Sink {
    explicit Sink(std::ostream& stream) : out(stream) {}
    std::ostream& out;
    std::mutex mutex;
    void line(char direction, const std::uint8_t* data, std::size_t length);
  };

 private:
  Port& inner_;
  std::shared_ptr<Sink> sink_;
};

}  // namespace talkgate::hid
