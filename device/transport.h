#pragma once
// The framed request/reply exchange with the Talkgate over 64-byte HID reports.
// Everything above this file speaks in command codes and payloads.

#include <cstddef>
#include <cstdint>
#include <string>

#include "device/hid_port.h"

namespace talkgate {

using DeviceHandle = hid::Device*;

// The process's one open Talkgate, or nullptr. Owned by the main window (or the command-line
// tool); every other user borrows it.
extern DeviceHandle hid_handle;

inline constexpr int kVendorId = 0x2047;
inline constexpr int kProductId = 0x0922;
inline constexpr int kConfigInterface = 1;
inline constexpr int kReplyTimeoutMs = 5000;
inline constexpr int kPollIntervalMs = 10;
inline constexpr std::size_t kDeviceStringBuffer = 48;

// Result codes of an exchange.
inline constexpr int kOk = 0;
inline constexpr int kErrIo = -1;
inline constexpr int kErrTimeout = -6;
inline constexpr int kErrSizeByte = -8;
inline constexpr int kErrRefused = -13;
// Not a device result: the arguments were refused before anything was sent (a payload longer
// than a report can carry, a negative length, a serial number of the wrong length).
inline constexpr int kErrInvalidArgument = -2;
// The largest request payload a 64-byte report can carry.
inline constexpr int kMaxPayloadBytes = 55;

// Opens the first interface number 1 with the given identifiers on the active port. Fills the
// two buffers (bufferSize bytes each, cut to fit) with the device strings, "Unable To Find" for
// one that cannot be read, or "None" in both when nothing was opened. Returns the handle or
// nullptr. openError, when given, tells why nothing was opened.
DeviceHandle ScanForUSBDevice_a(int vendorId, int productId, char* manufacturer, char* product,
                                std::size_t bufferSize = kDeviceStringBuffer,
                                hid::OpenError* openError = nullptr);

// The USB port (hid::DeviceInfo::location) of the interface ScanForUSBDevice_a opens with these
// identifiers; "" when there is none or the port does not tell.
std::string configInterfaceLocation(int vendorId, int productId);

// Sends one request and waits for its reply; returns kOk or a negative result code. Reports
// already waiting (late replies to earlier requests) are dropped first. The reply's
// data bytes go to rxData (at most rxCapacity of them) and their count to *rxLength.
// timeoutMs 0 waits without limit. A reply with more data than rxCapacity gives kErrRefused;
// a txLength outside 0..kMaxPayloadBytes gives kErrInvalidArgument with no traffic. Exchanges
// are serialised process-wide (hid_exit_safely takes the same lock), so code running inside an
// exchange, such as a simulated device's callback, must not call these functions.
int USBEncoderSendAndReceive_a(DeviceHandle device, std::uint8_t command,
                               const std::uint8_t* txData, int txLength, std::uint8_t* rxData,
                               int rxCapacity, std::uint32_t* rxLength, int timeoutMs);

// Closes the device if one is given, then shuts the HID library down.
void hid_exit_safely(DeviceHandle device);

}  // namespace talkgate
