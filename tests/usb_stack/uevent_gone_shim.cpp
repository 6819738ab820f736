// Loaded with LD_PRELOAD by scripts/usb-stack/scenarios.sh inside the test VM: libudev's
// reading of a device's "uevent" attribute fails, as it does when the device leaves the bus
// between being listed and being read. hidapi 0.13's hidraw back end passes that failure on to
// strlen; the programs must list and open the Talkgate all the same.

#include <dlfcn.h>

#include <cstring>

struct udev_device;

extern "C" const char* udev_device_get_sysattr_value(udev_device* device, const char* name) {
  using Call = const char* (*)(udev_device*, const char*);
  static const auto real =
      reinterpret_cast<Call>(dlsym(RTLD_NEXT, "udev_device_get_sysattr_value"));
  if (real == nullptr || (name != nullptr && std::strcmp(name, "uevent") == 0)) return nullptr;
  return real(device, name);
}
