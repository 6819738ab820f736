// The benchmark must measure the right thing: images that a user's file could hold, traffic
// attributed to the phase that caused it, and goals judged at their boundaries.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <unistd.h>

#include "bench/bench_image.h"
#include "bench/cpu_time.h"
#include "bench/goal_table.h"
#include "bench/phase_split.h"
#include "bench/upgrade_model.h"
#include "bench/upgrade_run.h"
#include "firmware/crc_check.h"
#include "firmware/firmware_resources.h"
#include "firmware/flash_layout.h"
#include "firmware/image_check.h"
#include "firmware/image_split.h"
#include "firmware/programming_sequence.h"
#include "sim/sim_bsl_device.h"

namespace talkgate::bench {
namespace {

using firmware::TiTxtImage;
using firmware::TiTxtSection;

TEST(BenchImageTest, HoldsExactlyTheRequestedBytesAsACheckedImageWithMarkerAndPassword) {
  for (std::size_t bytes : {std::size_t{2048}, std::size_t{32 * 1024}, std::size_t{120 * 1024}}) {
    SCOPED_TRACE(bytes);
    BenchImage b;
    std::string why;
    ASSERT_TRUE(makeBenchImage(bytes, 7, "2.0.9", b, &why)) << why;
    EXPECT_EQ(b.image.byteCount(), bytes);
    firmware::TiTxtError error;
    EXPECT_TRUE(firmware::checkFirmwareImage(b.image, {}, error)) << error.text();
    EXPECT_EQ(sim::SimBslDevice::firmwareVersionOfImage(b.text), "2.0.9");

    TiTxtImage password;
    ASSERT_TRUE(firmware::parseTiTxt(firmware::firmwareResources().passwordText, password, error));
    for (std::uint32_t i = 0; i < firmware::kPasswordBytes; ++i) {
      std::uint8_t value = 0;
      ASSERT_TRUE(b.image.contains(firmware::kPasswordAddress + i, &value));
      EXPECT_EQ(value, password.sections[0].data[i]) << "vector byte " << i;
    }
    const auto& s = b.image.sections;
    EXPECT_TRUE(std::any_of(s.begin(), s.end(), [](const auto& x) { return x.address > 0xFFFF; }));
    EXPECT_TRUE(std::any_of(s.begin(), s.end(), [](const auto& x) { return x.data.size() % 2; }))
        << "an odd section exercises the padded last word";
    EXPECT_TRUE(std::any_of(s.begin(), s.end(), [](const auto& x) { return x.address % 512; }))
        << "a section starting mid-segment exercises the erase walk";
  }
}

TEST(BenchImageTest, IsReproducibleAndRefusesSizesThatDoNotFit) {
  BenchImage a;
  BenchImage b;
  BenchImage c;
  ASSERT_TRUE(makeBenchImage(8192, 1, "1", a));
  ASSERT_TRUE(makeBenchImage(8192, 1, "1", b));
  ASSERT_TRUE(makeBenchImage(8192, 2, "1", c));
  EXPECT_EQ(a.text, b.text);
  EXPECT_NE(a.text, c.text);

  BenchImage d;
  std::string why;
  EXPECT_FALSE(makeBenchImage(128 * 1024, 1, "1", d, &why));
  EXPECT_NE(why.find("does not fit"), std::string::npos) << why;
  EXPECT_FALSE(makeBenchImage(300, 1, "1", d, &why));
}

TEST(FewestReportsTest, RoundsUpEverySectionOnItsOwn) {
  TiTxtImage image;
  EXPECT_EQ(fewestReports(image, 52), 0u);
  image.sections.push_back(TiTxtSection{0x4400, std::vector<std::uint8_t>(52), 0});
  image.sections.push_back(TiTxtSection{0x5000, std::vector<std::uint8_t>(53), 0});
  image.sections.push_back(TiTxtSection{0x6000, std::vector<std::uint8_t>(1), 0});
  EXPECT_EQ(fewestReports(image, 52), 1u + 2u + 1u);
  EXPECT_EQ(fewestReports(image, 58), 1u + 1u + 1u);
}

class PhaseSplitterTest : public ::testing::Test {
 protected:
  // Each progress report is followed by `traffic` more reports each way.
  void feed(PhaseSplitter& splitter, std::initializer_list<std::pair<int, int>> steps) {
    for (auto [percent, traffic] : steps) {
      splitter.onProgress(percent);
      counts.written += static_cast<std::uint64_t>(traffic);
      counts.read += static_cast<std::uint64_t>(traffic) * 2;
    }
  }
  ReportCount counts{100, 200};  // whatever went before the run
  PhaseSplitter::Counters source = [this] { return counts; };
};

TEST_F(PhaseSplitterTest, AttributesTrafficToThePhaseItFollows) {
  PhaseSplitter s(source);
  counts.written += 3;  // before the first report: still the RAM loader
  feed(s, {{5, 1},
           {10, 1},
           {20, 1},
           {30, 1},
           {35, 0},
           {40, 0},
           {45, 1},
           {60, 7},
           {70, 40},
           {75, 0},
           {80, 5},
           {85, 0},
           {90, 0},
           {90, 2},
           {100, 0}});
  s.finish();
  ASSERT_TRUE(s.complete());
  EXPECT_EQ(s.phase(Phase::RamLoader), (ReportCount{8, 10}));
  EXPECT_EQ(s.phase(Phase::Erase), (ReportCount{7, 14}));
  EXPECT_EQ(s.phase(Phase::Send), (ReportCount{40, 80}));
  EXPECT_EQ(s.phase(Phase::Verify), (ReportCount{5, 10}));
  EXPECT_EQ(s.phase(Phase::Reset), (ReportCount{2, 4}));
  EXPECT_EQ(s.total(), (ReportCount{62, 118}));
}

TEST_F(PhaseSplitterTest, RunWithoutAnEraseStepOrUnfinishedCannotBeSplit) {
  PhaseSplitter massErased(source);
  feed(massErased, {{5, 1}, {5, 0}, {10, 1}, {45, 1}, {70, 40}, {75, 0}, {85, 0}, {100, 1}});
  massErased.finish();
  EXPECT_FALSE(massErased.complete());
  EXPECT_EQ(massErased.phase(Phase::Send), ReportCount{});
  EXPECT_EQ(massErased.total().written, 44u);

  PhaseSplitter stopped(source);
  feed(stopped, {{60, 1}, {70, 1}, {75, 1}, {85, 1}});
  EXPECT_FALSE(stopped.complete()) << "finish() not called yet";
  stopped.finish();
  EXPECT_TRUE(stopped.complete());
}

TEST(WireModelTest, AnswersTakeTurnsWithRequestsAgainstFiftyEightBytesPerSlot) {
  EXPECT_DOUBLE_EQ(wireMs(ReportCount{100, 0}), 100.0);
  EXPECT_DOUBLE_EQ(wireMs(ReportCount{100, 100}), 200.0);
  EXPECT_DOUBLE_EQ(shareOfWireLimit(58 * 10, ReportCount{10, 0}), 1.0);
  EXPECT_DOUBLE_EQ(shareOfWireLimit(52 * 10, ReportCount{10, 0}), 52.0 / 58.0);
  EXPECT_DOUBLE_EQ(shareOfWireLimit(52 * 10, ReportCount{10, 10}), 26.0 / 58.0)
      << "an answer per block halves the throughput";
  EXPECT_DOUBLE_EQ(shareOfWireLimit(100, ReportCount{}), 0.0);
}

TEST(GoalTableTest, GoalsAreMetAtTheirBoundaryAndErrorsCountAsMissed) {
  EXPECT_EQ(atMost("a", 1.02, 1.02, 3, "").mark, Mark::Pass);
  EXPECT_EQ(atMost("a", 1.021, 1.02, 3, "").mark, Mark::Fail);
  EXPECT_EQ(atLeast("b", 85.0, 85.0, 1, "%").mark, Mark::Pass);
  EXPECT_EQ(atLeast("b", 84.9, 85.0, 1, "%").mark, Mark::Fail);
  const Row row = atLeast("b", 89.655, 85.0, 1, "%");
  EXPECT_EQ(row.measured, "89.7 %");
  EXPECT_EQ(row.goal, ">= 85.0 %");

  GoalTable table;
  table.section("group");
  table.add(info("figure", "12 / 3"));
  table.add(atMost("ratio", 1.0, 1.02, 3, ""));
  EXPECT_TRUE(table.allMet());
  EXPECT_EQ(table.goals(), 1);
  table.add(error("upgrade", "the Talkgate did not return"));
  EXPECT_FALSE(table.allMet());
  EXPECT_EQ(table.goals(), 2);
  EXPECT_EQ(table.met(), 1);

  const std::string text = table.render();
  std::size_t width = text.find('\n');
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = text.find('\n', at);
    EXPECT_EQ(end - at, width) << "ragged line: " << text.substr(at, end - at);
    at = end + 1;
  }
  EXPECT_NE(text.find("| ERROR  |"), std::string::npos) << text;
}

TEST(CpuTimeTest, MedianAndWrongResultsInvalidateTheMeasure) {
  EXPECT_DOUBLE_EQ(median({3.0, 1.0, 2.0}), 2.0);
  EXPECT_DOUBLE_EQ(median({4.0, 1.0, 3.0, 2.0}), 2.5);
  EXPECT_DOUBLE_EQ(median({}), 0.0);
  int calls = 0;
  EXPECT_LT(cpuSecondsPerCall([&] { return ++calls < 5; }, SamplerSettings{3, 0.0, 10}), 0.0);
  EXPECT_EQ(calls, 5);
  EXPECT_GE(cpuSecondsPerCall([] { return true; }, SamplerSettings{3, 0.0, 10}), 0.0);
}

class UpgradeRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(makeBenchImage(6 * 1024, 11, "1.0.4", installed));
    ASSERT_TRUE(makeBenchImage(6 * 1024, 12, "2.0.6", image));
    std::ofstream(path, std::ios::binary) << image.text;
  }
  void TearDown() override { std::filesystem::remove(path); }

  BenchImage installed;
  BenchImage image;
  std::string path = (std::filesystem::temp_directory_path() /
                      ("talkgate_bench_test_" + std::to_string(::getpid()) + ".txt"))
                         .string();
};

TEST_F(UpgradeRunTest, CountsEveryPhaseOfARealUpgrade) {
  const UpgradeRun run = runUpgrade(installed, image, path);
  ASSERT_TRUE(run.ok) << run.failure;
  const auto& p = run.phases;
  const auto at = [&](Phase phase) { return p[static_cast<std::size_t>(phase)]; };
  // Fast blocks are not answered; the send needs no more reports than the blocks. The reset
  // vector's segment is held back and sent during the verify, once the rest has verified.
  const auto parts = firmware::splitImage(image.image, firmware::kResetVectorSegmentStart,
                                          firmware::kResetVectorSegmentEnd);
  EXPECT_EQ(at(Phase::Send), (ReportCount{fewestReports(parts.outside, kBlockBytes), 0}));
  // One CRC request and answer per verify block, and the held-back segment's blocks: the
  // segment without its reset vector, proven, then the vector alone and the whole segment.
  const auto vector = firmware::splitImage(parts.inside, firmware::kResetVectorAddress,
                                           firmware::kResetVectorSegmentEnd);
  std::size_t verifyBlocks = 0;
  for (const auto* part : {&parts.outside, &vector.outside, &parts.inside}) {
    for (const auto& s : part->sections) {
      verifyBlocks +=
          (s.data.size() + firmware::kVerifyBlockBytes - 1) / firmware::kVerifyBlockBytes;
    }
  }
  const std::size_t heldBack =
      fewestReports(vector.outside, kBlockBytes) + fewestReports(vector.inside, kBlockBytes);
  ASSERT_GT(heldBack, 0u);
  EXPECT_EQ(at(Phase::Verify), (ReportCount{verifyBlocks + heldBack, verifyBlocks}));
  // Each erase is answered; at least one per segment the image touches.
  EXPECT_EQ(at(Phase::Erase).written, at(Phase::Erase).read);
  EXPECT_GE(at(Phase::Erase).written, image.image.byteCount() / firmware::kMainSegmentBytes);
  // Two logins, the version asked of both loaders, the device ID and the reset vector erase
  // are answered.
  EXPECT_EQ(at(Phase::RamLoader).read, 6u);
  // The first reset image restarts the part; the second finds no loader to write to.
  EXPECT_EQ(at(Phase::Reset), (ReportCount{1, 0}));
  std::uint64_t written = 0;
  for (const auto& c : p) written += c.written;
  EXPECT_EQ(written, run.total.written);
  EXPECT_EQ(run.clockMs, 0) << "a RAM loader that is back at once is not waited for";
}

TEST_F(UpgradeRunTest, RunThatDoesNotReachTheNewFirmwareDoesNotCount) {
  BenchImage blank;  // a part whose password is erased refuses ours and mass-erases
  const UpgradeRun run = runUpgrade(blank, image, path);
  EXPECT_FALSE(run.ok);
  EXPECT_FALSE(run.failure.empty());

  BenchImage other = image;
  other.version = "9.9.9";  // the file sent is not the image it claims
  const UpgradeRun wrong = runUpgrade(installed, other, path);
  EXPECT_FALSE(wrong.ok);
  EXPECT_NE(wrong.failure.find("version"), std::string::npos) << wrong.failure;
}


// On the manual clock a whole upgrade waits for the part and no longer: the part's erasing and
// programming are on the clock, and once the RAM loader and the Talkgate are back the host is
// at most one poll behind. A part slower than the old fixed 3 s after Load PC still succeeds.
TEST_F(UpgradeRunTest, TimedUpgradeWaitsForThePartAndNoLonger) {
  sim::PartTiming slow = sim::kWorstPart;
  slow.ramLoaderBack = std::chrono::milliseconds(3500);
  slow.talkgateBack = std::chrono::milliseconds(5000);
  const std::pair<const char*, sim::PartTiming> parts[] = {
      {"typical", sim::kTypicalPart}, {"worst", sim::kWorstPart}, {"slow", slow}};
  for (const auto& [name, timing] : parts) {
    SCOPED_TRACE(name);
    const TimedRun run = runTimedUpgrade(installed, image, path, timing);
    ASSERT_TRUE(run.ok) << run.failure;
    EXPECT_GE(run.ramLoaderWaitMs, timing.ramLoaderBack.count());
    EXPECT_LE(run.ramLoaderWaitMs, timing.ramLoaderBack.count() + firmware::kRamLoaderPollMs);
    const auto stage = [&run](Stage s) { return run.stages[static_cast<std::size_t>(s)]; };
    const long long back = stage(Stage::Reset).clockMs + stage(Stage::TalkgateBack).clockMs;
    EXPECT_GE(back, timing.talkgateBack.count());
    EXPECT_LE(stage(Stage::TalkgateBack).clockMs, timing.talkgateBack.count() + 50);
    long long clockMs = 0;
    for (const auto& s : run.stages) clockMs += s.clockMs;
    EXPECT_GE(static_cast<double>(clockMs), run.flashMs + run.reenumerationMs)
        << "every erase and word programmed kept the part busy on the clock";
    EXPECT_LE(run.predictedMs(), 1.15 * run.floorMs());
    EXPECT_LT(run.predictedMs(), run.fixedWaitsMs());
  }
}

}  // namespace
}  // namespace talkgate::bench
