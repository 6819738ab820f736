#pragma once
// Reports arrivals and removals of HID interfaces with given identifiers on the active port:
// through the virtual bus's listeners when the active port is a sim::VirtualBus, otherwise
// by periodic enumeration. Portable stand-in for the window system's device notifications.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace talkgate::firmware {

class DeviceWatcher {
 public:
  // true: an interface arrived; false: one left. Called on the watcher's own thread (polling)
  // or on the thread that changed the virtual bus; never with a watcher lock held.
  using Callback = std::function<void(bool arrived)>;

  virtual ~DeviceWatcher() = default;
  // Starts reporting; false when it cannot (already started, or no callback).
  virtual bool start(Callback callback) = 0;
  // Stops reporting; when it returns no callback runs any more. Safe to call twice.
  virtual void stop() = 0;
};

inline constexpr std::chrono::milliseconds kWatcherPollInterval{500};

// A watcher for the given identifiers on the port active now.
std::unique_ptr<DeviceWatcher> makeDeviceWatcher(
    std::uint16_t vendorId, std::uint16_t productId,
    std::chrono::milliseconds pollInterval = kWatcherPollInterval);

// The polling watcher's core, usable without its thread: compares one enumeration with the
// previous one and reports the difference.
class EnumerationDiff {
 public:
  EnumerationDiff(std::uint16_t vendorId, std::uint16_t productId)
      : vendorId_(vendorId), productId_(productId) {}
  // Enumerates the active port once and calls callback for every path that came or went
  // since the last call (the first call only records what is there).
  void poll(const DeviceWatcher::Callback& callback);

 private:
  std::uint16_t vendorId_;
  std::uint16_t productId_;
  bool primed_ = false;
  std::vector<std::string> paths_;
};

}  // namespace talkgate::firmware
