// The framed request/reply exchange over the active HID port.

#include "device/transport.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>

#include "device/clock.h"
#include "device/frame.h"

namespace talkgate {

DeviceHandle hid_handle = nullptr;

namespace {

constexpr char kNoDevice[] = "None";
constexpr char kUnreadable[] = "Unable To Find";

// One exchange at a time, process-wide; closing takes it too so a close cannot pull the device
// out from under a running exchange.
std::mutex& exchangeMutex() {
  static std::mutex mutex;
  return mutex;
}

// Copies text into a caller buffer of bufferSize bytes, cut to fit and always NUL-terminated.
void copyText(const char* text, char* buffer, std::size_t bufferSize) {
  if (buffer == nullptr || bufferSize == 0) return;
  const std::size_t length = std::min(std::strlen(text), bufferSize - 1);
  std::memcpy(buffer, text, length);
  buffer[length] = '\0';
}

// Copies a device string keeping the low 8 bits of each character, cut to the buffer.
void copyDeviceString(const std::wstring& text, char* buffer, std::size_t bufferSize) {
  if (buffer == nullptr || bufferSize == 0) return;
  std::size_t i = 0;
  for (; i < text.size() && i + 1 < bufferSize && text[i] != L'\0'; ++i) {
    buffer[i] = static_cast<char>(static_cast<unsigned>(text[i]) & 0xFFu);
  }
  buffer[i] = '\0';
}

void readDeviceString(bool ok, const std::wstring& text, char* buffer, std::size_t bufferSize) {
  if (ok) {
    copyDeviceString(text, buffer, bufferSize);
  } else {
    copyText(kUnreadable, buffer, bufferSize);
  }
}

// The interface ScanForUSBDevice_a opens: the first interface 1 with the identifiers.
std::optional<hid::DeviceInfo> configInterface(hid::Port& port, int vendorId, int productId) {
  const auto interfaces =
      port.enumerate(static_cast<std::uint16_t>(vendorId), static_cast<std::uint16_t>(productId));
  const auto chosen = std::find_if(interfaces.begin(), interfaces.end(), [](const auto& info) {
    return info.interfaceNumber == kConfigInterface;
  });
  if (chosen == interfaces.end()) return std::nullopt;
  return *chosen;
}

}  // namespace

std::string configInterfaceLocation(int vendorId, int productId) {
  hid::Port& port = hid::activePort();
  if (port.init() != 0) return {};
  const auto chosen = configInterface(port, vendorId, productId);
  return chosen ? chosen->location : std::string();
}

DeviceHandle ScanForUSBDevice_a(int vendorId, int productId, char* manufacturer, char* product,
                                std::size_t bufferSize, hid::OpenError* openError) {
  hid::Port& port = hid::activePort();
  hid::OpenError error = hid::OpenError::NotFound;
  std::unique_ptr<hid::Device> device;
  if (port.init() != 0) {
    error = hid::OpenError::Other;
  } else if (const auto chosen = configInterface(port, vendorId, productId)) {
    device = port.open(chosen->path, &error);
  }
  if (!device) {
    if (error == hid::OpenError::None) error = hid::OpenError::Other;
    if (openError) *openError = error;
    copyText(kNoDevice, manufacturer, bufferSize);
    copyText(kNoDevice, product, bufferSize);
    return nullptr;
  }
  if (openError) *openError = hid::OpenError::None;

  std::wstring text;
  const bool haveManufacturer = device->manufacturerString(text);
  readDeviceString(haveManufacturer, text, manufacturer, bufferSize);
  text.clear();
  const bool haveProduct = device->productString(text);
  readDeviceString(haveProduct, text, product, bufferSize);

  device->setNonBlocking(true);
  return device.release();
}

int USBEncoderSendAndReceive_a(DeviceHandle device, std::uint8_t command,
                               const std::uint8_t* txData, int txLength, std::uint8_t* rxData,
                               int rxCapacity, std::uint32_t* rxLength, int timeoutMs) {
  if (device == nullptr) return kErrIo;
  if (txLength < 0 || txLength > kMaxPayloadBytes || (txLength > 0 && txData == nullptr)) {
    return kErrInvalidArgument;
  }
  std::lock_guard lock(exchangeMutex());

  // A reply that came after its request gave up must not answer this one.
  if (device->discardInput() < 0) return kErrIo;
  frame::Report report = frame::encodeRequest(command, txData, static_cast<std::size_t>(txLength));
  if (device->write(report.data(), report.size()) < 0) return kErrIo;

  int elapsedMs = 0;
  frame::Reply reply;
  for (;;) {
    report.fill(0);
    const int received = device->read(report.data(), report.size());
    if (received < 0) return kErrIo;
    if (received == 0) {
      activeClock().sleepFor(std::chrono::milliseconds(kPollIntervalMs));
      if (timeoutMs != 0) {
        elapsedMs += kPollIntervalMs;
        if (elapsedMs >= timeoutMs) return kErrTimeout;
      }
      continue;
    }
    reply = frame::decodeReply(report);
    if (reply.kind != frame::ReplyKind::Acknowledgement) break;
    elapsedMs = 0;  // each acknowledgement restarts the full timeout
  }

  switch (reply.kind) {
    case frame::ReplyKind::Frame:
      break;
    case frame::ReplyKind::BadSizeByte:
      return kErrSizeByte;
    default:
      return kErrRefused;
  }
  // Never write past the caller's buffer: a reply that does not fit is a failure, not a
  // silently shortened success.
  const std::size_t capacity = rxData ? static_cast<std::size_t>(std::max(rxCapacity, 0)) : 0;
  if (reply.data.size() > capacity) return kErrRefused;
  std::copy(reply.data.begin(), reply.data.end(), rxData);
  if (rxLength) *rxLength = static_cast<std::uint32_t>(reply.data.size());
  return kOk;
}

void hid_exit_safely(DeviceHandle device) {
  std::lock_guard lock(exchangeMutex());
  delete device;
  hid::activePort().exit();
}

}  // namespace talkgate
