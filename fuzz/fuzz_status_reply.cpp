// Decodes arbitrary status reply data.

#include "device/commands.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  talkgate::DeviceStatus status;
  if (talkgate::decodeStatus(data, size, status)) {
    const std::size_t texts =
        status.firmwareVersion.size() + status.serialNumber.size() + status.temperature.size();
    if (size < talkgate::kStatusFixedBytes || texts > size - talkgate::kStatusFixedBytes) {
      __builtin_trap();
    }
  }
  return 0;
}
