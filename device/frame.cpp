#include "device/frame.h"

#include <algorithm>

namespace talkgate::frame {
namespace {

void putHexByte(Report& report, std::size_t offset, unsigned value) {
  report[offset] = hexDigit((value >> 4) & 0x0F);
  report[offset + 1] = hexDigit(value & 0x0F);
}

unsigned hexByteAt(std::span<const std::uint8_t> report, std::size_t offset) {
  return digitValue(report[offset]) * 16 + digitValue(report[offset + 1]);
}

}  // namespace

std::uint8_t checksum(std::span<const std::uint8_t> bytes) {
  std::uint8_t sum = 0;
  for (std::uint8_t b : bytes) sum ^= b;
  return sum;
}

Report encodeRequest(std::uint8_t command, const std::uint8_t* payload, std::size_t length) {
  if (payload == nullptr) length = 0;
  length = std::min(length, kMaxRequestPayload);
  Report report{};
  report[kIdOffset] = kReportId;
  report[kSizeOffset] = kSizeByte;
  report[kMarkerOffset] = kStx;
  putHexByte(report, kCommandOffset, command);
  putHexByte(report, kLengthOffset, static_cast<unsigned>(length & 0xFF));
  if (length > 0) std::copy_n(payload, length, report.begin() + kBodyOffset);
  const std::size_t etx = kBodyOffset + length;
  report[etx] = kEtx;
  report[etx + 1] = checksum(std::span(report).subspan(kMarkerOffset, etx - kMarkerOffset + 1));
  return report;
}

Reply decodeReply(const Report& report) {
  Reply reply;
  const std::uint8_t marker = report[kMarkerOffset];
  if (marker == kAck) {
    reply.kind = ReplyKind::Acknowledgement;
    return reply;
  }
  if (marker == kRefusal) {
    reply.kind = ReplyKind::Refusal;
    return reply;
  }
  if (report[kSizeOffset] > kSizeByte) {
    reply.kind = ReplyKind::BadSizeByte;
    return reply;
  }
  reply.kind = ReplyKind::Malformed;
  if (marker != kStx) return reply;
  const std::span<const std::uint8_t> bytes(report);
  const std::size_t length = hexByteAt(bytes, kLengthOffset);
  if (length < 1 || length > kMaxReplyLength) return reply;
  if (report[kBodyOffset] != kStatusOk) return reply;
  const std::size_t etx = kBodyOffset + length;
  if (report[etx] != kEtx) return reply;
  if (report[etx + 1] != checksum(bytes.subspan(kMarkerOffset, etx - kMarkerOffset + 1))) {
    return reply;
  }
  reply.kind = ReplyKind::Frame;
  reply.command = static_cast<std::uint8_t>(hexByteAt(bytes, kCommandOffset));
  reply.data = bytes.subspan(kBodyOffset + 1, length - 1);
  return reply;
}

std::optional<Request> decodeRequest(std::span<const std::uint8_t> report) {
  if (report.size() < hid::kReportSize) return std::nullopt;
  if (report[kMarkerOffset] != kStx) return std::nullopt;
  const std::size_t length = hexByteAt(report, kLengthOffset);
  if (length > kMaxRequestPayload) return std::nullopt;
  const std::size_t etx = kBodyOffset + length;
  if (report[etx] != kEtx) return std::nullopt;
  if (report[etx + 1] != checksum(report.subspan(kMarkerOffset, etx - kMarkerOffset + 1))) {
    return std::nullopt;
  }
  Request request;
  request.command = static_cast<std::uint8_t>(hexByteAt(report, kCommandOffset));
  request.payload = report.subspan(kBodyOffset, length);
  return request;
}

Report encodeReply(std::uint8_t command, const std::uint8_t* data, std::size_t length,
                   const ReplyShape& shape) {
  if (data == nullptr) length = 0;
  length = std::min(length, kMaxReplyData);
  const std::size_t fieldLength = length + 1;  // status byte and data
  Report report{};
  report[kIdOffset] = kReportId;
  report[kSizeOffset] = shape.sizeByte;
  report[kMarkerOffset] = kStx;
  putHexByte(report, kCommandOffset, command);
  putHexByte(report, kLengthOffset,
             static_cast<unsigned>(static_cast<int>(fieldLength) + shape.lengthAdjust) & 0xFF);
  report[kBodyOffset] = shape.status;
  if (length > 0) std::copy_n(data, length, report.begin() + kBodyOffset + 1);
  const std::size_t etx = kBodyOffset + fieldLength;
  report[etx] = shape.replaceEtx ? 0x00 : kEtx;
  report[etx + 1] = static_cast<std::uint8_t>(
      checksum(std::span(report).subspan(kMarkerOffset, etx - kMarkerOffset + 1)) ^
      shape.checksumXor);
  return report;
}

Report encodeMarker(std::uint8_t marker) {
  Report report{};
  report[kIdOffset] = kReportId;
  report[kSizeOffset] = kSizeByte;
  report[kMarkerOffset] = marker;
  return report;
}

}  // namespace talkgate::frame
