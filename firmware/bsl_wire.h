#pragma once
// The MSP430 USB bootstrap loader's wire format, host side: 64-byte HID reports holding
// 0x3F, the core length NL and the core command or reply, padded to the report size.
// Every other host file builds and reads reports only through these functions.

#include <array>
#include <cstddef>
#include <cstdint>

namespace talkgate::firmware::bsl {

inline constexpr std::uint16_t kLoaderVendorId = 0x2047;
inline constexpr std::uint16_t kLoaderProductId = 0x0200;

inline constexpr std::size_t kReportBytes = 64;
inline constexpr std::uint8_t kReportId = 0x3F;
inline constexpr std::size_t kHeaderBytes = 2;  // report id and NL
inline constexpr std::size_t kMaxCoreBytes = kReportBytes - kHeaderBytes;
inline constexpr std::uint8_t kPadByte = 0xAC;
inline constexpr std::size_t kAddressBytes = 3;

// Data bytes per RX Data Block (Fast) report: below the 58 the report could carry, as
// proven tools use; even, so every block after an even start stays word aligned.
inline constexpr std::size_t kFastBlockBytes = 52;
static_assert(kFastBlockBytes % 2 == 0 && kFastBlockBytes + 1 + kAddressBytes <= kMaxCoreBytes);
// Largest read-back the loader answers in one report.
inline constexpr std::size_t kMaxTxBlockBytes = 52;

// Core commands.
inline constexpr std::uint8_t kCmdRxDataBlock = 0x10;
inline constexpr std::uint8_t kCmdRxPassword = 0x11;
inline constexpr std::uint8_t kCmdEraseSegment = 0x12;
inline constexpr std::uint8_t kCmdToggleInfoLock = 0x13;
inline constexpr std::uint8_t kCmdMassErase = 0x15;
inline constexpr std::uint8_t kCmdCrcCheck = 0x16;
inline constexpr std::uint8_t kCmdLoadPc = 0x17;
inline constexpr std::uint8_t kCmdTxDataBlock = 0x18;
inline constexpr std::uint8_t kCmdTxVersion = 0x19;
inline constexpr std::uint8_t kCmdTxBufferSize = 0x1A;
inline constexpr std::uint8_t kCmdRxDataBlockFast = 0x1B;

// Core replies: data, or a one-byte message.
inline constexpr std::uint8_t kReplyData = 0x3A;
inline constexpr std::uint8_t kReplyMessage = 0x3B;

// Messages of a 0x3B reply.
inline constexpr std::uint8_t kMsgOk = 0x00;
inline constexpr std::uint8_t kMsgWriteCheckFailed = 0x01;
inline constexpr std::uint8_t kMsgFlashFail = 0x02;
inline constexpr std::uint8_t kMsgVoltageChanged = 0x03;
inline constexpr std::uint8_t kMsgLocked = 0x04;
inline constexpr std::uint8_t kMsgPasswordError = 0x05;
inline constexpr std::uint8_t kMsgByteWriteForbidden = 0x06;
inline constexpr std::uint8_t kMsgUnknownCommand = 0x07;
inline constexpr std::uint8_t kMsgPacketTooLong = 0x08;

inline constexpr std::size_t kPasswordBytes = 32;
inline constexpr std::size_t kVersionBytes = 4;

using Report = std::array<std::uint8_t, kReportBytes>;

namespace detail {
inline std::size_t begin(Report& r, std::uint8_t command) {
  r.fill(kPadByte);
  r[0] = kReportId;
  r[2] = command;
  return kHeaderBytes + 1;
}
inline std::size_t putAddress(Report& r, std::size_t at, std::uint32_t address) {
  r[at] = static_cast<std::uint8_t>(address);
  r[at + 1] = static_cast<std::uint8_t>(address >> 8);
  r[at + 2] = static_cast<std::uint8_t>(address >> 16);
  return at + kAddressBytes;
}
inline void finish(Report& r, std::size_t end) {
  r[1] = static_cast<std::uint8_t>(end - kHeaderBytes);
}
}  // namespace detail

// A command without arguments (Mass Erase, TX BSL Version, TX Buffer Size, Toggle Info Lock).
inline void encodePlain(Report& r, std::uint8_t command) {
  detail::finish(r, detail::begin(r, command));
}

// A command of an address and optional data: RX Data Block (Fast), Erase Segment, Load PC.
// length must not exceed kMaxCoreBytes - 4; the caller's constants guarantee it.
inline void encodeAddressed(Report& r, std::uint8_t command, std::uint32_t address,
                            const std::uint8_t* data = nullptr, std::size_t length = 0) {
  std::size_t at = detail::putAddress(r, detail::begin(r, command), address);
  for (std::size_t i = 0; i < length; ++i) r[at++] = data[i];
  detail::finish(r, at);
}

// A command of an address and a 16-bit length: CRC Check, TX Data Block.
inline void encodeRange(Report& r, std::uint8_t command, std::uint32_t address,
                        std::uint16_t length) {
  std::size_t at = detail::putAddress(r, detail::begin(r, command), address);
  r[at++] = static_cast<std::uint8_t>(length);
  r[at++] = static_cast<std::uint8_t>(length >> 8);
  detail::finish(r, at);
}

// RX Password: the 32 bytes that stand at 0xFFE0-0xFFFF.
inline void encodePassword(Report& r, const std::uint8_t* password) {
  std::size_t at = detail::begin(r, kCmdRxPassword);
  for (std::size_t i = 0; i < kPasswordBytes; ++i) r[at++] = password[i];
  detail::finish(r, at);
}

// A decoded reply: its code (0x3A or 0x3B) and the bytes after it.
struct Reply {
  std::uint8_t code = 0;
  const std::uint8_t* data = nullptr;
  std::size_t length = 0;
};

// Decodes an input report. False for a wrong report id, a core length of 0 or beyond the
// report, or an unknown reply code.
inline bool decodeReply(const std::uint8_t* report, std::size_t size, Reply& out) {
  if (size < kHeaderBytes + 1 || report[0] != kReportId) return false;
  const std::size_t nl = report[1];
  if (nl == 0 || nl > kMaxCoreBytes || kHeaderBytes + nl > size) return false;
  const std::uint8_t code = report[2];
  if (code != kReplyData && code != kReplyMessage) return false;
  if (code == kReplyMessage && nl != 2) return false;
  out.code = code;
  out.data = report + kHeaderBytes + 1;
  out.length = nl - 1;
  return true;
}

}  // namespace talkgate::firmware::bsl
