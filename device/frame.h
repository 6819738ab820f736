#pragma once
// The wire format of the Talkgate's configuration interface, declared once: 64-byte reports
// carrying an STX/ETX frame with hexadecimal-ASCII command and length fields and an XOR
// checksum. The host (transport) and the simulated device both use these functions; nothing
// else indexes report bytes by hand.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "device/hid_port.h"

namespace talkgate::frame {

using Report = std::array<std::uint8_t, hid::kReportSize>;

inline constexpr std::uint8_t kReportId = 0x3F;
inline constexpr std::uint8_t kSizeByte = 0x40;  // also the largest size byte a reply may carry
inline constexpr std::uint8_t kStx = 0x02;
inline constexpr std::uint8_t kEtx = 0x03;
inline constexpr std::uint8_t kAck = 0x06;      // interim acknowledgement, restarts the timeout
inline constexpr std::uint8_t kRefusal = 0x0F;  // the device rejects the request
inline constexpr std::uint8_t kStatusOk = 0x00;

// Byte positions shared by requests and replies.
inline constexpr std::size_t kIdOffset = 0;
inline constexpr std::size_t kSizeOffset = 1;
inline constexpr std::size_t kMarkerOffset = 2;
inline constexpr std::size_t kCommandOffset = 3;
inline constexpr std::size_t kLengthOffset = 5;
inline constexpr std::size_t kBodyOffset = 7;  // request payload, or reply status byte

// A request frame ends with ETX and checksum at 7+n and 8+n, inside the report.
inline constexpr std::size_t kMaxRequestPayload = hid::kReportSize - 9;  // 55
// A reply's length field counts the status byte and the data bytes.
inline constexpr std::size_t kMaxReplyLength = hid::kReportSize - 9;  // 55
inline constexpr std::size_t kMaxReplyData = kMaxReplyLength - 1;     // 54

// The upper-case hexadecimal digit of a nibble (0 to 15).
constexpr std::uint8_t hexDigit(unsigned nibble) {
  nibble &= 0x0F;
  return static_cast<std::uint8_t>(nibble < 10 ? '0' + nibble : 'A' + (nibble - 10));
}

// The value of one received digit: "0"-"9" and upper-case "A"-"F"; anything else counts as 0.
constexpr unsigned digitValue(std::uint8_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10u;
  return 0;
}

// XOR of the given bytes.
std::uint8_t checksum(std::span<const std::uint8_t> bytes);

// Builds a request report. The payload is cut to kMaxRequestPayload bytes so the frame always
// fits; callers keep to that limit.
Report encodeRequest(std::uint8_t command, const std::uint8_t* payload, std::size_t length);

// A reply report as the host sees it.
enum class ReplyKind {
  Acknowledgement,  // marker 0x06
  Refusal,          // marker 0x0F
  BadSizeByte,      // size byte above 0x40
  Malformed,        // frame, length, status, ETX or checksum check failed
  Frame,            // a valid reply; data holds its bytes
};

struct Reply {
  ReplyKind kind = ReplyKind::Malformed;
  std::uint8_t command = 0;            // the echoed command code (not checked)
  std::span<const std::uint8_t> data;  // points into the decoded report
};

// Classifies and checks one received report. Markers are looked at before the size byte.
Reply decodeReply(const Report& report);

// ---- Device side, for the simulated Talkgate ----

// A request frame as the device decodes it.
struct Request {
  std::uint8_t command = 0;
  std::span<const std::uint8_t> payload;  // points into the decoded report
};

// Checks and decodes a request report; nullopt when the frame is not well formed.
std::optional<Request> decodeRequest(std::span<const std::uint8_t> report);

// How a reply frame is built; the defaults give a correct frame. The other values let a
// simulated device send the faulty frames tests need.
struct ReplyShape {
  std::uint8_t sizeByte = kSizeByte;
  std::uint8_t status = kStatusOk;
  int lengthAdjust = 0;          // added to the length field only, not to the frame
  bool replaceEtx = false;       // ETX written as 0x00 (the checksum covers the byte sent)
  std::uint8_t checksumXor = 0;  // XORed into the correct checksum
};

// Builds a reply frame; data is cut to kMaxReplyData bytes.
Report encodeReply(std::uint8_t command, const std::uint8_t* data, std::size_t length,
                   const ReplyShape& shape = {});

// Builds a bare marker report: an acknowledgement (kAck) or a refusal (kRefusal).
Report encodeMarker(std::uint8_t marker);

}  // namespace talkgate::frame
