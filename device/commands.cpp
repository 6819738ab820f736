// The Talkgate's command set over the transport.

#include "device/commands.h"

#include <algorithm>
#include <array>

namespace talkgate {
namespace {

constexpr std::size_t kReplyBufferSize = hid::kReportSize;
constexpr std::size_t kAmbientValueBytes = 2;
constexpr std::size_t kShortSerialLength = 8;
constexpr std::size_t kLongSerialLength = 12;

// One exchange with the standard reply buffer and timeout.
int exchange(DeviceHandle device, std::uint8_t command, const std::uint8_t* payload,
             std::size_t length, std::array<std::uint8_t, kReplyBufferSize>& reply,
             std::uint32_t& replyLength) {
  replyLength = 0;
  return USBEncoderSendAndReceive_a(device, command, payload, static_cast<int>(length),
                                    reply.data(), static_cast<int>(reply.size()), &replyLength,
                                    kReplyTimeoutMs);
}

int sendCommand(DeviceHandle device, std::uint8_t command, const std::uint8_t* payload = nullptr,
                std::size_t length = 0) {
  std::array<std::uint8_t, kReplyBufferSize> reply{};
  std::uint32_t replyLength = 0;
  return exchange(device, command, payload, length, reply, replyLength);
}

// Reads a NUL-ended text starting at offset; a text without NUL ends at the end of the data.
// Returns the offset just after the text's NUL (or the end of the data).
std::size_t readText(const std::uint8_t* data, std::size_t length, std::size_t offset,
                     std::string& out) {
  out.clear();
  if (offset >= length) return length;
  const std::uint8_t* begin = data + offset;
  const std::uint8_t* end = data + length;
  const std::uint8_t* nul = std::find(begin, end, 0);
  out.assign(begin, nul);
  return nul == end ? length : static_cast<std::size_t>(nul - data) + 1;
}

}  // namespace

bool decodeStatus(const std::uint8_t* data, std::size_t length, DeviceStatus& out) {
  if (data == nullptr || length < kStatusFixedBytes) return false;
  DeviceStatus status;
  status.symbolBrightness = data[0];
  status.ambientConfig = data[1];
  status.keypadType = data[2];
  std::copy_n(data + 3, kKeyTableSize, status.keyTable.begin());
  std::size_t offset = readText(data, length, kStatusFixedBytes, status.firmwareVersion);
  offset = readText(data, length, offset, status.serialNumber);
  readText(data, length, offset, status.temperature);
  out = std::move(status);
  return true;
}

int readStatus(DeviceHandle device, DeviceStatus& out) {
  std::array<std::uint8_t, kReplyBufferSize> reply{};
  std::uint32_t replyLength = 0;
  const int result = exchange(device, kCmdStatus, nullptr, 0, reply, replyLength);
  if (result != kOk) return result;
  return decodeStatus(reply.data(), replyLength, out) ? kOk : kErrRefused;
}

int setSymbolBrightness(DeviceHandle device, std::uint8_t value) {
  return sendCommand(device, kCmdSetSymbolBrightness, &value, 1);
}

int setAmbientConfig(DeviceHandle device, std::uint8_t value) {
  return sendCommand(device, kCmdSetAmbientConfig, &value, 1);
}

int writeKeyTable(DeviceHandle device, const KeyTable& table) {
  return sendCommand(device, kCmdSetKeyTable, table.data(), table.size());
}

int storeDefaults(DeviceHandle device) {
  return sendCommand(device, kCmdStoreDefaults);
}

int factoryReset(DeviceHandle device) {
  return sendCommand(device, kCmdFactoryReset);
}

int enterLoader(DeviceHandle device) {
  return sendCommand(device, kCmdEnterLoader);
}

bool isValidSerialNumber(std::string_view serial) {
  return serial.size() == kShortSerialLength || serial.size() == kLongSerialLength;
}

int setSerialNumber(DeviceHandle device, std::string_view serial) {
  if (!isValidSerialNumber(serial)) return kErrInvalidArgument;
  return sendCommand(device, kCmdSetSerialNumber,
                     reinterpret_cast<const std::uint8_t*>(serial.data()), serial.size());
}

int setKeypadType(DeviceHandle device, std::uint8_t value) {
  return sendCommand(device, kCmdSetKeypadType, &value, 1);
}

int readAmbientValue(DeviceHandle device, std::uint16_t& value) {
  std::array<std::uint8_t, kReplyBufferSize> reply{};
  std::uint32_t replyLength = 0;
  const int result = exchange(device, kCmdAmbientValue, nullptr, 0, reply, replyLength);
  if (result != kOk) return result;
  if (replyLength < kAmbientValueBytes) return kErrRefused;
  value = static_cast<std::uint16_t>(reply[0] * 256 + reply[1]);
  return kOk;
}

std::string resultText(int result) {
  const char* text = "unknown error";
  switch (result) {
    case kOk:
      text = "success";
      break;
    case kErrIo:
      text = "no device or I/O error";
      break;
    case kErrInvalidArgument:
      text = "invalid argument";
      break;
    case kErrTimeout:
      text = "timeout";
      break;
    case kErrSizeByte:
      text = "bad size byte";
      break;
    case kErrRefused:
      text = "refused or malformed reply";
      break;
    default:
      break;
  }
  return std::string(text) + " (" + std::to_string(result) + ")";
}

}  // namespace talkgate
