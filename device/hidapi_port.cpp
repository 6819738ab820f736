// The hidapi implementation of the HID port (hidraw back end on Linux), the system's port there.
// hidapi opens, reads and writes; interfaces are listed and their strings read from sysfs
// (hidraw_sysfs.h), because hidapi 0.13's own code for that crashes on a device that leaves the
// bus while it runs.

#include <hidapi/hidapi.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>

#include "device/hid_port.h"
#include "device/hidraw_sysfs.h"
#include "device/usb_location_linux.h"

namespace talkgate::hid {
namespace {

class HidapiDevice : public Device {
 public:
  // sysfsNode: the node's directory in sysfs, where its strings are read.
  HidapiDevice(hid_device* device, std::string sysfsNode)
      : device_(device), sysfsNode_(std::move(sysfsNode)) {}
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
    const auto info = readHidrawInterface(sysfsNode_);
    if (info) out = info->manufacturer;
    return info.has_value();
  }
  bool productString(std::wstring& out) override {
    const auto info = readHidrawInterface(sysfsNode_);
    if (info) out = info->product;
    return info.has_value();
  }

 private:
  hid_device* device_;
  std::string sysfsNode_;
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
    std::vector<DeviceInfo> result = enumerateHidraw("/sys", vendorId, productId);
    for (DeviceInfo& info : result) info.location = usbLocationOfHidraw(info.path);
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
    return std::make_unique<HidapiDevice>(device, "/sys/dev/char/" +
                                                      std::to_string(major(node.st_rdev)) + ":" +
                                                      std::to_string(minor(node.st_rdev)));
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
