#pragma once
// The narrow HID interface the device link is written against. One implementation calls
// hidapi (hidapi_port.cpp), one the Windows HID calls (win_hid_port.cpp); the virtual bus in
// sim/ stands in for them in tests and the demo.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace talkgate::hid {

inline constexpr std::size_t kReportSize = 64;

// One HID interface as enumeration reports it.
struct DeviceInfo {
  std::string path;
  std::uint16_t vendorId = 0;
  std::uint16_t productId = 0;
  int interfaceNumber = -1;
  std::wstring serialNumber;
  std::wstring manufacturer;
  std::wstring product;
  // The USB port the device hangs on, which stays the same when it re-enumerates; empty where
  // the platform does not tell.
  std::string location{};
};

// Why an open failed; lets callers tell a missing device from one they may not open.
enum class OpenError { None, NotFound, PermissionDenied, Other };

// An open HID interface. Results follow hidapi: negative on failure.
class Device {
 public:
  virtual ~Device() = default;
  // Writes one report, report identifier in byte 0. Returns bytes written or -1.
  virtual int write(const std::uint8_t* data, std::size_t length) = 0;
  // Reads one report into data (identifier in byte 0). In non-blocking mode returns 0 at once
  // when nothing is waiting; -1 on error (for instance the device has left the bus).
  virtual int read(std::uint8_t* data, std::size_t length) = 0;
  // Switches reads to non-blocking (true) or blocking (false). Returns 0 or -1.
  virtual int setNonBlocking(bool nonBlocking) = 0;
  // Drops the reports already waiting to be read, such as a reply that came after its request
  // had timed out, so that it is not taken for the reply to the next request. Needs
  // non-blocking reads. Returns how many were dropped, or -1 when a read fails.
  virtual int discardInput() {
    constexpr int kMostDropped = 256;  // a device that never stops sending is not waited out
    std::uint8_t report[kReportSize];
    int dropped = 0;
    while (dropped < kMostDropped) {
      const int received = read(report, sizeof report);
      if (received < 0) return -1;
      if (received == 0) break;
      ++dropped;
    }
    return dropped;
  }
  // The USB manufacturer string; false when it cannot be read.
  virtual bool manufacturerString(std::wstring& out) = 0;
  // The USB product string; false when it cannot be read.
  virtual bool productString(std::wstring& out) = 0;
};

// A bus of HID interfaces.
class Port {
 public:
  virtual ~Port() = default;
  // Starts the library; may be called again after exit(). Returns 0 or -1.
  virtual int init() = 0;
  // Interfaces with the given identifiers, in the library's order. 0 and 0 list every interface.
  virtual std::vector<DeviceInfo> enumerate(std::uint16_t vendorId, std::uint16_t productId) = 0;
  // Opens one interface by path; nullptr on failure, with the reason in *error when given.
  virtual std::unique_ptr<Device> open(const std::string& path, OpenError* error = nullptr) = 0;
  // Shuts the library down. Returns 0 or -1.
  virtual int exit() = 0;

  // Arrival (true) and removal (false) of an interface.
  using HotplugCallback = std::function<void(const DeviceInfo& info, bool arrived)>;
  // True for a bus that announces arrivals and removals itself; others are watched by
  // enumerating them periodically.
  virtual bool announcesHotplug() const { return false; }
  // Subscribes to arrivals and removals; returns an id above 0, or 0 when not announced.
  virtual int subscribeHotplug(HotplugCallback /*callback*/) { return 0; }
  // Ends a subscription; a callback already under way may still finish.
  virtual void unsubscribeHotplug(int /*id*/) {}

  // True for a bus of simulated devices only. Our stand-in loader images may go to those; real
  // hardware, and any port that cannot tell, gets only the product's own images.
  virtual bool simulated() const { return false; }
};

// The port the device link uses. Defaults to the system's port.
Port& activePort();
// Replaces the active port (nullptr restores the system's port). The caller keeps ownership.
void setActivePort(Port* port);

// Installs a port for the lifetime of the guard, restoring the previous choice after.
class ScopedPort {
 public:
  explicit ScopedPort(Port& port);
  ~ScopedPort();
  ScopedPort(const ScopedPort&) = delete;
  ScopedPort& operator=(const ScopedPort&) = delete;

 private:
  Port* previous_;  // nullptr when the system's port was in force
};

// The system's HID port: hidapi on Linux (hidapi_port.cpp), the Windows HID and SetupAPI calls
// on Windows (win_hid_port.cpp over hid_win_calls.cpp).
Port& systemPort();

// The hidapi implementation (hidraw backend on Linux); not built on Windows.
Port& hidapiPort();

}  // namespace talkgate::hid
