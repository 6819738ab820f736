// Where the product's loader images are looked up, what makes a found one unusable, and that
// real hardware gets them and never our stand-ins.

#include <gtest/gtest.h>

#include "firmware/loader_images.h"
#include "tests/firmware/bsl_fixture.h"
#include "tests/firmware/loader_images_fixture.h"
#include "tests/support/system_faults.h"

namespace talkgate::firmware::test {
namespace {

namespace fs = std::filesystem;

TEST(LoaderFolders, UserFolderFromXdgOrHomeThenTheSystemFolder) {
  const std::string etc = "/etc/talkgate-utility/loader";
  using Folders = std::vector<std::string>;
  EXPECT_EQ(standardLoaderFolders("/x", "/h"), (Folders{"/x/talkgate-utility/loader", etc}));
  const Folders fromHome{"/h/.config/talkgate-utility/loader", etc};
  EXPECT_EQ(standardLoaderFolders("relative", "/h"), fromHome);
  EXPECT_EQ(standardLoaderFolders(nullptr, "/h"), fromHome);
  EXPECT_EQ(standardLoaderFolders(nullptr, nullptr), (Folders{etc}));
}

using LoaderImageLookupTest = BslTest;

TEST_F(LoaderImageLookupTest, ExplicitFolderThenUserThenSystemThenBuiltIn) {
  const std::string explicitDir = (dir / "explicit").string();
  const std::string user = (dir / "user").string();
  const std::string system = (dir / "system").string();
  writeLoaderImages(explicitDir, madeUpPassword("01"), kMadeUpRamLoader);
  std::string otherVersion = kMadeUpRamLoader;
  otherVersion.replace(otherVersion.find("06 05"), 5, "07 01");
  writeLoaderImages(user, madeUpPassword("02"), otherVersion, "00.07.01.34\r\n");
  writeLoaderImages(system, madeUpPassword("03"), kMadeUpRamLoader);
  ScopedLoaderImageSources standard(
      {user, system}, LoaderImageTexts{madeUpPassword("04"), kMadeUpRamLoader, "00.06.05.34"});
  const LoaderImageSources sources = loaderImageSources(explicitDir);
  ASSERT_EQ(sources.folders, (std::vector<std::string>{explicitDir, user, system}));

  for (const auto& [origin, first, version] :
       {std::tuple{explicitDir, "01", "00.06.05.34"}, std::tuple{user, "02", "00.07.01.34"},
        std::tuple{system, "03", "00.06.05.34"},
        std::tuple{std::string("built in"), "04", "00.06.05.34"}}) {
    const LoaderImageLookup found = findProductLoaderImages(sources);
    ASSERT_TRUE(found.images) << ::testing::PrintToString(found.problems);
    EXPECT_EQ(found.origin, origin);
    EXPECT_EQ(found.images->passwordText, madeUpPassword(first));
    EXPECT_EQ(found.images->ramBslVersion, version);
    fs::remove_all(origin);  // the next source takes over
  }
  EXPECT_FALSE(findProductLoaderImages({sources.folders, std::nullopt}).images);
}

TEST_F(LoaderImageLookupTest, UnusableImagesAreRefusedWithFileAndReasonNotReplacedByLaterOnes) {
  struct Case {
    std::string password, ramLoader, version, problem;  // problem: after the folder's path
  };
  const std::string ok = kMadeUpRamLoader;
  for (const Case& c : std::vector<Case>{
           {"@FFE0\nA0 A1\nq\n", ok, "", "/password.txt is not 32 bytes at 0xFFE0."},
           {"@FFC0" + madeUpPassword().substr(5), ok, "",
            "/password.txt is not 32 bytes at 0xFFE0."},
           {firmwareResources().passwordText, ok, "",
            "/password.txt is our stand-in for the simulated Talkgate, not the product's "
            "password."},
           // The RAM of the smallest part: its version, then code, and the version expected.
           {madeUpPassword(), "@2500\n00 06 05 34 01 02\n@33FE\n01 02 03\nq\n", "",
            "/RAM_BSL.txt puts a byte at 0x03400 (line 3), outside RAM 0x2400-0x33FF."},
           {madeUpPassword(), "@2500\n00 06 05 34\nq\n", "",
            "/RAM_BSL.txt holds no code at its start address 0x2504."},
           {madeUpPassword(), "@2504\n40 31\nq\n", "",
            "/RAM_BSL.txt does not hold its version bytes 0x2500-0x2503."},
           {madeUpPassword(), "@2500\n00 06 05 35 40 31\nq\n", "",
            "/RAM_BSL.txt carries version 00.06.05.35 at 0x2500, not 00.06.05.34."},
           {madeUpPassword(), ok, "00.07.01.34\n",
            "/RAM_BSL.txt carries version 00.06.05.34 at 0x2500, not 00.07.01.34."},
           {madeUpPassword(), "", "", "/RAM_BSL.txt is missing."},
           {madeUpPassword(), ok, "6.5.34\n",
            "/RAM_BSL_VERSION.txt '6.5.34' is not a version of the form 00.06.05.34."}}) {
    fs::remove_all(dir);
    writeLoaderImages(dir / "first", c.password, c.ramLoader, c.version);
    writeLoaderImages(dir / "second", madeUpPassword(), ok);
    const LoaderImageLookup found =
        findProductLoaderImages({{(dir / "first").string(), (dir / "second").string()}, {}});
    EXPECT_FALSE(found.images) << c.problem;
    EXPECT_EQ(found.problems, (std::vector<std::string>{(dir / "first").string() + c.problem}));
  }
}

// A FIFO where an image belongs would block a plain read for ever.
TEST_F(LoaderImageLookupTest, AFifoWhereAnImageBelongsIsRefusedAtOnce) {
  writeLoaderImages(dir / "first", madeUpPassword(), "");
  const std::string fifo = (dir / "first" / kRamLoaderFileName).string();
  if (!faults::makeFifo(fifo)) GTEST_SKIP() << faults::kNoFifoReason;
  const LoaderImageLookup found = findProductLoaderImages({{(dir / "first").string()}, {}});
  EXPECT_FALSE(found.images);
  EXPECT_EQ(found.problems, (std::vector<std::string>{fifo + " cannot be read: cannot open " +
                                                      fifo + ": it is a FIFO (named pipe)."}));
}

// The programmer on a port that passes for real hardware, in front of the simulated loader.
class UpgradeOnHardware : public UpgradeTest {
 protected:
  RecordingPort hardware{bus, true};
  PortGuard hardwareGuard{hardware};
};

TEST_F(UpgradeOnHardware, WithOnlyStandInsNothingIsSentAndTheLogSaysWhereItLooked) {
  ScopedLoaderImageSources standard({(dir / "empty").string()});
  programmer = FirmwareProgrammer();
  EXPECT_FALSE(run(newImagePath));
  ASSERT_EQ(steps.size(), 1u);
  EXPECT_EQ(steps[0].percent, 0);
  for (const std::string& named : {(dir / "empty").string(), std::string("password.txt"),
                                   std::string("RAM_BSL.txt"), std::string("RAM_BSL_VERSION")}) {
    EXPECT_NE(steps[0].message.find(named), std::string::npos) << named;
  }
  EXPECT_EQ(loaderImagesRefusal(hardware, standard.sources()) + "\r\n", steps[0].message);
  EXPECT_EQ(loaderImagesRefusal(bus, standard.sources()), "") << "the simulator takes stand-ins";
  bool massErased = false;
  EXPECT_FALSE(programmer.DownloadStartUp(nullptr, massErased)) << "nor when called on its own";
  EXPECT_TRUE(hardware.log->attempts.empty());
  EXPECT_EQ(loader.reportsReceived(), 0);
}

TEST_F(UpgradeOnHardware, ProductImagesFromTheFolderAreWhatTheLoaderGets) {
  writeLoaderImages(dir / "loader", madeUpPassword(), kMadeUpRamLoader);
  ScopedLoaderImageSources standard({(dir / "loader").string()});
  programmer = FirmwareProgrammer();
  ASSERT_TRUE(run(newImagePath)) << ::testing::PrintToString(steps);
  // The part holds our stand-in as its password: only the folder's one makes it mass-erase.
  EXPECT_EQ(loader.massErases(), 1);
  EXPECT_EQ(loader.readMemory(0x2504, 2), (Bytes{0x40, 0x31})) << "the folder's RAM loader";
  EXPECT_TRUE(flashHolds(newImage));
}

}  // namespace
}  // namespace talkgate::firmware::test
