// Loader arrival and removal reports: through virtual bus listeners and by enumeration.

#include <gtest/gtest.h>

#include <sstream>
#include <vector>

#include "device/tracing_port.h"
#include "firmware/bsl430.h"
#include "firmware/device_watcher.h"
#include "sim/sim_bsl_device.h"
#include "sim/sim_talkgate.h"
#include "tests/firmware/bsl_fixture.h"

namespace talkgate::firmware::test {
namespace {

class WatcherTest : public ::testing::Test {
 protected:
  void TearDown() override { BSL_UnRegisterUSBDeviceNotification(); }
  sim::VirtualBus bus;
  PortGuard guard{bus};
  sim::SimBslDevice loader{bus};
  sim::SimTalkgate talkgate{bus};
  std::vector<bool> events;
};

TEST_F(WatcherTest, BusWatcherReportsOnlyItsIdentifiersUntilStopped) {
  auto watcher = makeDeviceWatcher(0x2047, 0x0200);
  EXPECT_FALSE(watcher->start(nullptr));
  ASSERT_TRUE(watcher->start([this](bool arrived) { events.push_back(arrived); }));
  EXPECT_FALSE(watcher->start([](bool) {})) << "one callback at a time";
  talkgate.plugIn();  // another product: not reported
  loader.plugIn();
  loader.unplug();
  EXPECT_EQ(events, (std::vector<bool>{true, false}));
  watcher->stop();
  loader.plugIn();
  EXPECT_EQ(events.size(), 2u);
  watcher->stop();
}

TEST_F(WatcherTest, CallbackMayChangeTheBusItself) {
  auto watcher = makeDeviceWatcher(0x2047, 0x0200);
  ASSERT_TRUE(watcher->start([this](bool arrived) {
    events.push_back(arrived);
    if (arrived) loader.unplug();  // re-enters the bus from inside a notification
  }));
  loader.plugIn();
  EXPECT_EQ(events, (std::vector<bool>{true, false}));
}

TEST_F(WatcherTest, BusAnnouncementsReachTheWatcherThroughATracingPort) {
  // --trace wraps the bus; the watcher must still hear of the loader at once, without polling.
  std::ostringstream trace;
  hid::TracingPort tracing(bus, trace);
  PortGuard tracingGuard{tracing};
  auto watcher = makeDeviceWatcher(0x2047, 0x0200, std::chrono::hours(1));
  ASSERT_TRUE(watcher->start([this](bool arrived) { events.push_back(arrived); }));
  loader.plugIn();
  loader.unplug();
  EXPECT_EQ(events, (std::vector<bool>{true, false}));
  watcher->stop();
}

TEST_F(WatcherTest, EnumerationDiffReportsWhatCameAndWentBetweenPolls) {
  EnumerationDiff diff(0x2047, 0x0200);
  const auto record = [this](bool arrived) { events.push_back(arrived); };
  loader.plugIn();
  diff.poll(record);
  EXPECT_TRUE(events.empty()) << "what is there at the start is not news";
  sim::SimBslDevice second(bus);
  second.plugIn();
  talkgate.plugIn();
  diff.poll(record);
  EXPECT_EQ(events, (std::vector<bool>{true}));
  events.clear();
  loader.unplug();
  second.unplug();
  diff.poll(record);
  EXPECT_EQ(events, (std::vector<bool>{false, false}));
  events.clear();
  // A re-enumeration between polls (new path) is a removal and an arrival.
  loader.plugIn();
  diff.poll(record);
  events.clear();
  loader.unplug();
  loader.plugIn();
  diff.poll(record);
  EXPECT_EQ(events, (std::vector<bool>{false, true}));
}

TEST_F(WatcherTest, RegistrationThroughTheLibraryReportsToTheCallback) {
  EXPECT_NE(BSL_RegisterUSBDeviceNotification(nullptr), 0);
  ASSERT_EQ(BSL_RegisterUSBDeviceNotification([this](bool a) { events.push_back(a); }), 0);
  loader.plugIn();
  EXPECT_EQ(BSL_UnRegisterUSBDeviceNotification(), 0);
  loader.unplug();
  EXPECT_EQ(events, (std::vector<bool>{true}));
}

TEST(PollingWatcher, StartsAndStopsOnAPortThatIsNotTheVirtualBus) {
  sim::VirtualBus bus;
  RecordingPort port(bus);  // not a VirtualBus: the watcher has to poll
  PortGuard guard(port);
  auto watcher = makeDeviceWatcher(0x2047, 0x0200, std::chrono::hours(1));
  ASSERT_TRUE(watcher->start([](bool) {}));
  EXPECT_FALSE(watcher->start([](bool) {}));
  watcher->stop();  // wakes the thread at once instead of after the hour
  watcher->stop();
}

}  // namespace
}  // namespace talkgate::firmware::test
