// The hidapi implementation of the HID port (hidraw back end on Linux), the system's port there.

#include <hidapi/hidapi.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cwchar>

#include "device/hid_port.h"
#include "device/usb_location_linux.h"

namespace talkgate::hid {
namespace {

constexpr std::size_t kMaxDeviceStringChars = 255;

std::wstring wideOrEmpty(const wchar_t* text) {
  return text ? std::wstring(text) : std::wstring();
}

class HidapiDevice : public Device {
 public:
  explicit HidapiDevice(hid_device* device) : device_(device) {}
  ~HidapiDevice() override { hid_close(device_); }
  HidapiDevice(const HidapiDevice&) = delete;
  HidapiDevice& operator=(const HidapiDevice&) = delete;

  int write(const std::uint8_t* data, std::size_t length) override {
    return hid_write(device_, data, length);
  }
  int read(std::uint8_t* data, std::size_t length) override {
    return hid_read(device_, data, length);
  }
  int setNonBlocking(bool nonBlocking) override {
    return hid_set_nonblocking(device_, nonBlocking ? 1 : 0);
  }
  bool manufacturerString(std::wstring& out) override {
    return readString(&hid_get_manufacturer_string, out);
  }
  bool productString(std::wstring& out) override {
    return readString(&hid_get_product_string, out);
  }

 private:
  using StringCall = int (*)(hid_device*, wchar_t*, size_t);

  bool readString(StringCall call, std::wstring& out) {
    wchar_t buffer[kMaxDeviceStringChars] = {};
    if (call(device_, buffer, kMaxDeviceStringChars) != 0) return false;
    buffer[kMaxDeviceStringChars - 1] = L'\0';  // hidapi terminates, but do not rely on it
    out.assign(buffer);
    return true;
  }

  hid_device* device_;
};

// Why hid_open_path failed. hidraw paths are device nodes: a node that exists but cannot be
// opened for reading and writing is a permission problem the operator can fix.
OpenError classifyOpenFailure(const std::string& path, int savedErrno) {
  if (savedErrno == EACCES || savedErrno == EPERM) return OpenError::PermissionDenied;
  if (::access(path.c_str(), F_OK) != 0) return OpenError::NotFound;
  if (::access(path.c_str(), R_OK | W_OK) != 0) return OpenError::PermissionDenied;
  return OpenError::Other;
}

class HidapiPort : public Port {
 public:
  int init() override { return hid_init() == 0 ? 0 : -1; }

  std::vector<DeviceInfo> enumerate(std::uint16_t vendorId, std::uint16_t productId) override {
    std::vector<DeviceInfo> result;
    hid_device_info* list = hid_enumerate(vendorId, productId);
    for (hid_device_info* it = list; it != nullptr; it = it->next) {
      DeviceInfo info;
      info.path = it->path ? it->path : "";
      info.vendorId = it->vendor_id;
      info.productId = it->product_id;
      info.interfaceNumber = it->interface_number;
      info.serialNumber = wideOrEmpty(it->serial_number);
      info.manufacturer = wideOrEmpty(it->manufacturer_string);
      info.product = wideOrEmpty(it->product_string);
      info.location = usbLocationOfHidraw(info.path);
      result.push_back(std::move(info));
    }
    hid_free_enumeration(list);
    return result;
  }

  std::unique_ptr<Device> open(const std::string& path, OpenError* error) override {
    // hidapi 0.13's hidraw back end crashes on a path that is not a hidraw node, so anything
    // but an accessible character device is turned away before it is handed over.
    struct stat node {};
    OpenError reason = OpenError::None;
    if (::stat(path.c_str(), &node) != 0) {
      reason = OpenError::NotFound;
    } else if (::access(path.c_str(), R_OK | W_OK) != 0) {
      reason = OpenError::PermissionDenied;
    } else if (!S_ISCHR(node.st_mode)) {
      reason = OpenError::Other;
    }
    hid_device* device = nullptr;
    if (reason == OpenError::None) {
      errno = 0;
      device = hid_open_path(path.c_str());
      if (device == nullptr) reason = classifyOpenFailure(path, errno);
    }
    if (error) *error = reason;
    if (device == nullptr) return nullptr;
    return std::make_unique<HidapiDevice>(device);
  }

  int exit() override { return hid_exit() == 0 ? 0 : -1; }
};

}  // namespace

Port& hidapiPort() {
  static HidapiPort port;
  return port;
}

Port& systemPort() {
  return hidapiPort();
}

}  // namespace talkgate::hid
