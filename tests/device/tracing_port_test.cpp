// The --trace decorator: forwards everything, logs reports that moved.

#include <gtest/gtest.h>

#include <sstream>

#include "device/clock.h"
#include "device/tracing_port.h"
#include "device/transport.h"
#include "tests/device/scripted_port.h"

namespace talkgate::testing {
namespace {

TEST(TracingPort, LogsWritesAndNonEmptyReadsAsHex) {
  ManualClock clock;
  ScopedClock scopedClock(clock);
  ScriptedPort inner;
  inner.add("dev/a1", 1);
  std::ostringstream trace;
  hid::TracingPort tracing(inner, trace);
  ScopedPort scopedPort(tracing);

  char manufacturer[48];
  char product[48];
  DeviceHandle handle = ScanForUSBDevice_a(kVendorId, kProductId, manufacturer, product);
  ASSERT_NE(handle, nullptr);
  EXPECT_STREQ(product, "Talkgate");
  EXPECT_EQ(inner.opened, std::vector<std::string>{"dev/a1"});
  EXPECT_TRUE(inner.log.nonBlocking) << "setNonBlocking forwarded";

  auto* scripted = dynamic_cast<ScriptedDevice*>(handle);
  EXPECT_EQ(scripted, nullptr) << "the caller sees the decorator, not the inner device";
  // Nothing is scripted: every poll is empty and none of them is traced.
  std::uint8_t rx[64];
  std::uint32_t length = 0;
  EXPECT_EQ(USBEncoderSendAndReceive_a(handle, 1, nullptr, 0, rx, 64, &length, 30), kErrTimeout);
  const std::string text = trace.str();
  EXPECT_EQ(text.rfind("> 3f 40 02 30 31 30 30 03 00 00", 0), 0u) << text;
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << "empty polls are not traced";
  EXPECT_EQ(text.size(), 2 + 64 * 3 - 1 + 1) << "all 64 bytes written are shown";
  hid_exit_safely(handle);
  EXPECT_TRUE(inner.log.closed);
  EXPECT_EQ(inner.exits, 1);
}

TEST(TracingPort, LogsReportsRead) {
  ManualClock clock;
  ScopedClock scopedClock(clock);
  DeviceLog log;
  auto inner = std::make_unique<ScriptedDevice>(log);
  ScriptedDevice* script = inner.get();
  // Wrap a device directly through a port that hands out the prepared one.
  struct OnePort : ScriptedPort {
    std::unique_ptr<hid::Device> device;
    std::unique_ptr<hid::Device> open(const std::string&, hid::OpenError*) override {
      return std::move(device);
    }
  } port;
  port.device = std::move(inner);
  std::ostringstream trace;
  hid::TracingPort tracing(port, trace);
  std::unique_ptr<hid::Device> device = tracing.open("x");
  ASSERT_NE(device, nullptr);
  script->queueEmpty(2);
  script->queueReport(replyReport("0C", "03", 0x00, {0x01, 0x2C}));
  std::uint8_t rx[64];
  std::uint32_t length = 0;
  ASSERT_EQ(USBEncoderSendAndReceive_a(device.get(), 12, nullptr, 0, rx, 64, &length, 5000), kOk);
  EXPECT_EQ(length, 2u);
  std::istringstream lines(trace.str());
  std::string written;
  std::string read;
  std::getline(lines, written);
  std::getline(lines, read);
  EXPECT_EQ(written.rfind("> 3f 40 02 30 43 30 30 03 ", 0), 0u) << written;
  EXPECT_EQ(read.rfind("< 3f 40 02 30 43 30 33 00 01 2c 03 ", 0), 0u) << read;
  std::string extra;
  EXPECT_FALSE(std::getline(lines, extra)) << "exactly one write and one read";
}

}  // namespace
}  // namespace talkgate::testing
