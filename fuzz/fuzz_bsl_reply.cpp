// Decodes arbitrary loader input reports.

#include "firmware/bsl_wire.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  talkgate::firmware::bsl::Reply reply;
  if (talkgate::firmware::bsl::decodeReply(data, size, reply)) {
    if (reply.data < data || reply.data + reply.length > data + size) __builtin_trap();
  }
  return 0;
}
