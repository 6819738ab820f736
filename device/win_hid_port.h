#pragma once
// The HID port on the Windows HID and SetupAPI calls. The port's logic (which interfaces match,
// the interface number from the path, one overlapped read kept outstanding, padded writes, the
// report identifier in byte 0 as hidapi gives it) is written against Calls, a thin seam over
// the system: hid_win_calls.cpp makes the real calls on Windows, tests script their own.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "device/hid_port.h"

namespace talkgate::hid::win {

using Handle = std::intptr_t;
inline constexpr Handle kNoHandle = -1;

enum class Access {
  None,       // attributes and strings only: works while another program holds the device
  ReadWrite,  // reports, with overlapped I/O
};

enum class Io { Done, Pending, Failed };

// What the system's HID calls give; each maps to one or two system calls.
class Calls {
 public:
  virtual ~Calls() = default;
  // The device interface paths (UTF-8) of every HID interface present now
  // (SetupDiGetClassDevs, SetupDiEnumDeviceInterfaces, SetupDiGetDeviceInterfaceDetail).
  virtual std::vector<std::string> interfacePaths() = 0;
  // CreateFileW; kNoHandle with the reason in error on failure.
  virtual Handle open(const std::string& path, Access access, OpenError& error) = 0;
  virtual void close(Handle handle) = 0;
  // HidD_GetAttributes.
  virtual bool attributes(Handle handle, std::uint16_t& vendorId, std::uint16_t& productId) = 0;
  // HidD_GetPreparsedData and HidP_GetCaps: the report lengths, report identifier included.
  virtual bool reportLengths(Handle handle, std::size_t& input, std::size_t& output) = 0;
  // HidD_GetManufacturerString, HidD_GetProductString, HidD_GetSerialNumberString.
  enum class Text { Manufacturer, Product, Serial };
  virtual bool text(Handle handle, Text which, std::wstring& out) = 0;
  // ReadFile on the handle's one read buffer (overlapped): Done with the bytes in got, Pending,
  // or Failed (the device has gone, for instance).
  virtual Io startRead(Handle handle, std::uint8_t* buffer, std::size_t size,
                       std::size_t& got) = 0;
  // Waits up to timeoutMs (-1: without end) for the read started last.
  virtual Io finishRead(Handle handle, int timeoutMs, std::size_t& got) = 0;
  // CancelIo, then waits until the read has let go of its buffer.
  virtual void cancelRead(Handle handle) = 0;
  // WriteFile (overlapped, waited for up to a second); false on failure.
  virtual bool write(Handle handle, const std::uint8_t* data, std::size_t length,
                     std::size_t& written) = 0;

  // The device tree (configuration manager), for the USB port an interface hangs on.
  using Node = std::uint32_t;  // a DEVINST; 0: none
  // The device node of an interface (SetupDiOpenDeviceInterfaceW, then its SP_DEVINFO_DATA).
  virtual Node interfaceNode(const std::string& path) = 0;
  // CM_Get_Parent; 0 at the top or on failure.
  virtual Node parent(Node node) = 0;
  // CM_Get_Device_IDW, such as "USB\VID_2047&PID_0922\TG260001"; empty on failure.
  virtual std::string instanceId(Node node) = 0;
  // CM_DRP_LOCATION_PATHS (SPDRP_LOCATION_PATHS), such as
  // "PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(2)"; empty when the node has none.
  virtual std::vector<std::string> locationPaths(Node node) = 0;
  // CM_DRP_LOCATION_INFORMATION (SPDRP_LOCATION_INFORMATION), such as "Port_#0002.Hub_#0001".
  virtual std::string locationInformation(Node node) = 0;
};

// The interface number from a path's "&mi_XX" (hexadecimal, any case); -1 without one.
int interfaceNumberFromPath(const std::string& path);

// The USB port of the device an interface belongs to: the first location path of the USB
// device node above it (the first ancestor whose instance ID starts "USB\" without "&MI_",
// which a composite device's interface nodes hold), else its location information; empty when
// there is no such node or it tells neither. The same for the Talkgate and its loader.
std::string usbLocation(Calls& calls, const std::string& interfacePath);

// A Port over calls, which must outlive it.
std::unique_ptr<Port> makePort(Calls& calls);

// The real calls (Windows only: hid_win_calls.cpp).
Calls& systemCalls();

}  // namespace talkgate::hid::win
