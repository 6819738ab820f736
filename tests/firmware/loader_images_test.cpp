// Where the product's loader images are looked up, what makes a found one unusable, and that
// real hardware gets them and never our stand-ins.

#include <gtest/gtest.h>

#include "firmware/bsl_wire.h"
#include "firmware/loader_images.h"
#include "tests/firmware/bsl_fixture.h"
#include "tests/firmware/loader_images_fixture.h"

namespace talkgate::firmware::test {
namespace {

namespace fs = std::filesystem;

Bytes bytesOf(const std::string& tiTxt) {
  TiTxtImage image;
  TiTxtError error;
  EXPECT_TRUE(parseTiTxt(tiTxt, image, error)) << error.text();
  Bytes out;
  for (const auto& s : image.sections) out.insert(out.end(), s.data.begin(), s.data.end());
  return out;
}

TEST(LoaderFolders, UserFolderFromXdgOrHomeThenTheSystemFolder) {
  const std::string etc = "/etc/talkgate-utility/loader";
  EXPECT_EQ(standardLoaderFolders("/x/cfg", "/home/u"),
            (std::vector<std::string>{"/x/cfg/talkgate-utility/loader", etc}));
  EXPECT_EQ(standardLoaderFolders("relative/cfg", "/home/u"),
            (std::vector<std::string>{"/home/u/.config/talkgate-utility/loader", etc}));
  EXPECT_EQ(standardLoaderFolders(nullptr, "/home/u"),
            (std::vector<std::string>{"/home/u/.config/talkgate-utility/loader", etc}));
  EXPECT_EQ(standardLoaderFolders("", nullptr), (std::vector<std::string>{etc}));
}

using LoaderImageLookupTest = BslTest;

TEST_F(LoaderImageLookupTest, ExplicitFolderThenUserThenSystemThenBuiltIn) {
  const std::string explicitDir = (dir / "explicit").string();
  const std::string user = (dir / "user").string();
  const std::string system = (dir / "system").string();
  writeLoaderImages(explicitDir, madeUpPassword(0xA0), madeUpRamLoader());
  writeLoaderImages(user, madeUpPassword(0xB0), madeUpRamLoader(), "00.07.01.34\r\n");
  writeLoaderImages(system, madeUpPassword(0xC0), madeUpRamLoader());
  const LoaderImageTexts builtIn{madeUpPassword(0xD0), madeUpRamLoader(), "00.06.05.34"};
  ScopedLoaderImageSources standard({user, system}, builtIn);
  const LoaderImageSources sources = loaderImageSources(explicitDir);
  ASSERT_EQ(sources.folders, (std::vector<std::string>{explicitDir, user, system}));

  struct Expected {
    std::string origin;
    std::uint8_t firstPasswordByte;
    std::string version;
  };
  for (const Expected& e :
       {Expected{explicitDir, 0xA0, "00.06.05.34"}, Expected{user, 0xB0, "00.07.01.34"},
        Expected{system, 0xC0, "00.06.05.34"}, Expected{"built in", 0xD0, "00.06.05.34"}}) {
    SCOPED_TRACE(e.origin);
    const LoaderImageLookup found = findProductLoaderImages(sources);
    ASSERT_TRUE(found.images) << ::testing::PrintToString(found.problems);
    EXPECT_EQ(found.origin, e.origin);
    EXPECT_EQ(bytesOf(found.images->passwordText).front(), e.firstPasswordByte);
    EXPECT_EQ(found.images->ramBslText, madeUpRamLoader());
    EXPECT_EQ(found.images->ramBslVersion, e.version);
    fs::remove_all(e.origin);  // the next source takes over
  }
  // Without the built-in images nothing is left, and nothing was found wrong.
  const LoaderImageLookup none = findProductLoaderImages({sources.folders, std::nullopt});
  EXPECT_FALSE(none.images);
  EXPECT_TRUE(none.problems.empty());
}

struct UnusableCase {
  const char* name;
  std::string password;
  std::string ramLoader;
  std::string version;
  const char* file;    // the file the problem names
  std::string reason;  // what follows its path
};

void PrintTo(const UnusableCase& c, std::ostream* os) {
  *os << c.name;
}

class UnusableImages : public LoaderImageLookupTest,
                       public ::testing::WithParamInterface<UnusableCase> {};

TEST_P(UnusableImages, AreRefusedWithFileAndReasonAndNoLaterFolderIsUsed) {
  const UnusableCase& c = GetParam();
  const fs::path first = dir / "first";
  const fs::path second = dir / "second";
  writeLoaderImages(first, c.password, c.ramLoader, c.version);
  writeLoaderImages(second, madeUpPassword(), madeUpRamLoader());
  const LoaderImageSources sources{{first.string(), second.string()}, std::nullopt};
  const LoaderImageLookup found = findProductLoaderImages(sources);
  EXPECT_FALSE(found.images);
  EXPECT_EQ(found.origin, first.string());
  EXPECT_EQ(found.problems,
            (std::vector<std::string>{(first / c.file).string() + " " + c.reason + "."}));
  const std::string text = missingLoaderImagesText(sources, found.problems);
  EXPECT_NE(text.find(found.problems.front()), std::string::npos) << text;
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, UnusableImages,
    ::testing::Values(
        UnusableCase{"PasswordTooShort", countingImage(0xFFE0, 30, 0xA0), madeUpRamLoader(), "",
                     "password.txt", "is not 32 bytes at 0xFFE0"},
        UnusableCase{"PasswordElsewhere", countingImage(0xFFC0, 32, 0xA0), madeUpRamLoader(), "",
                     "password.txt", "is not 32 bytes at 0xFFE0"},
        UnusableCase{"PasswordMalformed", "@FFE0\nA0 G1\nq\n", madeUpRamLoader(), "",
                     "password.txt", "is not well-formed TI-TXT: line 2: bad hex digit 'G'"},
        UnusableCase{"PasswordIsOurStandIn", firmwareResources().passwordText, madeUpRamLoader(),
                     "", "password.txt",
                     "is our stand-in for the simulated Talkgate, not the product's password"},
        UnusableCase{"RamLoaderInFlash", madeUpPassword(),
                     "@2500\n00 06 05 34 01 02\n@4400\n01\nq\n", "", "RAM_BSL.txt",
                     "puts a byte at 0x04400 (line 3), outside RAM 0x2400-0x43FF"},
        UnusableCase{"RamLoaderRunningPastRam", madeUpPassword(),
                     "@2500\n00 06 05 34 01 02\n@43FE\n01 02 03\nq\n", "", "RAM_BSL.txt",
                     "puts a byte at 0x04400 (line 3), outside RAM 0x2400-0x43FF"},
        UnusableCase{"RamLoaderBelowRam", madeUpPassword(),
                     "@23FE\n01 02\n@2500\n00 06 05 34 01\nq\n", "", "RAM_BSL.txt",
                     "puts a byte at 0x023FE (line 1), outside RAM 0x2400-0x43FF"},
        UnusableCase{"RamLoaderWithoutItsStart", madeUpPassword(), "@2500\n00 06 05 34\nq\n", "",
                     "RAM_BSL.txt", "does not hold its start address 0x2504"},
        UnusableCase{"RamLoaderMissing", madeUpPassword(), "", "", "RAM_BSL.txt", "is missing"},
        UnusableCase{"VersionMisshapen", madeUpPassword(), madeUpRamLoader(), "6.5.34\n",
                     "RAM_BSL_VERSION.txt", "'6.5.34' is not a version of the form 00.06.05.34"}),
    [](const ::testing::TestParamInfo<UnusableCase>& info) {
      return std::string(info.param.name);
    });

TEST_F(LoaderImageLookupTest, RefusalTextNamesFoldersAndFilesAndOnlyRealHardwareGetsIt) {
  const LoaderImageSources sources{{"/a/loader", "/b/loader", "/c/loader"}, std::nullopt};
  EXPECT_EQ(missingLoaderImagesText(sources, {"/a/loader/RAM_BSL.txt is missing."}),
            "A real Talkgate can only be upgraded with the product's loader images, and no "
            "usable ones were found. Looked for password.txt and RAM_BSL.txt (TI-TXT; "
            "RAM_BSL_VERSION.txt optional) in /a/loader, /b/loader and /c/loader. "
            "/a/loader/RAM_BSL.txt is missing. Copy the product's images into one of those "
            "folders; the stand-ins built into this program serve only the simulated Talkgate. "
            "Nothing was sent to the device.");

  RecordingPort hardware(bus, true);
  EXPECT_EQ(loaderImagesRefusal(bus, sources), "") << "the simulated loader takes the stand-ins";
  EXPECT_EQ(loaderImagesRefusal(hardware, sources), missingLoaderImagesText(sources, {}));
  writeLoaderImages(dir / "loader", madeUpPassword(), madeUpRamLoader());
  EXPECT_EQ(loaderImagesRefusal(hardware, {{(dir / "loader").string()}, std::nullopt}), "");
}

// The programmer on a port that passes for real hardware, in front of the simulated loader.
class UpgradeOnHardware : public UpgradeTest {
 protected:
  const std::vector<Bytes>& attempts() const { return hardware.log->attempts; }

  RecordingPort hardware{bus, true};
  PortGuard hardwareGuard{hardware};
};

TEST_F(UpgradeOnHardware, WithOnlyStandInsNothingIsSentAndTheReasonIsLoggedAtZero) {
  ScopedLoaderImageSources standard({(dir / "nothing here").string()});
  programmer = FirmwareProgrammer();
  EXPECT_FALSE(run(newImagePath));
  EXPECT_EQ(steps,
            (std::vector<Step>{{0, missingLoaderImagesText(standard.sources(), {}) + "\r\n"}}));
  bool massErased = false;
  EXPECT_FALSE(programmer.DownloadStartUp(nullptr, massErased)) << "nor when called on its own";
  EXPECT_TRUE(attempts().empty());
  EXPECT_EQ(loader.reportsReceived(), 0);
  EXPECT_TRUE(flashHolds(oldImage));
}

TEST_F(UpgradeOnHardware, ProductImagesFromTheFolderAreWhatTheLoaderGets) {
  writeLoaderImages(dir / "loader", madeUpPassword(), madeUpRamLoader());
  ScopedLoaderImageSources standard({(dir / "loader").string()});
  programmer = FirmwareProgrammer();
  ASSERT_TRUE(run(newImagePath)) << ::testing::PrintToString(steps);
  Bytes firstPassword;
  for (const auto& report : attempts()) {
    if (report.size() > 2 && report[2] == bsl::kCmdRxPassword) {
      firstPassword.assign(report.begin() + 3, report.begin() + 35);
      break;
    }
  }
  EXPECT_EQ(firstPassword, bytesOf(madeUpPassword()));
  EXPECT_EQ(loader.readMemory(0x2500, 14), bytesOf(madeUpRamLoader()));
  EXPECT_TRUE(flashHolds(newImage));
}

}  // namespace
}  // namespace talkgate::firmware::test
