// The simulated loader on its own, spoken to with raw reports: what a real part would refuse
// it must refuse too, or the host code's faults would go unnoticed.

#include <gtest/gtest.h>

#include "firmware/bsl_wire.h"
#include "firmware/ti_txt.h"
#include "sim/sim_bsl_device.h"
#include "tests/firmware/bsl_fixture.h"

namespace talkgate::firmware::test {
namespace {

class SimLoaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(loader.loadFlashImage(readFile(demoImagePath("1.0.4"))));
    loader.plugIn();
    reopen();
  }
  void reopen() {
    device = bus.open(loader.path());
    ASSERT_NE(device, nullptr);
  }
  // Sends a report; returns the reply core (empty when there is none).
  Bytes send(const bsl::Report& r) {
    if (device->write(r.data(), r.size()) < 0) return {0xEE};
    std::uint8_t in[64];
    const int n = device->read(in, sizeof in);
    if (n <= 0) return {};
    return Bytes(in + 2, in + 2 + in[1]);
  }
  // A report built by hand: 0x3F, NL, the core, then padding.
  Bytes raw(const Bytes& core) {
    bsl::Report r;
    r.fill(0xAC);
    r[0] = 0x3F;
    r[1] = static_cast<std::uint8_t>(core.size());
    std::copy(core.begin(), core.end(), r.begin() + 2);
    return send(r);
  }
  Bytes plain(std::uint8_t command) {
    bsl::Report r;
    bsl::encodePlain(r, command);
    return send(r);
  }
  Bytes addressed(std::uint8_t command, std::uint32_t address, Bytes data = {}) {
    bsl::Report r;
    bsl::encodeAddressed(r, command, address, data.data(), data.size());
    return send(r);
  }
  Bytes range(std::uint8_t command, std::uint32_t address, std::uint16_t length) {
    bsl::Report r;
    bsl::encodeRange(r, command, address, length);
    return send(r);
  }
  Bytes password(const Bytes& pw) {
    bsl::Report r;
    bsl::encodePassword(r, pw.data());
    return send(r);
  }
  Bytes currentPassword() { return loader.readMemory(0xFFE0, 32); }
  void toRamLoader() {
    ASSERT_EQ(password(currentPassword()), (Bytes{0x3B, 0x00}));
    Bytes image(8, 0x00);
    image[1] = 0x06;
    image[2] = 0x05;
    image[3] = 0x34;
    EXPECT_TRUE(addressed(bsl::kCmdRxDataBlockFast, 0x2500, image).empty());
    EXPECT_TRUE(addressed(bsl::kCmdLoadPc, 0x2504).empty());
    ASSERT_TRUE(loader.ramLoaderRunning());
    reopen();
    ASSERT_EQ(password(currentPassword()), (Bytes{0x3B, 0x00}));
  }

  sim::VirtualBus bus;
  sim::SimBslDevice loader{bus};
  std::unique_ptr<hid::Device> device;
};

TEST_F(SimLoaderTest, LockedRomLoaderAnswersOnlyThePassword) {
  EXPECT_EQ(plain(bsl::kCmdTxVersion), (Bytes{0x3B, 0x07}));
  EXPECT_EQ(addressed(bsl::kCmdEraseSegment, 0x4400), (Bytes{0x3B, 0x07}));
  EXPECT_TRUE(addressed(bsl::kCmdRxDataBlockFast, 0x2400, {1, 2}).empty());
  EXPECT_EQ(loader.readMemory(0x2400, 2), (Bytes{0xFF, 0xFF})) << "locked: RAM data dropped";
  EXPECT_EQ(password(currentPassword()), (Bytes{0x3B, 0x00}));
  EXPECT_TRUE(addressed(bsl::kCmdRxDataBlockFast, 0x2400, {1, 2}).empty());
  EXPECT_EQ(loader.readMemory(0x2400, 2), (Bytes{1, 2}));
}

// The bytes come from the loader guide's command and reply tables, not from the host's
// header, so a wrong constant or CRC on either side fails here.
TEST_F(SimLoaderTest, ReportsBuiltFromTheGuidesTablesGetTheGuidesAnswers) {
  EXPECT_EQ(raw({0x19}), (Bytes{0x3B, 0x07})) << "the ROM loader knows no TX BSL Version";
  Bytes passwordCore{0x11};
  const Bytes vectors = currentPassword();
  passwordCore.insert(passwordCore.end(), vectors.begin(), vectors.end());
  EXPECT_EQ(raw(passwordCore), (Bytes{0x3B, 0x00}));
  EXPECT_TRUE(raw({0x1B, 0x00, 0x25, 0x00, 0x00, 0x06, 0x05, 0x34}).empty());
  EXPECT_TRUE(raw({0x17, 0x04, 0x25, 0x00}).empty());
  ASSERT_TRUE(loader.ramLoaderRunning());
  reopen();
  EXPECT_EQ(raw(passwordCore), (Bytes{0x3B, 0x00}));
  EXPECT_EQ(raw({0x19}), (Bytes{0x3A, 0x00, 0x06, 0x05, 0x34}));
  EXPECT_EQ(raw({0x1A}), (Bytes{0x3A, 0x04, 0x01}));
  // "123456789" into RAM, then CRC Check over it: CCITT-FALSE 0x29B1, low byte first.
  EXPECT_EQ(raw({0x10, 0x00, 0x24, 0x00, '1', '2', '3', '4', '5', '6', '7', '8', '9'}),
            (Bytes{0x3B, 0x00}));
  EXPECT_EQ(raw({0x16, 0x00, 0x24, 0x00, 0x09, 0x00}), (Bytes{0x3A, 0xB1, 0x29}));
  EXPECT_EQ(raw({0x18, 0x02, 0x24, 0x00, 0x03, 0x00}), (Bytes{0x3A, '3', '4', '5'}));
  EXPECT_EQ(raw({0x14}), (Bytes{0x3B, 0x07})) << "reserved";
}

// Segment A is locked at every power-up: erase and write leave it alone until one Unlock/Lock
// Info toggles the lock; the next toggles it back. Segment B never is.
TEST_F(SimLoaderTest, InformationSegmentAChangesOnlyWhileUnlocked) {
  loader.writeMemory(0x1980, {0x12, 0x34});
  ASSERT_NO_FATAL_FAILURE(toRamLoader());
  ASSERT_TRUE(loader.infoSegmentALocked());
  EXPECT_EQ(addressed(bsl::kCmdEraseSegment, 0x19FE), (Bytes{0x3B, 0x00}));
  EXPECT_EQ(loader.readMemory(0x1980, 2), (Bytes{0x12, 0x34}));
  EXPECT_EQ(addressed(bsl::kCmdRxDataBlock, 0x1990, {0x00, 0x00}), (Bytes{0x3B, 0x01}));
  EXPECT_EQ(loader.readMemory(0x1990, 2), (Bytes{0xFF, 0xFF}));
  EXPECT_EQ(addressed(bsl::kCmdRxDataBlock, 0x1900, {0x00, 0x00}), (Bytes{0x3B, 0x00}));
  EXPECT_EQ(plain(bsl::kCmdMassErase), (Bytes{0x3B, 0x00}));
  EXPECT_EQ(loader.readMemory(0x1980, 2), (Bytes{0x12, 0x34})) << "mass erase is main only";

  EXPECT_EQ(plain(bsl::kCmdToggleInfoLock), (Bytes{0x3B, 0x00}));
  EXPECT_FALSE(loader.infoSegmentALocked());
  EXPECT_EQ(addressed(bsl::kCmdEraseSegment, 0x1980), (Bytes{0x3B, 0x00}));
  EXPECT_EQ(loader.readMemory(0x1980, 2), (Bytes{0xFF, 0xFF}));
  EXPECT_EQ(loader.readMemory(0x1900, 2), (Bytes{0x00, 0x00})) << "only segment A erased";
  EXPECT_EQ(addressed(bsl::kCmdRxDataBlock, 0x1990, {0x56, 0x78}), (Bytes{0x3B, 0x00}));
  EXPECT_EQ(loader.readMemory(0x1990, 2), (Bytes{0x56, 0x78}));

  EXPECT_EQ(plain(bsl::kCmdToggleInfoLock), (Bytes{0x3B, 0x00}));
  EXPECT_EQ(addressed(bsl::kCmdRxDataBlock, 0x19A0, {0x00, 0x00}), (Bytes{0x3B, 0x01}));
  EXPECT_EQ(plain(bsl::kCmdToggleInfoLock), (Bytes{0x3B, 0x00}));
  loader.unplug();
  loader.plugIn();
  EXPECT_TRUE(loader.infoSegmentALocked()) << "locked again after power-up";
}

TEST_F(SimLoaderTest, RamLoaderEnforcesFlashRules) {
  ASSERT_NO_FATAL_FAILURE(toRamLoader());
  EXPECT_EQ(plain(bsl::kCmdTxVersion), (Bytes{0x3A, 0x00, 0x06, 0x05, 0x34}));
  EXPECT_EQ(plain(bsl::kCmdTxBufferSize), (Bytes{0x3A, 0x04, 0x01}));
  EXPECT_EQ(addressed(bsl::kCmdEraseSegment, 0x4432), (Bytes{0x3B, 0x00}));
  EXPECT_EQ(loader.readMemory(0x4400, 0x200), Bytes(0x200, 0xFF));
  EXPECT_NE(loader.readMemory(0x4600, 2), (Bytes{0xFF, 0xFF})) << "only the one segment";
  EXPECT_EQ(addressed(bsl::kCmdRxDataBlock, 0x4401, {1, 2}), (Bytes{0x3B, 0x06}));
  EXPECT_EQ(addressed(bsl::kCmdRxDataBlock, 0x4400, {1, 2, 3}), (Bytes{0x3B, 0x06}));
  EXPECT_EQ(addressed(bsl::kCmdRxDataBlock, 0x4400, {0xF0, 0x0F}), (Bytes{0x3B, 0x00}));
  EXPECT_EQ(addressed(bsl::kCmdRxDataBlock, 0x4400, {0x0F, 0x0F}), (Bytes{0x3B, 0x01}));
  EXPECT_EQ(loader.readMemory(0x4400, 2), (Bytes{0x00, 0x0F})) << "bits only ever clear";
  EXPECT_EQ(addressed(bsl::kCmdRxDataBlock, 0x1000, {1, 2}), (Bytes{0x3B, 0x02}));
  EXPECT_EQ(range(bsl::kCmdTxDataBlock, 0x4400, 2), (Bytes{0x3A, 0x00, 0x0F}));
  EXPECT_EQ(range(bsl::kCmdTxDataBlock, 0x4400, 62), (Bytes{0x3B, 0x08}));
  EXPECT_EQ(range(bsl::kCmdCrcCheck, 0x4400, 0), (Bytes{0x3B, 0x08}));
  EXPECT_EQ(plain(bsl::kCmdMassErase), (Bytes{0x3B, 0x00}));
  EXPECT_EQ(loader.readMemory(0xFFE0, 32), Bytes(32, 0xFF));
}

TEST_F(SimLoaderTest, WrongPasswordMassErasesMainFlashButNotInformationMemory) {
  loader.writeMemory(0x1800, {0x12, 0x34});
  EXPECT_EQ(password(Bytes(32, 0x00)), (Bytes{0x3B, 0x05}));
  EXPECT_EQ(loader.massErases(), 1);
  EXPECT_EQ(loader.readMemory(0x4400, 4), Bytes(4, 0xFF));
  EXPECT_EQ(loader.readMemory(0x1FFFE, 2), Bytes(2, 0xFF));
  EXPECT_EQ(loader.readMemory(0x1800, 2), (Bytes{0x12, 0x34}));
  EXPECT_FALSE(loader.unlocked());
}

TEST_F(SimLoaderTest, MalformedReportsAreIgnored) {
  bsl::Report r;
  bsl::encodePlain(r, bsl::kCmdTxBufferSize);
  r[0] = 0x3E;
  EXPECT_TRUE(send(r).empty());
  bsl::encodePlain(r, bsl::kCmdTxBufferSize);
  r[1] = 63;
  EXPECT_TRUE(send(r).empty());
  r[1] = 0;
  EXPECT_TRUE(send(r).empty());
  EXPECT_EQ(loader.reportsReceived(), 3);
  EXPECT_TRUE(loader.commands().empty());
}

TEST_F(SimLoaderTest, ResetRunsTheApplicationOrFallsBackToTheLoaderWhenBlank) {
  int handlerCalls = 0;
  std::optional<std::string> version;
  loader.setResetHandler([&](const sim::BslMemory& memory) {
    ++handlerCalls;
    version = sim::SimBslDevice::firmwareVersionOf(memory);
  });
  ASSERT_NO_FATAL_FAILURE(toRamLoader());
  EXPECT_TRUE(addressed(bsl::kCmdRxDataBlockFast, 0x0120, {0x04, 0xA5}).empty());
  EXPECT_FALSE(loader.pluggedIn());
  EXPECT_EQ(handlerCalls, 1);
  EXPECT_EQ(version, "1.0.4");

  loader.plugIn();
  reopen();
  ASSERT_NO_FATAL_FAILURE(toRamLoader());
  EXPECT_EQ(addressed(bsl::kCmdEraseSegment, 0xFFFF), (Bytes{0x3B, 0x00}));
  EXPECT_TRUE(addressed(bsl::kCmdRxDataBlockFast, 0x0120, {0x04, 0xA5}).empty());
  EXPECT_EQ(handlerCalls, 1) << "an erased reset vector runs nothing";
  EXPECT_TRUE(loader.pluggedIn());
  EXPECT_FALSE(loader.ramLoaderRunning());
  EXPECT_EQ(loader.resets(), 2);
}

TEST_F(SimLoaderTest, WrongPmmPasswordDoesNotReset) {
  ASSERT_NO_FATAL_FAILURE(toRamLoader());
  EXPECT_TRUE(addressed(bsl::kCmdRxDataBlockFast, 0x0120, {0x04, 0x96}).empty());
  EXPECT_TRUE(loader.pluggedIn());
  EXPECT_EQ(loader.resets(), 0);
}

TEST(SimLoaderVersion, MarkerNeedsPrintableTextEndedByNul) {
  sim::BslMemory memory(sim::SimBslDevice::kAddressSpace, 0xFF);
  const auto put = [&](std::uint32_t at, const std::string& s) {
    std::copy(s.begin(), s.end(), memory.begin() + at);
  };
  EXPECT_EQ(sim::SimBslDevice::firmwareVersionOf(memory), std::nullopt);
  put(0x5000, std::string("TGFW:1.2", 8));  // no NUL: 0xFF follows
  EXPECT_EQ(sim::SimBslDevice::firmwareVersionOf(memory), std::nullopt);
  put(0x6000, std::string("TGFW:\0", 6));  // empty version
  EXPECT_EQ(sim::SimBslDevice::firmwareVersionOf(memory), std::nullopt);
  put(0x20000, std::string("TGFW:2.0.1\0", 11));  // above 0xFFFF
  EXPECT_EQ(sim::SimBslDevice::firmwareVersionOf(memory), "2.0.1");
  put(0x2500, std::string("TGFW:9.9\0", 9));  // RAM is not flash
  EXPECT_EQ(sim::SimBslDevice::firmwareVersionOf(memory), "2.0.1");
}

TEST(SimLoaderFlash, ImageTextRoundTripsAndRefusesNonFlash) {
  sim::VirtualBus bus;
  sim::SimBslDevice loader(bus);
  const std::string image = readFile(demoImagePath("1.1.0"));
  ASSERT_TRUE(loader.loadFlashImage(image));
  sim::SimBslDevice copy(bus);
  ASSERT_TRUE(copy.loadFlashImage(loader.flashImageText()));
  EXPECT_EQ(copy.memory(), loader.memory());
  std::string error;
  EXPECT_FALSE(loader.loadFlashImage("@2400\n01 02\nq", &error));
  EXPECT_EQ(error, "line 1: section outside flash");
  EXPECT_FALSE(loader.loadFlashImage("@4400\n01 0", &error));
  EXPECT_EQ(error, "line 2: missing end marker 'q'");
}

}  // namespace
}  // namespace talkgate::firmware::test
