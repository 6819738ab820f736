// The reader behind every file the program reads: every byte up to its cap, and a missing file
// told apart. (Directories, FIFOs, device nodes and sockets: the writer's and the tool's tests.)

#include "files/regular_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/config/test_files.h"

namespace talkgate::files {
namespace {

using config::test::TempDir;
using config::test::writeBytes;

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
