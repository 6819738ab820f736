#pragma once
// A HID bus in memory: simulated devices attach and detach, the program opens them through the
// same port interface as real hardware. Thread-safe; endpoints may attach or detach devices
// from inside their own callbacks (a Talkgate that restarts into its loader does).

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "device/hid_port.h"

namespace talkgate::sim {

// The device side of one HID interface.
class Endpoint {
 public:
  virtual ~Endpoint() = default;
  // A report written by the host, identifier in byte 0. False makes the write fail.
  virtual bool hostWrite(const std::uint8_t* data, std::size_t length) = 0;
  // Copies the next report for the host into data; 0 when none is waiting.
  virtual int hostRead(std::uint8_t* data, std::size_t length) = 0;
  // A host handle was opened on this interface. Like a hidraw node, each open starts with an
  // empty input queue: reports nobody read before are not delivered to the new handle.
  virtual void hostOpened() {}
  // USB strings; nullopt when the device does not answer the string request.
  virtual std::optional<std::wstring> manufacturer() { return std::wstring(L"Sim"); }
  virtual std::optional<std::wstring> product() { return std::wstring(L"Sim"); }
};

class VirtualBus : public hid::Port {
 public:
  VirtualBus();
  ~VirtualBus() override;

  // Attaches one interface and returns its path. Listeners hear of it.
  std::string attach(hid::DeviceInfo info, std::shared_ptr<Endpoint> endpoint);
  // Detaches an interface; handles opened on it fail from now on. Listeners hear of it.
  void detach(const std::string& path);
  // Interfaces now attached, in attach order.
  std::vector<hid::DeviceInfo> devices() const;

  // Makes opening the given path fail with the given reason (OpenError::None clears it).
  void setOpenError(const std::string& path, hid::OpenError error);

  // Arrival (true) and removal (false) of interfaces. Returns an id for removeListener.
  using Listener = std::function<void(const hid::DeviceInfo& info, bool arrived)>;
  int addListener(Listener listener);
  void removeListener(int id);

  // Called after every report the host writes (taken or not), on the writer's thread and
  // outside the bus's locks, so that whoever keeps the devices' state can keep it as it changes.
  // nullptr removes it.
  void setWriteObserver(std::function<void()> observer);

  // Runs action once `delay` has passed on the active clock, the first time the bus is used
  // (listed, opened, written or read) from then on: a device that leaves or arrives a while
  // after the report that set it off. Actions due at once run in the order of their times.
  // Returns an id for cancel().
  int after(std::chrono::milliseconds delay, std::function<void()> action);
  void cancel(int id);
  // Actions set with after() that have not run yet.
  std::size_t pendingActions() const;

  // Traffic counters, for tests and benchmarks.
  std::uint64_t reportsWritten() const;
  std::uint64_t reportsRead() const;
  void resetCounters();

  // hid::Port
  int init() override;
  std::vector<hid::DeviceInfo> enumerate(std::uint16_t vendorId, std::uint16_t productId) override;
  std::unique_ptr<hid::Device> open(const std::string& path,
                                    hid::OpenError* error = nullptr) override;
  int exit() override;
  bool announcesHotplug() const override { return true; }
  int subscribeHotplug(HotplugCallback callback) override {
    return addListener(std::move(callback));
  }
  void unsubscribeHotplug(int id) override { removeListener(id); }
  bool simulated() const override { return true; }

  struct State;  // shared with open handles, which may outlive a detach

 private:
  std::shared_ptr<State> state_;
};

}  // namespace talkgate::sim
