// The check before every file the program reads: only a regular file, never blocking, capped.

#include "files/regular_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/config/test_files.h"
#include "tests/scenarios/file_faults.h"

namespace talkgate::files {
namespace {

using config::test::TempDir;
using config::test::writeBytes;

class SpecialFile : public ::testing::TestWithParam<scen::Special> {};

// A FIFO without a writer would block a plain open for ever; a device node would read without
// end. Each is named for what it is, directly and through a link.
TEST_P(SpecialFile, IsNamedForWhatItIsAndNeverRead) {
  TempDir dir;
  const std::string path = dir.file("special");
  if (!scen::makeSpecial(GetParam(), path)) GTEST_SKIP() << "cannot make one here";
  const std::string link = dir.file("link");
  std::filesystem::create_symlink(path, link);
  for (const std::string& name : {path, link}) {
    EXPECT_EQ(notRegularReason(name), scen::specialReason(GetParam())) << name;
    std::string bytes = "stale";
    std::string reason;
    EXPECT_FALSE(readRegularFile(name, 1024, bytes, reason)) << name;
    EXPECT_EQ(reason, scen::specialReason(GetParam())) << name;
    EXPECT_TRUE(bytes.empty());
  }
}

INSTANTIATE_TEST_SUITE_P(Kinds, SpecialFile, ::testing::ValuesIn(scen::kAllSpecials),
                         [](const auto& info) {
                           return std::string(scen::specialName(info.param));
                         });

TEST(RegularFile, ReadsEveryByteUpToTheCapAndRefusesOneMore) {
  TempDir dir;
  const std::string path = dir.file("data");
  const std::string sixteen(
      "a\0b\r\n\xff"
      "0123456789",
      16);
  writeBytes(path, sixteen);
  std::string bytes;
  std::string reason;
  EXPECT_EQ(kindOf(path), FileKind::Regular);
  EXPECT_EQ(notRegularReason(path), "");
  ASSERT_TRUE(readRegularFile(path, 16, bytes, reason)) << reason;
  EXPECT_EQ(bytes, sixteen);
  EXPECT_FALSE(readRegularFile(path, 15, bytes, reason));
  EXPECT_EQ(reason, "it is larger than 15 bytes");
  EXPECT_TRUE(bytes.empty());
  EXPECT_EQ(sizeText(4 * 1024 * 1024), "4 MiB");
}

TEST(RegularFile, MissingFileOrDanglingLinkDoesNotExist) {
  TempDir dir;
  std::filesystem::create_symlink(dir.file("nowhere"), dir.file("dangling"));
  for (const std::string& name : {dir.file("absent"), dir.file("dangling")}) {
    EXPECT_EQ(kindOf(name), FileKind::Missing);
    EXPECT_EQ(notRegularReason(name), "");
    std::string bytes;
    std::string reason;
    EXPECT_FALSE(readRegularFile(name, 1024, bytes, reason));
    EXPECT_EQ(reason, "it does not exist");
  }
}

}  // namespace
}  // namespace talkgate::files
