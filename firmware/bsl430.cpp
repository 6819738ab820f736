#include "firmware/bsl430.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>

#include "device/clock.h"
#include "device/hid_port.h"
#include "firmware/block_reader.h"
#include "firmware/bsl_wire.h"
#include "firmware/device_watcher.h"
#include "firmware/flash_layout.h"

namespace talkgate::firmware {
namespace {

constexpr int kMaxStaleReplies = 16;

struct Library {
  std::mutex mutex;
  int family = 0;
  int com = 0;
  std::unique_ptr<hid::Device> device;
  dataBuffer lastReply{};
  TiTxtImage openImage;
  std::optional<TiTxtBlockReader> reader;
  std::string lastError;
  bool lastUnanswered = false;
  std::function<bool()> stopWanted;
  bool stopped = false;
  bool stopsHeld = false;
  bool unsent = false;  // the last report could not be written
  hid::DeviceInfo connected;
};

Library& library() {
  static Library instance;
  return instance;
}

struct Notifications {
  std::mutex mutex;
  std::unique_ptr<DeviceWatcher> watcher;
};

Notifications& notifications() {
  static Notifications instance;
  return instance;
}

// "0x0200", "0200" or "200" as a 16-bit number.
bool parseHex16(std::string_view text, std::uint16_t& out) {
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
    text.remove_prefix(2);
  if (text.empty() || text.size() > 4) return false;
  std::uint32_t value = 0;
  for (char c : text) {
    int digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else {
      return false;
    }
    value = value * 16 + static_cast<std::uint32_t>(digit);
  }
  out = static_cast<std::uint16_t>(value);
  return true;
}

struct Connection {
  std::uint16_t vendorId = 0;
  std::uint16_t productId = 0;
  std::size_t index = 0;
};

bool parseConnection(std::string_view text, Connection& out, std::string& why) {
  bool haveVid = false;
  bool havePid = false;
  while (!text.empty()) {
    const std::size_t comma = text.find(',');
    std::string_view item = text.substr(0, comma);
    text = comma == std::string_view::npos ? std::string_view{} : text.substr(comma + 1);
    const std::size_t eq = item.find('=');
    if (eq == std::string_view::npos) {
      why = "connection text without '=': " + std::string(item);
      return false;
    }
    const std::string_view key = item.substr(0, eq);
    const std::string_view value = item.substr(eq + 1);
    if (key == "VID") {
      haveVid = parseHex16(value, out.vendorId);
      if (!haveVid) why = "bad VID " + std::string(value);
    } else if (key == "PID") {
      havePid = parseHex16(value, out.productId);
      if (!havePid) why = "bad PID " + std::string(value);
    } else if (key == "DEVICEINDEX") {
      if (value.empty() || value.size() > 3 ||
          !std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        why = "bad DEVICEINDEX " + std::string(value);
        return false;
      }
      out.index = static_cast<std::size_t>(std::stoi(std::string(value)));
    } else {
      why = "unknown connection key " + std::string(key);
      return false;
    }
    if (!why.empty()) return false;
  }
  if (!haveVid || !havePid) {
    why = "connection text needs VID and PID";
    return false;
  }
  return true;
}

void clearReply(Library& lib) {
  std::memset(lib.lastReply.bytes, 0, sizeof lib.lastReply.bytes);
}

void storeReply(Library& lib, const bsl::Reply& reply) {
  const std::size_t coreLength = reply.length + 1;
  lib.lastReply.bytes[0] = static_cast<std::uint8_t>(coreLength);
  lib.lastReply.bytes[1] = static_cast<std::uint8_t>(coreLength >> 8);
  lib.lastReply.bytes[kDataBufferCodeAt] = reply.code;
  std::memcpy(lib.lastReply.bytes + kDataBufferDataAt, reply.data, reply.length);
}

// True when the next report must not be sent: a stop was asked for.
bool stopping(Library& lib) {
  if (!lib.stopped && lib.stopWanted && lib.stopWanted()) lib.stopped = true;
  if (lib.stopsHeld && lib.stopWanted) lib.stopWanted();  // still heard, and warned of
  return lib.stopped && !lib.stopsHeld;
}

// Writes a report that gets no reply.
int sendOnly(Library& lib, const bsl::Report& report) {
  lib.unsent = true;
  if (!lib.device) return kBslNotConnected;
  if (stopping(lib)) return kBslStopped;
  if (lib.device->write(report.data(), report.size()) < 0) return kBslIoError;
  lib.unsent = false;
  return kBslOk;
}

// Writes a report and waits for its reply on the active clock.
int exchange(Library& lib, const bsl::Report& report, int timeoutMs, bsl::Reply& reply,
             bsl::Report& in) {
  clearReply(lib);
  lib.unsent = true;
  if (!lib.device) return kBslNotConnected;
  // A reply that came too late for an earlier request must not answer this one.
  for (int stale = 0;; ++stale) {
    const int pending = lib.device->read(in.data(), in.size());
    if (pending < 0) return kBslIoError;
    if (pending == 0) break;
    if (stale == kMaxStaleReplies) return kBslBadReply;  // a device that only babbles
  }
  if (stopping(lib)) return kBslStopped;
  if (lib.device->write(report.data(), report.size()) < 0) return kBslIoError;
  lib.unsent = false;
  Clock& clock = activeClock();
  const auto start = clock.now();
  for (;;) {
    const int n = lib.device->read(in.data(), in.size());
    if (n < 0) return kBslIoError;
    if (n > 0) {
      lib.lastUnanswered = false;
      if (!bsl::decodeReply(in.data(), static_cast<std::size_t>(n), reply)) return kBslBadReply;
      storeReply(lib, reply);
      return kBslOk;
    }
    if (clock.now() - start >= std::chrono::milliseconds(timeoutMs)) {
      lib.lastUnanswered = true;
      return kBslTimeout;
    }
    clock.sleepFor(std::chrono::milliseconds(kReplyPollMs));
  }
}

// A request answered by a 0x3B message: the message, or a negative result.
int messageRequest(Library& lib, const bsl::Report& report, int timeoutMs) {
  bsl::Reply reply;
  bsl::Report in;
  const int result = exchange(lib, report, timeoutMs, reply, in);
  if (result != kBslOk) return result;
  if (reply.code != bsl::kReplyMessage || reply.length != 1) return kBslBadReply;
  return reply.data[0];
}

int sendImage(Library& lib, const TiTxtImage& image, int flag) {
  if (flag != kRxFast && flag != kRxAcknowledged) return kBslInvalidArgument;
  for (const auto& section : image.sections) {
    if ((section.address & 1u) || section.end() > kMaxImageAddress + 1) {
      lib.lastError = "section at line " + std::to_string(section.line) + " cannot be sent";
      return kBslInvalidArgument;
    }
  }
  if (!lib.device) return kBslNotConnected;
  const std::uint8_t command = flag == kRxFast ? bsl::kCmdRxDataBlockFast : bsl::kCmdRxDataBlock;
  bsl::Report report;
  std::array<std::uint8_t, bsl::kFastBlockBytes> padded;
  for (const auto& section : image.sections) {
    const std::uint8_t* data = section.data.data();
    const std::size_t size = section.data.size();
    for (std::size_t at = 0; at < size; at += bsl::kFastBlockBytes) {
      std::size_t count = std::min(bsl::kFastBlockBytes, size - at);
      const std::uint8_t* chunk = data + at;
      if (count & 1u) {  // flash takes words only: pad with the erased value
        std::memcpy(padded.data(), chunk, count);
        padded[count++] = 0xFF;
        chunk = padded.data();
      }
      bsl::encodeAddressed(report, command, section.address + static_cast<std::uint32_t>(at), chunk,
                           count);
      const int result =
          flag == kRxFast ? sendOnly(lib, report) : messageRequest(lib, report, kReplyTimeoutMs);
      if (result != kBslOk) return result;
    }
  }
  return kBslOk;
}

DataBlock_ emptyBlock() {
  DataBlock_ block{};
  return block;
}

}  // namespace

int BSL_RegisterUSBDeviceNotification(DeviceNotification notify) {
  if (!notify) return -1;
  Notifications& n = notifications();
  std::lock_guard lock(n.mutex);
  if (n.watcher) n.watcher->stop();
  n.watcher = makeDeviceWatcher(bsl::kLoaderVendorId, bsl::kLoaderProductId);
  if (!n.watcher->start(std::move(notify))) {
    n.watcher.reset();
    return -1;
  }
  return 0;
}

int BSL_UnRegisterUSBDeviceNotification() {
  Notifications& n = notifications();
  std::unique_ptr<DeviceWatcher> watcher;
  {
    std::lock_guard lock(n.mutex);
    watcher = std::move(n.watcher);
  }
  if (watcher) watcher->stop();
  return 0;
}

std::uint32_t BSL_NumOfUSBDevices(std::uint16_t vendorId, std::uint16_t productId) {
  hid::Port& port = hid::activePort();
  if (port.init() != 0) return 0;
  return static_cast<std::uint32_t>(port.enumerate(vendorId, productId).size());
}

int BSL_setFamily(int family) {
  Library& lib = library();
  std::lock_guard lock(lib.mutex);
  lib.family = family;
  return family == kFamilyF5xxUsb ? kBslOk : kBslInvalidArgument;
}

int BSL_setCom(int com) {
  Library& lib = library();
  std::lock_guard lock(lib.mutex);
  lib.com = com;
  return com == kComUsbHid ? kBslOk : kBslInvalidArgument;
}

int BSL_initialize_BSL(std::string_view connection) {
  Library& lib = library();
  std::lock_guard lock(lib.mutex);
  lib.device.reset();
  lib.connected = {};
  clearReply(lib);
  lib.lastUnanswered = false;
  if (lib.family != kFamilyF5xxUsb || lib.com != kComUsbHid) {
    lib.lastError = "unsupported device family or interface";
    return kBslDeviceAbsent;
  }
  Connection target;
  std::string why;
  if (!parseConnection(connection, target, why)) {
    lib.lastError = why;
    return kBslDeviceAbsent;
  }
  hid::Port& port = hid::activePort();
  if (port.init() != 0) {
    lib.lastError = "HID library unavailable";
    return kBslDeviceAbsent;
  }
  const auto devices = port.enumerate(target.vendorId, target.productId);
  if (target.index >= devices.size()) {
    lib.lastError = "no loader device";
    return kBslDeviceAbsent;
  }
  auto device = port.open(devices[target.index].path);
  if (!device || device->setNonBlocking(true) != 0) {
    lib.lastError = "loader device cannot be opened";
    return kBslDeviceAbsent;
  }
  lib.device = std::move(device);
  lib.connected = devices[target.index];
  return kBslOk;
}

int BSL_close_BSL() {
  Library& lib = library();
  std::lock_guard lock(lib.mutex);
  lib.device.reset();
  lib.connected = {};
  return kBslOk;
}

hid::DeviceInfo BSL_connectedDevice() {
  Library& lib = library();
  std::lock_guard lock(lib.mutex);
  return lib.connected;
}

DataBlock_ BSL_readTI_Text(std::string_view text, int maxBytes) {
  Library& lib = library();
  TiTxtImage image;
  TiTxtError error;
  DataBlock_ block = emptyBlock();
  if (!parseTiTxt(text, image, error)) {
    std::lock_guard lock(lib.mutex);
    lib.lastError = error.text();
    return block;
  }
  TiTxtBlockReader reader(image);
  reader.read(static_cast<std::size_t>(std::max(maxBytes, 1)), block);
  return block;
}

DataBlock_ BSL_getDefaultPass() {
  DataBlock_ block = emptyBlock();
  std::memset(block.data, 0xFF, kPasswordBytes);
  block.numberOfBytes = kPasswordBytes;
  block.startAddress = kPasswordAddress;
  return block;
}

int BSL_RX_Password(const DataBlock_& password) {
  Library& lib = library();
  std::lock_guard lock(lib.mutex);
  // A short or misplaced password would be refused, and every refusal erases the device.
  if (password.numberOfBytes != kPasswordBytes || password.startAddress != kPasswordAddress) {
    lib.lastError = "the password must be 32 bytes at 0xFFE0";
    return kBslInvalidArgument;
  }
  bsl::Report report;
  bsl::encodePassword(report, password.data);
  return messageRequest(lib, report, kPasswordReplyTimeoutMs);
}

int BSL_RX_TXT(std::string_view text, int flag) {
  Library& lib = library();
  TiTxtImage image;
  TiTxtError error;
  const bool parsed = parseTiTxt(text, image, error);
  std::lock_guard lock(lib.mutex);
  if (!parsed) {
    lib.lastError = error.text();
    return kBslBadImage;
  }
  return sendImage(lib, image, flag);
}

int BSL_RX_TXT_File(const std::string& path, int flag) {
  Library& lib = library();
  std::string text;
  TiTxtError error;
  if (!readTextFile(path, text, error)) {
    std::lock_guard lock(lib.mutex);
    lib.lastError = error.text();
    return kBslCannotOpen;
  }
  return BSL_RX_TXT(text, flag);
}

int BSL_RX_Image(const TiTxtImage& image, int flag) {
  Library& lib = library();
  std::lock_guard lock(lib.mutex);
  return sendImage(lib, image, flag);
}

int BSL_LoadPC(std::uint32_t address) {
  Library& lib = library();
  std::lock_guard lock(lib.mutex);
  bsl::Report report;
  bsl::encodeAddressed(report, bsl::kCmdLoadPc, address);
  return sendOnly(lib, report);
}

std::string BSL_TX_BSL_Version_String() {
  Library& lib = library();
  std::lock_guard lock(lib.mutex);
  bsl::Report report;
  bsl::encodePlain(report, bsl::kCmdTxVersion);
  bsl::Reply reply;
  bsl::Report in;
  if (exchange(lib, report, kReplyTimeoutMs, reply, in) != kBslOk ||
      reply.code != bsl::kReplyData || reply.length != bsl::kVersionBytes) {
    return "ERROR";
  }
  char text[64];
  std::snprintf(text, sizeof text, "Vendor %02X, CI 0x%02X API 0x%02X PI 0x%02X", reply.data[0],
                reply.data[1], reply.data[2], reply.data[3]);
  return text;
}

int BSL_TX_BSL_Version(std::uint8_t (&version)[4]) {
  Library& lib = library();
  std::lock_guard lock(lib.mutex);
  bsl::Report report;
  bsl::encodePlain(report, bsl::kCmdTxVersion);
  bsl::Reply reply;
  bsl::Report in;
  const int result = exchange(lib, report, kReplyTimeoutMs, reply, in);
  if (result != kBslOk) return result;
  if (reply.code == bsl::kReplyMessage) return reply.data[0] != 0 ? reply.data[0] : kBslBadReply;
  if (reply.length != bsl::kVersionBytes) return kBslBadReply;
  std::memcpy(version, reply.data, bsl::kVersionBytes);
  return kBslOk;
}

int BSL_TX_DataBlock(std::uint32_t address, std::uint32_t length, std::uint8_t* out) {
  Library& lib = library();
  std::lock_guard lock(lib.mutex);
  if (length == 0 || length > bsl::kMaxTxBlockBytes || address > kMaxImageAddress) {
    return kBslInvalidArgument;
  }
  bsl::Report report;
  bsl::encodeRange(report, bsl::kCmdTxDataBlock, address, static_cast<std::uint16_t>(length));
  bsl::Reply reply;
  bsl::Report in;
  const int result = exchange(lib, report, kReplyTimeoutMs, reply, in);
  if (result != kBslOk) return result;
  if (reply.code == bsl::kReplyMessage) return reply.data[0] != 0 ? reply.data[0] : kBslBadReply;
  if (reply.length != length) return kBslBadReply;
  std::memcpy(out, reply.data, length);
  return kBslOk;
}

int BSL_eraseSegment(std::uint32_t address) {
  Library& lib = library();
  std::lock_guard lock(lib.mutex);
  if (address > kMaxImageAddress) return kBslInvalidArgument;
  bsl::Report report;
  bsl::encodeAddressed(report, bsl::kCmdEraseSegment, address);
  return messageRequest(lib, report, kReplyTimeoutMs);
}

int BSL_massErase() {
  Library& lib = library();
  std::lock_guard lock(lib.mutex);
  bsl::Report report;
  bsl::encodePlain(report, bsl::kCmdMassErase);
  return messageRequest(lib, report, kReplyTimeoutMs);
}

int BSL_CRC_Check(std::uint32_t address, std::uint32_t length) {
  Library& lib = library();
  std::lock_guard lock(lib.mutex);
  if (length == 0 || length > 0xFFFF || address > kMaxImageAddress) {
    clearReply(lib);
    return kBslInvalidArgument;
  }
  bsl::Report report;
  bsl::encodeRange(report, bsl::kCmdCrcCheck, address, static_cast<std::uint16_t>(length));
  bsl::Reply reply;
  bsl::Report in;
  const int result = exchange(lib, report, kReplyTimeoutMs, reply, in);
  if (result != kBslOk) return result;
  if (reply.code == bsl::kReplyMessage) return reply.data[0] != 0 ? reply.data[0] : kBslBadReply;
  return reply.length == 2 ? kBslOk : kBslBadReply;
}

dataBuffer BSL_get_RX_Buffer() {
  Library& lib = library();
  std::lock_guard lock(lib.mutex);
  return lib.lastReply;
}

int BSL_openTI_TextForRead(const std::string& path) {
  Library& lib = library();
  TiTxtImage image;
  TiTxtError error;
  std::string text;
  int result = kBslOk;
  if (!readTextFile(path, text, error)) {
    result = kBslCannotOpen;
  } else if (!parseTiTxt(text, image, error)) {
    result = kBslBadImage;
  }
  std::lock_guard lock(lib.mutex);
  lib.reader.reset();
  lib.openImage = std::move(image);
  if (result != kBslOk) {
    lib.lastError = error.text();
    return result;
  }
  lib.reader.emplace(lib.openImage);
  return kBslOk;
}

int BSL_moreDataToRead_TextFile() {
  Library& lib = library();
  std::lock_guard lock(lib.mutex);
  return lib.reader && lib.reader->more() ? 1 : 0;
}

DataBlock_ BSL_readTI_TextFile(int maxBytes) {
  Library& lib = library();
  std::lock_guard lock(lib.mutex);
  DataBlock_ block = emptyBlock();
  if (lib.reader) lib.reader->read(static_cast<std::size_t>(std::max(maxBytes, 1)), block);
  return block;
}

int BSL_closeTI_Text() {
  Library& lib = library();
  std::lock_guard lock(lib.mutex);
  lib.reader.reset();
  lib.openImage.sections.clear();
  return kBslOk;
}

void BSL_setStopCheck(std::function<bool()> stopWanted) {
  Library& lib = library();
  std::lock_guard lock(lib.mutex);
  lib.stopWanted = std::move(stopWanted);
  lib.stopped = false;
  lib.stopsHeld = false;
}

bool BSL_holdStops(bool hold) {
  Library& lib = library();
  std::lock_guard lock(lib.mutex);
  lib.stopsHeld = false;
  if (hold && stopping(lib)) return false;
  lib.stopsHeld = hold;
  return true;
}

bool BSL_lastRequestUnanswered() {
  Library& lib = library();
  std::lock_guard lock(lib.mutex);
  return lib.lastUnanswered;
}

bool BSL_lastReportUnsent() {
  Library& lib = library();
  std::lock_guard lock(lib.mutex);
  return lib.unsent;
}

std::string BSL_lastError() {
  Library& lib = library();
  std::lock_guard lock(lib.mutex);
  return lib.lastError;
}

}  // namespace talkgate::firmware
