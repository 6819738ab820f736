// Run by scripts/usb-stack/scenarios.sh inside the test VM, against talkgate-gadget
// --sim-fault late-reply (the first reply comes a second late) over the real hidapi port: a
// request that timed out, then, once its late reply waits in the host's queue, the next
// requests must get their own replies.

#include <chrono>
#include <cstdio>
#include <thread>

#include "device/commands.h"
#include "device/transport.h"

using namespace talkgate;

int main() {
  char manufacturer[kDeviceStringBuffer];
  char product[kDeviceStringBuffer];
  const DeviceHandle device = ScanForUSBDevice_a(kVendorId, kProductId, manufacturer, product);
  if (!device) {
    std::puts("no Talkgate found");
    return 1;
  }
  std::uint8_t reply[64];
  std::uint32_t length = 0;
  const int first =
      USBEncoderSendAndReceive_a(device, kCmdStatus, nullptr, 0, reply, sizeof reply, &length, 300);
  if (first != kErrTimeout) {
    std::printf("the first request did not time out: %s\n", resultText(first).c_str());
    return 1;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));  // the late reply arrives
  const int set = setSymbolBrightness(device, 7);
  DeviceStatus status;
  const int read = readStatus(device, status);
  hid_exit_safely(device);
  if (set != kOk || read != kOk || status.symbolBrightness != 7) {
    std::printf("after the late reply: set brightness %s, status %s, brightness %d\n",
                resultText(set).c_str(), resultText(read).c_str(), status.symbolBrightness);
    return 1;
  }
  std::puts("each request got its own reply");
  return 0;
}
