// Feeds arbitrary 64-byte reports to the reply check of the transport.

#include <cstring>

#include "device/frame.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  talkgate::frame::Report report{};
  std::memcpy(report.data(), data, size < report.size() ? size : report.size());
  const talkgate::frame::Reply reply = talkgate::frame::decodeReply(report);
  if (reply.kind == talkgate::frame::ReplyKind::Frame) {
    // The data must lie inside the report it was decoded from.
    const auto* begin = report.data();
    const auto* end = begin + report.size();
    if (reply.data.data() < begin || reply.data.data() + reply.data.size() > end) __builtin_trap();
    if (reply.data.size() > talkgate::frame::kMaxReplyData) __builtin_trap();
  }
  return 0;
}
