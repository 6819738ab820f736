// The upgrade sequence against the simulated loader: progress and log of good and failing
// runs, the mass-erase fallback, the retry, refused images and unplugging in every phase.

#include <gtest/gtest.h>

#include <memory>

#include "firmware/bsl_wire.h"
#include "firmware/image_split.h"
#include "tests/firmware/bsl_fixture.h"

namespace talkgate::firmware::test {
namespace {

using sim::BslPhase;

const std::vector<int> kGoodRun{5, 10, 20, 30, 35, 40, 45, 60, 70, 75, 80, 85, 90, 90, 100};

std::vector<Step> goodRunLog(const std::string& path) {
  return {{5, ""},
          {10, "Password Sent Successfully\r\n"},
          {20, "Sending RAM BSL v00.06.05.34\r\n"},
          {30, "Done RAM BSL v00.06.05.34\r\n"},
          {35, ""},
          {40, ""},
          {45, ""},
          {60, "Erasing memory segments \r\n"},
          {70, "Sending " + path + "\r\n"},
          {75, "Firmware Sent\r\n"},
          {80, "Verifying memory\r\n"},
          {85, "Memory successfully verified\r\n"},
          {90, "Total programming time is 0s \r\n"},
          {90, "Resetting Device...\r\nStarting application\r\n"},
          {100, "Done!"}};
}

std::size_t countCommands(const sim::SimBslDevice& loader, std::uint8_t command) {
  std::size_t n = 0;
  for (const auto& c : loader.commands()) n += c.command == command;
  return n;
}

TEST_F(UpgradeTest, GoodRunReportsEveryStepAndLeavesTheNewImageVerified) {
  ASSERT_TRUE(run(newImagePath));
  EXPECT_EQ(steps, goodRunLog(newImagePath));
  EXPECT_EQ(percents(), kGoodRun);
  EXPECT_TRUE(flashHolds(newImage));
  EXPECT_EQ(loader.massErases(), 0);
  EXPECT_EQ(loader.resets(), 1);
  EXPECT_FALSE(loader.pluggedIn()) << "the part runs its application after the reset";
  EXPECT_EQ(clock.totalSlept(), std::chrono::milliseconds(0))
      << "a RAM loader that is back at once is not waited for";
}

TEST_F(UpgradeTest, GoodRunSpeaksTheProtocolInTheExpectedOrder) {
  ASSERT_TRUE(run(newImagePath));
  const auto commands = loader.commands();
  ASSERT_FALSE(commands.empty());
  // ROM loader: password, version (which it does not know), RAM loader image, Load PC 0x2504.
  EXPECT_EQ(commands[0].command, bsl::kCmdRxPassword);
  EXPECT_FALSE(commands[0].ramLoader);
  EXPECT_EQ(commands[1].command, bsl::kCmdTxVersion);
  std::size_t i = 2;
  while (i < commands.size() && commands[i].command == bsl::kCmdRxDataBlockFast) {
    EXPECT_FALSE(commands[i].ramLoader);
    ++i;
  }
  ASSERT_LT(i, commands.size());
  EXPECT_EQ(commands[i].command, bsl::kCmdLoadPc);
  EXPECT_EQ(commands[i].address, 0x2504u);
  // RAM loader: password, version, device ID, reset vector erase first of all erases.
  ASSERT_LT(i + 4, commands.size());
  EXPECT_EQ(commands[i + 1].command, bsl::kCmdRxPassword);
  EXPECT_TRUE(commands[i + 1].ramLoader);
  EXPECT_EQ(commands[i + 2].command, bsl::kCmdTxVersion);
  EXPECT_EQ(commands[i + 3].command, bsl::kCmdTxDataBlock);
  EXPECT_EQ(commands[i + 3].address, 0x1A04u);
  EXPECT_EQ(commands[i + 4].command, bsl::kCmdEraseSegment);
  EXPECT_EQ(commands[i + 4].address, 0xFFFFu);
  // The last two reports are the reset; the second is sent to a part that has already gone.
  const auto bor = written(bsl::kCmdRxDataBlockFast);
  ASSERT_GE(bor.size(), 2u);
  for (std::size_t k = bor.size() - 2; k < bor.size(); ++k) {
    EXPECT_EQ(bor[k][3], 0x20);
    EXPECT_EQ(bor[k][4], 0x01);
    EXPECT_EQ(bor[k][5], 0x00);
    EXPECT_EQ(bor[k][6], 0x04);
    EXPECT_EQ(bor[k][7], 0xA5);
  }
}

TEST_F(UpgradeTest, ImageIsSentInFullFastBlocksOfFiftyTwoBytes) {
  ASSERT_TRUE(run(newImagePath));
  const TiTxtImage& image = newSections;
  // The reset vector's segment is sent on its own, and the vector word alone after the rest
  // of it, so a section crossing these bounds is cut.
  const SplitImage parts = splitImage(image, kResetVectorSegmentStart, kResetVectorSegmentEnd);
  const SplitImage vector = splitImage(parts.inside, kResetVectorAddress, kResetVectorSegmentEnd);
  std::size_t minimum = 0;
  for (const auto* part : {&parts.outside, &vector.outside, &vector.inside}) {
    for (const auto& s : part->sections) minimum += (s.data.size() + 51) / 52;
  }
  std::size_t flashBlocks = 0;
  for (const auto& c : loader.commands()) {
    if (c.command == bsl::kCmdRxDataBlockFast && c.ramLoader && c.address >= 0x4400) {
      ++flashBlocks;
      EXPECT_EQ(c.address % 2, 0u);
      EXPECT_EQ(c.length % 2, 0u);
      EXPECT_LE(c.length, 52u);
    }
  }
  EXPECT_EQ(flashBlocks, minimum);
}

TEST_F(UpgradeTest, ProgrammingTimeIsReportedInWholeSeconds) {
  onStep = [this](int percent, const std::string&) {
    if (percent == 70) clock.advance(std::chrono::milliseconds(2999));
  };
  ASSERT_TRUE(run(newImagePath));
  EXPECT_TRUE(hasMessage("Total programming time is 2s \r\n"));
}

TEST_F(UpgradeTest, RefusedFirstPasswordFallsBackToTheDefaultAndSkipsTheEraseWalk) {
  loader.refuseNextPasswords(1);
  ASSERT_TRUE(run(newImagePath));
  EXPECT_EQ(percents(),
            (std::vector<int>{5, 5, 10, 20, 30, 35, 40, 45, 70, 75, 80, 85, 90, 90, 100}));
  EXPECT_EQ(steps[1], (Step{5, "Mass erase occured!\r\n"}));
  EXPECT_FALSE(hasMessage("Erasing memory segments \r\n"));
  EXPECT_EQ(clock.totalSlept(), std::chrono::milliseconds(2000));
  EXPECT_EQ(loader.massErases(), 1);
  // Only the reset vector segment is erased: the mass erase did the rest.
  EXPECT_EQ(countCommands(loader, bsl::kCmdEraseSegment), 1u);
  // Both logins after the erase use the default password.
  const auto passwords = written(bsl::kCmdRxPassword);
  ASSERT_EQ(passwords.size(), 3u);
  EXPECT_EQ(passwords[1], passwords[2]);
  for (std::size_t i = 3; i < 35; ++i) EXPECT_EQ(passwords[2][i], 0xFF);
  EXPECT_TRUE(flashHolds(newImage));
}

TEST_F(UpgradeTest, InformationMemoryIsStillErasedAfterAMassErase) {
  // A mass erase leaves information memory; the image's bytes there must not land on stale bits.
  loader.writeMemory(0x1800, Bytes(128, 0x00));
  std::string image = newImage;
  image.insert(0, "@1800\r\n11 22 33 44\r\n");
  const std::string path = writeTemp("with_info.txt", image);
  loader.refuseNextPasswords(1);
  ASSERT_TRUE(run(path));
  EXPECT_EQ(loader.readMemory(0x1800, 6), (Bytes{0x11, 0x22, 0x33, 0x44, 0xFF, 0xFF}));
}

TEST_F(UpgradeTest, BothPasswordsRefusedFailsThenTheRetryRecovers) {
  loader.refuseNextPasswords(2);
  ASSERT_TRUE(run(newImagePath));
  const std::vector<Step> head{{5, ""},
                               {5, "Mass erase occured!\r\n"},
                               {10, "Password FAILED!\r\n"},
                               {50, "Unsuccessful in starting the BSL. Restarting. \r\n"},
                               {5, ""},
                               {5, "Mass erase occured!\r\n"}};
  ASSERT_GE(steps.size(), head.size());
  EXPECT_EQ(std::vector<Step>(steps.begin(), steps.begin() + 6), head);
  EXPECT_FALSE(hasMessage("Erasing memory segments \r\n"));
  EXPECT_TRUE(flashHolds(newImage));
}

TEST_F(UpgradeTest, WrongVersionOnceIsRetriedAndTheRetrySucceeds) {
  loader.answerVersion({0x00, 0x05, 0x04, 0x34}, 1);
  ASSERT_TRUE(run(newImagePath));
  // The retry finds the RAM loader running and does not load it over itself.
  EXPECT_EQ(percents(), (std::vector<int>{5,  10, 20, 30, 35, 40, 45, 50, 50, 5,  10, 45,
                                          60, 70, 75, 80, 85, 90, 90, 100}));
  EXPECT_EQ(steps[11], (Step{45, "RAM BSL v00.06.05.34 already running\r\n"}));
  EXPECT_EQ(steps[7], (Step{50, "Failed to read data from RAM BSL\r\n"}));
  EXPECT_EQ(steps[8], (Step{50, "Unsuccessful in starting the BSL. Restarting. \r\n"}));
  EXPECT_TRUE(flashHolds(newImage));
}

TEST_F(UpgradeTest, WrongVersionEveryTimeFailsWithoutTouchingFlash) {
  loader.answerVersion({0x00, 0x06, 0x05, 0x35});
  EXPECT_FALSE(run(newImagePath));
  ASSERT_FALSE(steps.empty());
  EXPECT_EQ(steps.back(), (Step{50, "Failed to read data from RAM BSL\r\n"}));
  EXPECT_EQ(countCommands(loader, bsl::kCmdEraseSegment), 0u);
  EXPECT_TRUE(flashHolds(oldImage));
}

TEST_F(UpgradeTest, MassErasedFlagOfTheFirstAttemptCarriesIntoTheRetry) {
  // First attempt: first password refused (erase), then a wrong version. The retry's first
  // password is refused again (the device is erased now), and its second login and the
  // skipped erase walk follow the flag.
  loader.refuseNextPasswords(1);
  loader.answerVersion({0x00, 0x01, 0x01, 0x34}, 1);
  ASSERT_TRUE(run(newImagePath));
  EXPECT_FALSE(hasMessage("Erasing memory segments \r\n"));
  const auto passwords = written(bsl::kCmdRxPassword);
  ASSERT_FALSE(passwords.empty());
  for (std::size_t i = 3; i < 35; ++i) EXPECT_EQ(passwords.back()[i], 0xFF);
  EXPECT_TRUE(flashHolds(newImage));
}

TEST_F(UpgradeTest, VersionErrorWinsOverARefusedSecondLogin) {
  loader.refuseRamLoaderPasswords(1);
  loader.refuseVersion(1);
  run(newImagePath);
  ASSERT_GE(steps.size(), 8u);
  EXPECT_EQ(steps[7], (Step{50, "Failed to read data from RAM BSL\r\n"}));
  EXPECT_FALSE(hasMessage("Password FAILED after sending RAM BSL!\r\n"));
}

TEST_F(UpgradeTest, RefusedSecondLoginFailsTheStartUp) {
  loader.refuseRamLoaderPasswords(1);
  run(newImagePath);
  ASSERT_GE(steps.size(), 9u);
  EXPECT_EQ(steps[7], (Step{50, "Password FAILED after sending RAM BSL!\r\n"}));
  EXPECT_EQ(steps[8], (Step{50, "Unsuccessful in starting the BSL. Restarting. \r\n"}));
}

TEST_F(UpgradeTest, NoLoaderOnTheBusFailsBothAttemptsAtZero) {
  loader.unplug();
  EXPECT_FALSE(run(newImagePath));
  EXPECT_EQ(steps, (std::vector<Step>{{0, "USB device was unplugged!\r\n"},
                                      {50, "Unsuccessful in starting the BSL. Restarting. \r\n"},
                                      {0, "USB device was unplugged!\r\n"}}));
}

TEST_F(UpgradeTest, FlippedBitInFlashIsAVerificationError) {
  loader.corruptWhenProgrammed(0x4400 + 0x777, 0x10);
  EXPECT_FALSE(run(newImagePath));
  EXPECT_EQ(steps.back(), (Step{85, "Memory verification error\r\n"}));
  EXPECT_FALSE(hasMessage("Done!"));
  EXPECT_EQ(loader.resets(), 0) << "a part with a bad image must not be reset into it";
}

TEST_F(UpgradeTest, OtherRamLoaderVersionSendsTheResetImageOnce) {
  ProgrammerSettings settings;
  settings.resources.ramBslVersion = "00.07.01.34";
  std::string& ramLoader = settings.resources.ramBslText;
  ramLoader.replace(ramLoader.find("06 05 34"), 8, "07 01 34");
  programmer = FirmwareProgrammer(settings);
  loader.answerVersion({0x00, 0x07, 0x01, 0x34});
  ASSERT_TRUE(run(newImagePath));
  std::size_t resets = 0;
  for (const auto& r : written(bsl::kCmdRxDataBlockFast))
    resets += r[3] == 0x20 && r[4] == 0x01 && r[5] == 0x00;
  EXPECT_EQ(resets, 1u);
  EXPECT_TRUE(hasMessage("Sending RAM BSL v00.07.01.34\r\n"));
}

// Images refused before anything is sent.
struct BadImage {
  const char* name;
  const char* text;  // nullptr: no such file
  const char* log;
};

class UpgradeRefusesImage : public UpgradeTest, public ::testing::WithParamInterface<BadImage> {};

TEST_P(UpgradeRefusesImage, AtZeroWithTheReasonAndNothingSent) {
  const BadImage& c = GetParam();
  const std::string path = c.text ? writeTemp("image.txt", c.text) : (dir / "missing.txt").string();
  EXPECT_FALSE(run(path));
  std::string expected = c.log;
  if (!c.text) expected += path + ": it does not exist\r\n";
  EXPECT_EQ(steps, (std::vector<Step>{{0, expected}}));
  EXPECT_TRUE(port.log->attempts.empty());
  EXPECT_EQ(loader.reportsReceived(), 0);
  EXPECT_TRUE(flashHolds(oldImage));
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, UpgradeRefusesImage,
    ::testing::Values(
        BadImage{"Malformed", "@4400\r\n01 02\r\n03 X4\r\n@FFFE\r\n00 44\r\nq\r\n",
                 "Firmware image refused: line 3: bad hex digit 'X'\r\n"},
        BadImage{"NoEndMarker", "@4400\r\n01 02\r\n@FFFE\r\n00 44\r\n",
                 "Firmware image refused: line 4: missing end marker 'q'\r\n"},
        BadImage{"Empty", "q\r\n", "Firmware image refused: the image holds no data\r\n"},
        BadImage{"EmptyFile", "", "Firmware image refused: line 1: missing end marker 'q'\r\n"},
        BadImage{"OutsideFlash", "@FFFE\r\n00 44\r\n@30000\r\n01 02\r\nq\r\n",
                 "Firmware image refused: line 3: byte at 0x30000 lies outside the part's "
                 "flash\r\n"},
        BadImage{"LoaderArea", "@1000\r\n01 02\r\n@FFFE\r\n00 44\r\nq\r\n",
                 "Firmware image refused: line 1: byte at 0x01000 lies in the loader's own "
                 "area 0x1000-0x17FF\r\n"},
        BadImage{"NoResetVector", "@4400\r\n01 02\r\nq\r\n",
                 "Firmware image refused: no reset vector at 0xFFFE\r\n"},
        BadImage{"Unreadable", nullptr, "Firmware image refused: cannot open "}),
    [](const ::testing::TestParamInfo<BadImage>& info) { return std::string(info.param.name); });

TEST_F(UpgradeTest, PathTheLoaderBufferCannotHoldIsRefusedBeforeAnythingIsSent) {
  const std::string longest = "/" + std::string(198, 'a');
  const std::string tooLong = longest + "b";
  EXPECT_FALSE(run(tooLong));
  EXPECT_EQ(steps,
            (std::vector<Step>{{0, "File path is too long (200 characters, at most 199)\r\n"}}));
  EXPECT_TRUE(port.log->attempts.empty());
  // 199 characters pass this check (and then fail only because there is no such file).
  EXPECT_FALSE(run(longest));
  ASSERT_EQ(steps.size(), 1u);
  EXPECT_EQ(steps[0].message.rfind("Firmware image refused: cannot open", 0), 0u);
}

TEST_F(UpgradeTest, DamagedPasswordResourceIsRefusedBeforeAnythingIsSent) {
  ProgrammerSettings settings;
  settings.resources.passwordText = "@FFE0\r\n01 02\r\nq";
  programmer = FirmwareProgrammer(settings);
  EXPECT_FALSE(run(newImagePath));
  EXPECT_EQ(steps,
            (std::vector<Step>{{0,
                                "Loader resources are damaged: password image is not 32 bytes at "
                                "0xFFE0\r\n"}}));
  EXPECT_TRUE(port.log->attempts.empty());
}

// Unplugging in each phase: the run ends as the sequence says, the log names it, and a part
// left in its loader can be upgraded again.
struct UnplugCase {
  const char* name;
  BslPhase phase;
  bool result;
  Step last;
};

class UpgradeUnplugged : public UpgradeTest, public ::testing::WithParamInterface<UnplugCase> {};

TEST_P(UpgradeUnplugged, EndsAsExpectedAndTheLoaderCanBeUpgradedAgain) {
  const UnplugCase& c = GetParam();
  loader.unplugInPhase(c.phase);
  EXPECT_EQ(run(newImagePath), c.result);
  ASSERT_FALSE(steps.empty());
  EXPECT_EQ(steps.back(), c.last);
  EXPECT_FALSE(loader.pluggedIn());
  EXPECT_EQ(loader.massErases(), 0) << "a vanished device must not be taken for a refusal";
  if (c.result) return;
  loader.clearFaults();
  loader.plugIn();
  EXPECT_TRUE(run(newImagePath));
  EXPECT_TRUE(flashHolds(newImage));
}

const Step kUnpluggedAtStart{0, "USB device was unplugged!\r\n"};
const Step kVerifyError{85, "Memory verification error\r\n"};

INSTANTIATE_TEST_SUITE_P(
    Phases, UpgradeUnplugged,
    ::testing::Values(UnplugCase{"RomPassword", BslPhase::RomPassword, false, kUnpluggedAtStart},
                      UnplugCase{"RamData", BslPhase::RamData, false, kUnpluggedAtStart},
                      UnplugCase{"LoadPc", BslPhase::LoadPc, false, kUnpluggedAtStart},
                      UnplugCase{"RamPassword", BslPhase::RamPassword, false, kUnpluggedAtStart},
                      UnplugCase{"Version", BslPhase::Version, false, kUnpluggedAtStart},
                      UnplugCase{"Erase", BslPhase::Erase, false,
                                 Step{50, partStateText(PartState::OldImage)}},
                      UnplugCase{"Program", BslPhase::Program, false, kVerifyError},
                      UnplugCase{"CrcCheck", BslPhase::CrcCheck, false, kVerifyError},
                      UnplugCase{"Reset", BslPhase::Reset, true, Step{100, "Done!"}}),
    [](const ::testing::TestParamInfo<UnplugCase>& info) { return std::string(info.param.name); });

TEST_F(UpgradeTest, UnplugDuringTheRomPasswordIsReportedAsUnplugNotAsMassErase) {
  loader.unplugInPhase(BslPhase::RomPassword);
  EXPECT_FALSE(run(newImagePath));
  EXPECT_EQ(steps, (std::vector<Step>{{5, ""},
                                      {5, "USB device was unplugged!\r\n"},
                                      {50, "Unsuccessful in starting the BSL. Restarting. \r\n"},
                                      {0, "USB device was unplugged!\r\n"}}));
}

TEST_F(UpgradeTest, RamLoaderThatNeverComesBackIsUnplugAtFifty) {
  loader.unplugInPhase(BslPhase::LoadPc);
  EXPECT_FALSE(run(newImagePath));
  ASSERT_GE(steps.size(), 9u);
  EXPECT_EQ(steps[7], (Step{50, "USB device was unplugged!\r\n"}));
}

// What a real part, its loader and the bus can do: each case arranges the world, then the run
// ends with the result, the last log lines and the part state given, and check() looks at
// what was (not) sent.
class RealPartTest;
struct RealPartCase {
  const char* name;
  std::function<void(RealPartTest&)> arrange;
  bool upgraded;
  PartState state;
  std::vector<Step> tail;  // the last log lines; empty: check() looks at them
  std::function<void(RealPartTest&)> check;
  std::string image = {};  // TI-TXT to program instead of the new demo image
};

void PrintTo(const RealPartCase& c, std::ostream* os) {
  *os << c.name;
}

class RealPartTest : public UpgradeTest, public ::testing::WithParamInterface<RealPartCase> {
 public:
  using UpgradeTest::clock;
  using UpgradeTest::flashHolds;
  using UpgradeTest::hasMessage;
  using UpgradeTest::loader;
  using UpgradeTest::oldImage;
  using UpgradeTest::onStep;
  using UpgradeTest::programmer;
  using UpgradeTest::steps;

  void TearDown() override {
    BSL_setStopCheck(nullptr);
    UpgradeTest::TearDown();
  }
  std::string talkgatePort;  // where switchedFrom() says the Talkgate hung
  // Another part on the bus, with the image given in its flash (none: blank).
  sim::SimBslDevice& plugOther(sim::BslMemoryMap map = {}, const std::string& image = {}) {
    other = std::make_unique<sim::SimBslDevice>(bus, map);
    if (!image.empty()) {
      EXPECT_TRUE(other->loadFlashImage(image));
    }
    other->plugIn();
    return *other;
  }
  // The fixture's part leaves the bus and another takes its place.
  sim::SimBslDevice& replacePart(sim::BslMemoryMap map, const std::string& image = {}) {
    loader.unplug();
    return plugOther(map, image);
  }
  // Commands of a device that wrote into flash, or erased it.
  static std::size_t count(const sim::SimBslDevice& device, std::uint8_t command,
                           std::uint32_t from = 0, std::uint32_t to = 0x100000) {
    std::size_t n = 0;
    for (const auto& c : device.commands()) {
      n += c.command == command && c.address >= from && c.address < to;
    }
    return n;
  }
  // A stop asked for once the first report into the reset vector's segment has gone.
  void stopInsideTheVectorSegment() {
    BSL_setStopCheck([this] {
      return count(loader, bsl::kCmdRxDataBlockFast, kResetVectorSegmentStart,
                   kResetVectorSegmentEnd) > 0;
    });
  }
  std::unique_ptr<sim::SimBslDevice> other;
};

TEST_P(RealPartTest, EndsWhereTheCaseSaysAndSendsNothingItForbids) {
  const RealPartCase& c = GetParam();
  std::string path = newImagePath;
  if (!c.image.empty()) path = writeTemp("image.txt", c.image);
  c.arrange(*this);
  EXPECT_EQ(run(path), c.upgraded);
  EXPECT_EQ(programmer.partState(), c.state);
  if (!c.tail.empty()) {
    ASSERT_GE(steps.size(), c.tail.size());
    EXPECT_EQ(std::vector<Step>(steps.end() - static_cast<long>(c.tail.size()), steps.end()),
              c.tail);
  }
  if (c.check) c.check(*this);
}

const std::string kOldImageKept = partStateText(PartState::OldImage);
const std::string kVectorErased = partStateText(PartState::VectorErased);
constexpr std::uint32_t kFlash = 0x4400;

// Only the old image, untouched: no flash write and no erase reached the part.
void untouched(RealPartTest& t) {
  EXPECT_TRUE(t.flashHolds(t.oldImage));
  EXPECT_EQ(RealPartTest::count(t.loader, bsl::kCmdRxDataBlockFast, kFlash), 0u);
}

// The run knows the port of the Talkgate it switched: the loader's own, or the one the loader
// left when it came back elsewhere.
void switchedFrom(RealPartTest& t, bool loaderMoves) {
  ProgrammerSettings settings;
  settings.talkgateLocation = t.talkgatePort = t.loader.location();
  t.programmer = FirmwareProgrammer(settings);
  if (!loaderMoves) return;
  t.loader.unplug();
  t.loader.failAtReport(sim::LoaderFault::OtherPort, 1);
  t.loader.plugIn();
}

const char kSmallImage[] = "@C000\n31 40 00 34 B0 12 04 C0\n@FFFE\n00 C0\nq\n";

INSTANTIATE_TEST_SUITE_P(
    Cases, RealPartTest,
    ::testing::Values(
        RealPartCase{"ResetVectorEraseFails",
                     [](RealPartTest& t) { t.loader.failAtReport(sim::LoaderFault::EraseFails, 1); },
                     false, PartState::OldImage,
                     {{50, "Failed to erase reset vector\r\n"}, {50, kOldImageKept}},
                     [](RealPartTest& t) {
                       untouched(t);
                       EXPECT_EQ(RealPartTest::count(t.loader, bsl::kCmdEraseSegment), 1u);
                     }},
        RealPartCase{"SegmentEraseFails",
                     [](RealPartTest& t) {
                       t.onStep = [&t](int percent, const std::string&) {
                         if (percent == 60) t.loader.failAtReport(sim::LoaderFault::EraseFails, 1);
                       };
                     },
                     false, PartState::VectorErased,
                     {{60, "Failed to erase memory segment at 0x04400\r\n"}, {60, kVectorErased}},
                     [](RealPartTest& t) {
                       EXPECT_EQ(t.loader.readMemory(kResetVectorAddress, 2), Bytes(2, 0xFF));
                       EXPECT_EQ(RealPartTest::count(t.loader, bsl::kCmdRxDataBlockFast, kFlash),
                                 0u);
                     }},
        RealPartCase{"SecondLoaderAtTheStart", [](RealPartTest& t) { t.plugOther(); }, false,
                     PartState::OldImage,
                     {{0,
                       "2 bootstrap loaders (2047:0200) are on the bus and this program cannot "
                       "tell which one is the Talkgate, so nothing more was sent. Leave only the "
                       "Talkgate's loader on the bus and upgrade again.\r\n"},
                      {0, kOldImageKept}},
                     [](RealPartTest& t) {
                       EXPECT_EQ(t.loader.reportsReceived(), 0);
                       EXPECT_EQ(t.other->reportsReceived(), 0);
                     }},
        RealPartCase{"SecondLoaderBesideTheRamLoader",
                     [](RealPartTest& t) {
                       t.onStep = [&t](int percent, const std::string&) {
                         if (percent == 30) t.plugOther();
                       };
                     },
                     false, PartState::OldImage, {},
                     [](RealPartTest& t) {
                       EXPECT_TRUE(t.hasMessage(kOldImageKept));
                       EXPECT_EQ(t.steps.back().percent, 50);
                       EXPECT_EQ(t.other->reportsReceived(), 0);
                       EXPECT_EQ(RealPartTest::count(t.loader, bsl::kCmdEraseSegment), 0u);
                       untouched(t);
                     }},
        RealPartCase{"AnotherLoaderInsteadOfTheRamLoader",
                     [](RealPartTest& t) {
                       t.onStep = [&t](int percent, const std::string&) {
                         if (percent == 30) t.replacePart({});
                       };
                     },
                     false, PartState::OldImage, {},
                     [](RealPartTest& t) {
                       EXPECT_TRUE(t.hasMessage("The bootstrap loader on the bus now hangs on USB "
                                                "port " +
                                                t.other->location() + ", not on " +
                                                t.loader.location() +
                                                " where this upgrade started, so nothing more "
                                                "was sent.\r\n"));
                       EXPECT_EQ(t.other->reportsReceived(), 0);
                     }},
        RealPartCase{"LoaderOnTheSwitchedTalkgatesPort",
                     [](RealPartTest& t) { switchedFrom(t, false); }, true,
                     PartState::NewImageVerified, {{100, "Done!"}}, nullptr},
        RealPartCase{"LoaderOnAnotherPortThanTheSwitchedTalkgate",
                     [](RealPartTest& t) { switchedFrom(t, true); }, false,
                     PartState::OldImage, {},
                     [](RealPartTest& t) {
                       EXPECT_EQ(t.steps.front(),
                                 (Step{0, "The bootstrap loader on the bus hangs on USB port " +
                                              t.loader.location() + ", not on " + t.talkgatePort +
                                              " where the Talkgate was switched to its loader; "
                                              "it may be another device's, so nothing was "
                                              "sent.\r\n"}));
                       EXPECT_EQ(t.loader.reportsReceived(), 0);
                       untouched(t);
                     }},
        RealPartCase{"RamLoaderEnumeratesSlowly",
                     [](RealPartTest& t) {
                       t.onStep = [&t](int percent, const std::string&) {
                         if (percent != 30) return;
                         t.loader.unplug();
                         const auto back = t.clock.now() + std::chrono::seconds(6);
                         t.clock.onSleep = [&t, back] {
                           if (t.clock.now() >= back && !t.loader.pluggedIn()) t.loader.plugInAgain();
                         };
                       };
                     },
                     true, PartState::NewImageVerified, {{100, "Done!"}},
                     [](RealPartTest& t) {
                       EXPECT_GE(t.clock.totalSlept(), std::chrono::seconds(6));
                       EXPECT_TRUE(t.flashHolds(readFile(demoImagePath("1.1.0"))));
                     }},
        RealPartCase{"FullLoaderAlreadyRunningIsNotSentAgain",
                     [](RealPartTest& t) { t.loader.refuseRamLoaderPasswords(1); }, true,
                     PartState::NewImageVerified, {{100, "Done!"}},
                     [](RealPartTest& t) {
                       EXPECT_TRUE(t.hasMessage("RAM BSL v00.06.05.34 already running\r\n"));
                       std::size_t loads = 0;
                       for (const auto& c : t.loader.commands()) loads += c.address == 0x2500;
                       EXPECT_EQ(loads, 1u);
                     }},
        RealPartCase{"RomLoaderAnswersRestrictedApi",
                     [](RealPartTest& t) {
                       t.loader.answerRomVersion(std::array<std::uint8_t, 4>{0x00, 0x05, 0x80, 0x34});
                     },
                     true, PartState::NewImageVerified, {{100, "Done!"}},
                     [](RealPartTest& t) {
                       EXPECT_TRUE(t.hasMessage("Sending RAM BSL v00.06.05.34\r\n"));
                     }},
        RealPartCase{"GenuineRamLoaderStarts",
                     [](RealPartTest& t) {
                       EXPECT_TRUE(t.loader.declareRamLoader(firmwareResources().ramBslText));
                     },
                     true, PartState::NewImageVerified, {{100, "Done!"}}, nullptr},
        RealPartCase{"OtherRamCodeNeverAnswers",
                     [](RealPartTest& t) {
                       EXPECT_TRUE(t.loader.declareRamLoader("@2500\n00 06 05 34 12 34\nq\n",
                                                             sim::ForeignCode::NeverAnswers));
                     },
                     // The retry's password goes unanswered: it may have been a refusal.
                     false, PartState::OldImageOrLoader, {},
                     [](RealPartTest& t) {
                       EXPECT_TRUE(t.hasMessage("Failed to read data from RAM BSL\r\n"));
                       untouched(t);
                     }},
        RealPartCase{"UnknownPart",
                     [](RealPartTest& t) {
                       sim::BslMemoryMap map;
                       map.deviceId = 0x1234;
                       t.replacePart(map, t.oldImage);
                     },
                     false, PartState::OldImage,
                     {{50,
                       "Unknown part: device ID 0x1234 is none of the parts this program upgrades "
                       "(MSP430F5529, MSP430F5510, MSP430F5508), so nothing more was erased\r\n"},
                      {50, kOldImageKept}},
                     [](RealPartTest& t) {
                       EXPECT_EQ(RealPartTest::count(*t.other, bsl::kCmdEraseSegment), 0u);
                       EXPECT_EQ(t.other->massErases(), 0);
                     }},
        RealPartCase{"ImageLargerThanThePart",
                     [](RealPartTest& t) { t.replacePart(sim::simPartF5510()); }, false,
                     PartState::VectorErased, {},
                     [](RealPartTest& t) {
                       const std::string& why = t.steps.end()[-2].message;
                       EXPECT_EQ(why.rfind("Firmware image does not fit the MSP430F5510: ", 0), 0u)
                           << why;
                       EXPECT_NE(why.find("byte at 0x04400 lies outside the part's flash"),
                                 std::string::npos);
                       EXPECT_EQ(RealPartTest::count(*t.other, bsl::kCmdEraseSegment), 0u);
                     }},
        RealPartCase{"SmallImageOnASmallPart",
                     [](RealPartTest& t) { t.replacePart(sim::simPartF5508()); }, true,
                     PartState::NewImageVerified, {{100, "Done!"}},
                     [](RealPartTest& t) {
                       EXPECT_EQ(t.other->readMemory(0xC000, 8),
                                 (Bytes{0x31, 0x40, 0x00, 0x34, 0xB0, 0x12, 0x04, 0xC0}));
                     },
                     kSmallImage},
        RealPartCase{"SecondInterruptInsideTheVectorSegmentFinishesItsProofAndErase",
                     [](RealPartTest& t) {
                       t.loader.corruptWhenProgrammed(0xFF90);
                       t.stopInsideTheVectorSegment();
                     },
                     false, PartState::VectorErased, {},
                     [](RealPartTest& t) {
                       const auto commands = t.loader.commands();
                       std::size_t i = 0;
                       while (i < commands.size() && (commands[i].address < 0xFE00 ||
                                                      commands[i].address >= 0x10000)) {
                         ++i;
                       }
                       bool proven = false;
                       bool erased = false;
                       for (; i < commands.size(); ++i) {
                         proven = proven || commands[i].command == bsl::kCmdCrcCheck;
                         erased = erased || (proven && commands[i].command == bsl::kCmdEraseSegment);
                       }
                       EXPECT_TRUE(proven && erased);
                       EXPECT_EQ(t.loader.readMemory(kResetVectorAddress, 2), Bytes(2, 0xFF));
                     }},
        RealPartCase{"SecondInterruptInsideAGoodVectorSegmentLeavesItVerified",
                     [](RealPartTest& t) { t.stopInsideTheVectorSegment(); }, true,
                     PartState::NewImageVerified, {},
                     [](RealPartTest& t) {
                       EXPECT_TRUE(t.flashHolds(readFile(demoImagePath("1.1.0"))));
                       EXPECT_EQ(t.loader.resets(), 0);
                     }}),
    [](const ::testing::TestParamInfo<RealPartCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace talkgate::firmware::test
