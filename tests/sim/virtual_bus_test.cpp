// The in-memory HID bus: enumeration, handles that outlive their device, listeners and
// endpoints that re-enter the bus.

#include <gtest/gtest.h>

#include <deque>

#include "device/clock.h"
#include "sim/virtual_bus.h"

namespace talkgate::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Echoes each written report back; optionally runs an action inside hostWrite.
class EchoEndpoint : public Endpoint {
 public:
  std::function<void()> onWrite;
  std::optional<std::wstring> productText = std::wstring(L"Echo");

  bool hostWrite(const std::uint8_t* data, std::size_t length) override {
    pending_.emplace_back(data, data + length);
    if (onWrite) onWrite();
    return true;
  }
  int hostRead(std::uint8_t* data, std::size_t length) override {
    if (pending_.empty()) return 0;
    const Bytes report = pending_.front();
    pending_.pop_front();
    const std::size_t n = std::min(length, report.size());
    std::copy_n(report.begin(), n, data);
    return static_cast<int>(n);
  }
  std::optional<std::wstring> product() override { return productText; }

 private:
  std::deque<Bytes> pending_;
};

hid::DeviceInfo info(std::uint16_t vendorId, std::uint16_t productId, int interfaceNumber) {
  hid::DeviceInfo result;
  result.vendorId = vendorId;
  result.productId = productId;
  result.interfaceNumber = interfaceNumber;
  return result;
}

TEST(VirtualBus, EnumeratesInAttachOrderFilteredByIds) {
  VirtualBus bus;
  const std::string a = bus.attach(info(0x2047, 0x0922, 0), std::make_shared<EchoEndpoint>());
  const std::string b = bus.attach(info(0x2047, 0x0200, 0), std::make_shared<EchoEndpoint>());
  const std::string c = bus.attach(info(0x2047, 0x0922, 1), std::make_shared<EchoEndpoint>());
  EXPECT_EQ(a, "sim:1");
  EXPECT_EQ(c, "sim:3");
  const auto talkgates = bus.enumerate(0x2047, 0x0922);
  ASSERT_EQ(talkgates.size(), 2u);
  EXPECT_EQ(talkgates[0].path, a);
  EXPECT_EQ(talkgates[1].path, c);
  EXPECT_EQ(talkgates[1].interfaceNumber, 1);
  EXPECT_EQ(bus.enumerate(0, 0).size(), 3u);
  EXPECT_EQ(bus.enumerate(0x2047, 0x0200).at(0).path, b);
  EXPECT_TRUE(bus.enumerate(0x1234, 0x0922).empty());
}

TEST(VirtualBus, PathsAreNeverReused) {
  VirtualBus bus;
  const std::string first = bus.attach(info(1, 2, 0), std::make_shared<EchoEndpoint>());
  bus.detach(first);
  const std::string second = bus.attach(info(1, 2, 0), std::make_shared<EchoEndpoint>());
  EXPECT_NE(first, second);
  EXPECT_EQ(bus.devices().size(), 1u);
}

TEST(VirtualBus, HandlesCarryReportsAndCountThem) {
  VirtualBus bus;
  auto endpoint = std::make_shared<EchoEndpoint>();
  const std::string path = bus.attach(info(1, 2, 1), endpoint);
  hid::OpenError error = hid::OpenError::Other;
  auto device = bus.open(path, &error);
  ASSERT_NE(device, nullptr);
  EXPECT_EQ(error, hid::OpenError::None);
  const Bytes report{0x3F, 1, 2, 3};
  std::uint8_t in[64] = {};
  EXPECT_EQ(device->read(in, sizeof in), 0) << "nothing waiting";
  EXPECT_EQ(device->write(report.data(), report.size()), 4);
  EXPECT_EQ(device->read(in, sizeof in), 4);
  EXPECT_EQ(Bytes(in, in + 4), report);
  EXPECT_EQ(bus.reportsWritten(), 1u);
  EXPECT_EQ(bus.reportsRead(), 1u);
  bus.resetCounters();
  EXPECT_EQ(bus.reportsWritten(), 0u);
  std::wstring text;
  EXPECT_TRUE(device->productString(text));
  EXPECT_EQ(text, L"Echo");
  endpoint->productText.reset();
  EXPECT_FALSE(device->productString(text));
}

TEST(VirtualBus, DetachFailsOpenHandlesAndLaterOpens) {
  VirtualBus bus;
  const std::string path = bus.attach(info(1, 2, 1), std::make_shared<EchoEndpoint>());
  auto device = bus.open(path);
  ASSERT_NE(device, nullptr);
  bus.detach(path);
  const std::uint8_t out[4] = {1, 2, 3, 4};
  std::uint8_t in[64];
  EXPECT_EQ(device->write(out, 4), -1);
  EXPECT_EQ(device->read(in, sizeof in), -1);
  std::wstring text;
  EXPECT_FALSE(device->manufacturerString(text));
  hid::OpenError error = hid::OpenError::None;
  EXPECT_EQ(bus.open(path, &error), nullptr);
  EXPECT_EQ(error, hid::OpenError::NotFound);
  bus.detach(path);  // detaching twice is harmless
}

TEST(VirtualBus, HandleOutlivesTheBus) {
  std::unique_ptr<hid::Device> device;
  {
    VirtualBus bus;
    device = bus.open(bus.attach(info(1, 2, 1), std::make_shared<EchoEndpoint>()));
    ASSERT_NE(device, nullptr);
  }
  const std::uint8_t out[1] = {0};
  EXPECT_EQ(device->write(out, 1), -1);
}

TEST(VirtualBus, ForcedOpenErrorsUntilCleared) {
  VirtualBus bus;
  const std::string path = bus.attach(info(1, 2, 1), std::make_shared<EchoEndpoint>());
  bus.setOpenError(path, hid::OpenError::PermissionDenied);
  hid::OpenError error = hid::OpenError::None;
  EXPECT_EQ(bus.open(path, &error), nullptr);
  EXPECT_EQ(error, hid::OpenError::PermissionDenied);
  bus.setOpenError(path, hid::OpenError::None);
  EXPECT_NE(bus.open(path, &error), nullptr);
  EXPECT_EQ(error, hid::OpenError::None);
}

TEST(VirtualBus, ListenersHearArrivalAndRemovalAndMayUseTheBus) {
  VirtualBus bus;
  std::vector<std::pair<std::string, bool>> heard;
  std::size_t devicesSeen = 0;
  const int id = bus.addListener([&](const hid::DeviceInfo& device, bool arrived) {
    heard.emplace_back(device.path, arrived);
    devicesSeen = bus.devices().size();  // would deadlock if called under the bus lock
  });
  const std::string path = bus.attach(info(1, 2, 1), std::make_shared<EchoEndpoint>());
  EXPECT_EQ(devicesSeen, 1u);
  bus.detach(path);
  EXPECT_EQ(devicesSeen, 0u);
  bus.removeListener(id);
  bus.attach(info(1, 2, 1), std::make_shared<EchoEndpoint>());
  const std::vector<std::pair<std::string, bool>> expected{{path, true}, {path, false}};
  EXPECT_EQ(heard, expected);
}

TEST(VirtualBus, EndpointMayReplaceItselfFromInsideAWrite) {
  // A device that restarts into its loader: on a write it leaves and a new interface arrives.
  VirtualBus bus;
  auto endpoint = std::make_shared<EchoEndpoint>();
  const std::string path = bus.attach(info(0x2047, 0x0922, 1), endpoint);
  std::string loaderPath;
  endpoint->onWrite = [&] {
    bus.detach(path);
    loaderPath = bus.attach(info(0x2047, 0x0200, 0), std::make_shared<EchoEndpoint>());
  };
  auto device = bus.open(path);
  const std::uint8_t out[2] = {9, 9};
  EXPECT_EQ(device->write(out, 2), 2) << "the write itself was taken";
  std::uint8_t in[64];
  EXPECT_EQ(device->read(in, sizeof in), -1) << "the handle is gone";
  ASSERT_EQ(bus.devices().size(), 1u);
  EXPECT_EQ(bus.devices()[0].path, loaderPath);
  EXPECT_EQ(bus.devices()[0].productId, 0x0200);
}

}  // namespace
}  // namespace talkgate::sim

namespace talkgate::sim {
namespace {

// A device that arrives a while after the report that set it off: the action runs the first
// time the bus is used once its time has come, earlier ones first, and never once cancelled.
TEST(VirtualBusTimedActions, RunWhenDueInTheOrderOfTheirTimes) {
  ManualClock clock;
  ScopedClock scoped(clock);
  VirtualBus bus;
  std::vector<int> ran;
  bus.after(std::chrono::milliseconds(800), [&] { ran.push_back(800); });
  bus.after(std::chrono::milliseconds(600), [&] {
    ran.push_back(600);
    bus.attach(info(0x2047, 0x0200, 0), std::make_shared<EchoEndpoint>());
  });
  const int cancelled = bus.after(std::chrono::milliseconds(700), [&] { ran.push_back(700); });
  bus.cancel(cancelled);

  clock.advance(std::chrono::milliseconds(599));
  EXPECT_TRUE(bus.enumerate(0x2047, 0x0200).empty());
  EXPECT_TRUE(ran.empty());
  clock.advance(std::chrono::milliseconds(1));
  EXPECT_EQ(bus.enumerate(0x2047, 0x0200).size(), 1u) << "listed by the look that ran it";
  clock.advance(std::chrono::milliseconds(500));
  bus.enumerate(0, 0);
  EXPECT_EQ(ran, (std::vector<int>{600, 800}));
  EXPECT_EQ(bus.pendingActions(), 0u);
}

}  // namespace
}  // namespace talkgate::sim
