#pragma once
// The USB bootstrap loader's reports as the part sees them, written from the loader guide's
// tables (report layout, core commands, replies and messages). Kept apart from the host's
// encoder on purpose: a wrong host constant then shows up as a refused or lost report.

#include <cstddef>
#include <cstdint>

namespace talkgate::sim::bslwire {

// A HID report: id 0x3F, the core length NL, then NL core bytes; the rest is padding.
inline constexpr std::size_t kReportBytes = 64;
inline constexpr std::uint8_t kReportId = 0x3F;
inline constexpr std::size_t kCoreOffset = 2;
inline constexpr std::size_t kMaxCore = kReportBytes - kCoreOffset;  // 62

// Core commands, first core byte.
enum Command : std::uint8_t {
  kRxDataBlock = 0x10,
  kRxPassword = 0x11,
  kEraseSegment = 0x12,
  kUnlockLockInfo = 0x13,
  kMassErase = 0x15,
  kCrcCheck = 0x16,
  kLoadPc = 0x17,
  kTxDataBlock = 0x18,
  kTxBslVersion = 0x19,
  kTxBufferSize = 0x1A,
  kRxDataBlockFast = 0x1B,
};

// First core byte of an answer: data follows, or one message byte.
inline constexpr std::uint8_t kDataReply = 0x3A;
inline constexpr std::uint8_t kMessageReply = 0x3B;

enum Message : std::uint8_t {
  kOk = 0x00,
  kWriteCheckFailed = 0x01,
  kFlashFailBit = 0x02,
  kVoltageChanged = 0x03,
  kLocked = 0x04,
  kPasswordWrong = 0x05,
  kByteWriteForbidden = 0x06,
  kUnknownCommand = 0x07,
  kLengthTooLong = 0x08,
};

// Core layout: command, address low/middle/high, then data or a 16-bit length (low first).
inline constexpr std::size_t kAddressAt = 1;
inline constexpr std::size_t kAfterAddress = 4;
inline constexpr std::size_t kPasswordCore = 1 + 32;
inline constexpr std::size_t kRangeCore = kAfterAddress + 2;

inline std::uint32_t addressAt(const std::uint8_t* core) {
  return static_cast<std::uint32_t>(core[kAddressAt]) |
         (static_cast<std::uint32_t>(core[kAddressAt + 1]) << 8) |
         (static_cast<std::uint32_t>(core[kAddressAt + 2]) << 16);
}
inline std::uint32_t rangeLengthAt(const std::uint8_t* core) {
  return static_cast<std::uint32_t>(core[kAfterAddress]) |
         (static_cast<std::uint32_t>(core[kAfterAddress + 1]) << 8);
}

}  // namespace talkgate::sim::bslwire
