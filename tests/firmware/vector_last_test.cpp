// The segment holding the reset vector is written last, only once everything else verified,
// so an upgrade cut short or corrupted anywhere leaves a part that starts its loader.

#include <gtest/gtest.h>

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
    ASSERT_TRUE(loader.loadFlashImage(oldImage));
    loader.plugIn();
    loader.clearCommands();
    port.log->attempts.clear();
  }
  Bytes resetVector() const { return loader.readMemory(kResetVectorAddress, 2); }

  // A reset vector that is not erased belongs to a complete image: the old one, untouched, or
  // the new one. Anything else would start a half-written program at power-up.
  ::testing::AssertionResult safeAtPowerUp() const {
    if (resetVector() == Bytes{0xFF, 0xFF}) return ::testing::AssertionSuccess();
    if (flashHolds(oldImage) || flashHolds(newImage)) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "a reset vector over a partly written image";
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

// Unplugging at every report of the upgrade in turn: a part never keeps a reset vector over a
// half-written image, and whatever was cut short can be run again to the end.
TEST_F(VectorLastTest, UnplugAtAnyReportLeavesAPartThatStartsItsLoader) {
  ASSERT_TRUE(run(newImagePath));
  const int total = static_cast<int>(port.log->attempts.size());
  ASSERT_GT(total, 50);
  int failedWithVectorErased = 0;
  for (int n = 1; n <= total; ++n) {
    freshPart();
    loader.unplugAfterReports(n);
    const bool ok = run(newImagePath);
    ASSERT_TRUE(safeAtPowerUp()) << "unplugged at report " << n;
    if (ok) continue;
    failedWithVectorErased += resetVector() == Bytes{0xFF, 0xFF};
    if (n % 16 != 0) continue;  // a sample of recoveries keeps the sweep short
    loader.clearFaults();
    loader.plugIn();
    ASSERT_TRUE(run(newImagePath)) << "no recovery after an unplug at report " << n;
    EXPECT_TRUE(flashHolds(newImage));
  }
  EXPECT_GT(failedWithVectorErased, total / 2) << "most of the upgrade runs with it erased";
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
