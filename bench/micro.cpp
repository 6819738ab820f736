#include "bench/micro.h"

#include <array>

#include "device/clock.h"
#include "device/commands.h"
#include "device/hid_port.h"
#include "device/transport.h"
#include "firmware/crc.h"
#include "firmware/ti_txt.h"
#include "sim/sim_talkgate.h"
#include "sim/virtual_bus.h"

namespace talkgate::bench {
namespace {

constexpr std::size_t kReplyBufferBytes = 64;

MicroResult failed(std::string why) {
  MicroResult r;
  r.failure = std::move(why);
  return r;
}

MicroResult measured(double value) {
  MicroResult r;
  r.ok = value > 0.0;
  r.value = value;
  if (!r.ok) r.failure = "a result was wrong or no time could be measured";
  return r;
}

}  // namespace

MicroResult exchangeCpu(const SamplerSettings& settings) {
  ManualClock clock;
  ScopedClock scopedClock(clock);
  sim::VirtualBus bus;
  hid::ScopedPort usePort(bus);
  MicroResult result;
  {
    sim::SimTalkgate talkgate(bus);
    char manufacturer[kDeviceStringBuffer];
    char product[kDeviceStringBuffer];
    DeviceHandle handle = ScanForUSBDevice_a(kVendorId, kProductId, manufacturer, product);
    if (!handle) {
      result = failed("no simulated Talkgate on the bus");
    } else {
      std::array<std::uint8_t, kReplyBufferBytes> reply{};
      const double perCall = cpuSecondsPerCall(
          [&] {
            std::uint32_t length = 0;
            const int status = USBEncoderSendAndReceive_a(
                handle, kCmdStatus, nullptr, 0, reply.data(), static_cast<int>(reply.size()),
                &length, kReplyTimeoutMs);
            return status == kOk && length >= kStatusFixedBytes;
          },
          settings);
      result = measured(perCall);
      // A reply that needed polling would hide 10 ms waits the manual clock makes free.
      if (result.ok && clock.totalSlept().count() != 0) {
        result = failed("the simulated Talkgate did not answer at once");
      }
      hid_exit_safely(handle);
    }
  }
  return result;
}

MicroResult tiTxtThroughput(const std::string& text, std::size_t expectedBytes,
                            const SamplerSettings& settings) {
  firmware::TiTxtImage image;
  firmware::TiTxtError error;
  const double perCall = cpuSecondsPerCall(
      [&] {
        return firmware::parseTiTxt(text, image, error) && image.byteCount() == expectedBytes;
      },
      settings);
  if (perCall < 0.0) return failed("the text did not parse: " + error.text());
  return measured(perCall > 0.0 ? static_cast<double>(text.size()) / perCall : 0.0);
}

MicroResult crcThroughput(const std::vector<std::uint8_t>& bytes, const SamplerSettings& settings) {
  static constexpr std::uint8_t kCheck[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
  if (firmware::crc16(kCheck, sizeof kCheck) != 0x29B1) return failed("CRC of 123456789 wrong");
  const std::uint16_t expected = firmware::crc16(bytes.data(), bytes.size());
  const double perCall = cpuSecondsPerCall(
      [&] { return firmware::crc16(bytes.data(), bytes.size()) == expected; }, settings);
  if (perCall < 0.0) return failed("the CRC changed between runs");
  return measured(perCall > 0.0 ? static_cast<double>(bytes.size()) / perCall : 0.0);
}

}  // namespace talkgate::bench
