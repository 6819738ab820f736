// The segment holding the reset vector is written last, only once everything else verified,
// so an upgrade cut short or corrupted anywhere leaves a part that starts its loader.

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "firmware/bsl_wire.h"
#include "firmware/flash_layout.h"
#include "firmware/image_split.h"
#include "tests/firmware/bsl_fixture.h"

namespace talkgate::firmware::test {
namespace {

bool inVectorSegment(std::uint32_t address) {
  return address >= kResetVectorSegmentStart && address < kResetVectorSegmentEnd;
}

class VectorLastTest : public UpgradeTest {
 protected:
  // Puts the old image back on a part waiting in its ROM loader, faults and logs cleared.
  void freshPart() {
    BSL_close_BSL();
    loader.clearFaults();
    loader.unplug();
    if (sim::SimBslDevice* second = loader.secondLoader()) {
      second->unplug();
      second->clearCommands();
    }
    ASSERT_TRUE(loader.loadFlashImage(oldImage));
    loader.plugIn();
    loader.clearCommands();
    port.log->attempts.clear();
  }
  Bytes resetVector() const { return loader.readMemory(kResetVectorAddress, 2); }

  // A reset vector that is not erased belongs to a complete image: the old one, untouched, or
  // the new one. Anything else would start a half-written program at power-up. With two
  // faults the vector word itself may be what went unproven (a bit flipped in its own report,
  // then the loader gone before its proof): the code it starts is still all proven.
  ::testing::AssertionResult safeAtPowerUp(bool twoFaults = false) const {
    if (resetVector() == Bytes{0xFF, 0xFF}) return ::testing::AssertionSuccess();
    if (flashHolds(oldImage) || flashHolds(newImage)) return ::testing::AssertionSuccess();
    if (twoFaults && flashHolds(newImage, kResetVectorAddress)) {
      return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "a reset vector over a partly written image";
  }
  // A second loader a fault put on the bus is never spoken to.
  int reportsToTheSecondLoader() {
    sim::SimBslDevice* second = loader.secondLoader();
    return second ? second->reportsReceived() : 0;
  }
};

TEST_F(VectorLastTest, VectorSegmentIsTheLastDataWrittenOnlyAfterEverythingElseVerified) {
  ASSERT_TRUE(run(newImagePath));
  const TiTxtImage& image = newSections;
  const SplitImage parts = splitImage(image, kResetVectorSegmentStart, kResetVectorSegmentEnd);
  ASSERT_FALSE(parts.inside.sections.empty());
  ASSERT_GT(parts.outside.sections.size(), 1u) << "the image must reach above and below";

  // Bytes of the rest proven by CRC before the first write into the vector segment.
  std::size_t verifiedBefore = 0;
  std::size_t firstVectorWrite = 0;
  std::size_t lastFlashWrite = 0;
  std::size_t vectorCrc = 0;
  const auto commands = loader.commands();
  for (std::size_t i = 0; i < commands.size(); ++i) {
    const auto& c = commands[i];
    if (!c.ramLoader) continue;
    const bool flashWrite = c.command == bsl::kCmdRxDataBlockFast && c.address >= 0x4400;
    if (flashWrite) lastFlashWrite = i;
    if (flashWrite && inVectorSegment(c.address) && firstVectorWrite == 0) firstVectorWrite = i;
    if (c.command == bsl::kCmdCrcCheck && firstVectorWrite == 0) verifiedBefore += c.length;
    if (c.command == bsl::kCmdCrcCheck && inVectorSegment(c.address)) vectorCrc = i;
    if (flashWrite && firstVectorWrite != 0) {
      EXPECT_TRUE(inVectorSegment(c.address)) << "data outside the segment sent after it";
    }
  }
  ASSERT_NE(firstVectorWrite, 0u);
  EXPECT_EQ(verifiedBefore, parts.outside.byteCount());
  const auto& last = commands[lastFlashWrite];
  EXPECT_LE(last.address, kResetVectorAddress) << "the reset vector travels in the last report";
  EXPECT_GE(last.address + last.length, kResetVectorAddress + 2);
  EXPECT_GT(vectorCrc, lastFlashWrite) << "the segment is verified after it is written";
  EXPECT_EQ(loader.resets(), 1) << "the reset follows the verified segment";
  EXPECT_TRUE(flashHolds(newImage));
}

// Every fault of the loader at every report of the upgrade in turn, alone and with a second
// fault a few reports later: a part never keeps a reset vector over a half-written image, the
// state the run tells is the one the part is in, a second loader is never spoken to, and
// whatever was cut short can be run again to the end.
TEST_F(VectorLastTest, AnyFaultOrPairOfFaultsAtAnyReportLeavesAPartThatIsSafeAtPowerUp) {
  using sim::LoaderFault;
  ASSERT_TRUE(run(newImagePath));
  const int total = static_cast<int>(port.log->attempts.size());
  ASSERT_GT(total, 50);
  const std::vector<LoaderFault> kinds{LoaderFault::Unplug,         LoaderFault::RefusePassword,
                                       LoaderFault::CorruptByte,    LoaderFault::StopAnswering,
                                       LoaderFault::EraseFails,     LoaderFault::SecondLoader};
  struct Plan {
    LoaderFault first;
    std::optional<LoaderFault> second;
    int gap;
  };
  std::vector<Plan> plans;
  for (const LoaderFault a : kinds) {
    plans.push_back({a, std::nullopt, 0});
    for (const LoaderFault b : kinds) {
      for (const int gap : {0, 1, 4}) plans.push_back({a, b, gap});
    }
  }
  int failedWithVectorErased = 0;
  int runs = 0;
  for (const Plan& plan : plans) {
    // Pairs start at every third report; single faults at every one.
    const int stride = plan.second ? 3 : 1;
    for (int n = 1; n <= total; n += stride) {
      freshPart();
      loader.failAtReport(plan.first, n);
      if (plan.second) loader.failAtReport(*plan.second, n + plan.gap);
      const bool ok = run(newImagePath);
      ++runs;
      const std::string where = "faults " + std::to_string(static_cast<int>(plan.first)) + "/" +
                                std::to_string(plan.second ? static_cast<int>(*plan.second) : -1) +
                                " at report " + std::to_string(n) + "+" + std::to_string(plan.gap);
      ASSERT_TRUE(safeAtPowerUp(plan.second.has_value())) << where;
      ASSERT_EQ(reportsToTheSecondLoader(), 0) << where;
      const PartState told = programmer.partState();
      if (told == PartState::VectorErased) {
        ASSERT_EQ(resetVector(), (Bytes{0xFF, 0xFF})) << where;
      } else if (told == PartState::OldImage) {
        ASSERT_TRUE(flashHolds(oldImage)) << where;
      } else if (told == PartState::NewImageVerified) {
        ASSERT_TRUE(flashHolds(newImage)) << where;
      }
      if (ok) continue;
      failedWithVectorErased += resetVector() == Bytes{0xFF, 0xFF};
      if (plan.second || n % 16 != 0) continue;  // a sample of recoveries keeps it short
      loader.clearFaults();
      if (sim::SimBslDevice* second = loader.secondLoader()) second->unplug();
      loader.unplug();
      loader.plugIn();
      ASSERT_TRUE(run(newImagePath)) << "no recovery after " << where;
      EXPECT_TRUE(flashHolds(newImage));
    }
  }
  EXPECT_GT(failedWithVectorErased, runs / 3) << "most of the upgrade runs with it erased";
}

TEST_F(VectorLastTest, CorruptByteAnywhereFailsTheRunWithTheResetVectorErased) {
  const TiTxtImage& image = newSections;
  std::vector<std::uint32_t> addresses{kResetVectorAddress, kResetVectorAddress + 1};
  for (const auto& s : image.sections) {
    for (std::uint32_t a = s.address; a < s.end(); a += 211) addresses.push_back(a);
    addresses.push_back(s.end() - 1);
  }
  for (const std::uint32_t address : addresses) {
    freshPart();
    loader.corruptWhenProgrammed(address);
    EXPECT_FALSE(run(newImagePath)) << std::hex << address;
    EXPECT_EQ(steps.back(), (Step{85, "Memory verification error\r\n"})) << std::hex << address;
    EXPECT_EQ(resetVector(), (Bytes{0xFF, 0xFF})) << std::hex << address;
    EXPECT_EQ(loader.resets(), 0);
    EXPECT_TRUE(loader.pluggedIn()) << "the part waits in its loader";
  }
}

}  // namespace
}  // namespace talkgate::firmware::test
