#pragma once
// One USB gadget made through configfs (/sys/kernel/config/usb_gadget): a device with HID
// functions, bound to a USB device controller (UDC) and unbound again, which the host sees as
// plugging the device in and pulling it out. Removed from configfs on destruction.

#include <cstdint>
#include <string>
#include <vector>

namespace talkgate::gadget {

struct HidFunction {
  std::string name;  // configfs instance name, "kbd" gives functions/hid.kbd
  std::uint8_t subclass = 0;
  std::uint8_t protocol = 0;
  std::uint16_t reportLength = 64;
  std::vector<std::uint8_t> reportDescriptor;
};

struct GadgetDescription {
  std::uint16_t vendorId = 0;
  std::uint16_t productId = 0;
  std::uint16_t bcdDevice = 0x0100;
  // Without strings the device has no string descriptors at all.
  bool strings = true;
  std::string manufacturer;
  std::string product;
  std::string serialNumber;
  unsigned maxPowerMa = 100;
  // In this order; the position is the interface number the host sees.
  std::vector<HidFunction> functions;
};

// A boot keyboard (interface subclass 1, protocol 1, 8-byte reports).
HidFunction bootKeyboardFunction(const std::string& name);
// The vendor interface of the Talkgate and of the MSP430 USB loader: usage page 0xFF00, report
// identifier 0x3F, 63 data bytes in and out (64-byte reports with the identifier).
HidFunction vendorFunction(const std::string& name);

class ConfigfsGadget {
 public:
  // Creates configfs/usb_gadget/name; throws std::runtime_error with the reason on failure
  // (and removes what it had made).
  ConfigfsGadget(std::string configfsRoot, std::string name, const GadgetDescription& description);
  ~ConfigfsGadget();
  ConfigfsGadget(const ConfigfsGadget&) = delete;
  ConfigfsGadget& operator=(const ConfigfsGadget&) = delete;

  // Binds to the UDC: the host sees the device arrive. Throws on failure.
  void bind(const std::string& udc);
  // Unbinds: the host sees the device leave. No-op while unbound.
  void unbind() noexcept;
  bool bound() const { return bound_; }
  // The /dev/hidgN node of function index (while bound); throws when it cannot be found.
  std::string functionNode(std::size_t index) const;

 private:
  void removeAll() noexcept;

  std::string dir_;
  std::vector<std::string> functionNames_;
  std::vector<std::string> made_;  // paths created, in order (removed in reverse)
  bool bound_ = false;
};

}  // namespace talkgate::gadget
