// The one writer of every file the program replaces, and the lock between runs: what it refuses,
// what it never follows and what it leaves behind.

#include "config/atomic_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "config/file_lock.h"
#include "config/ini_file.h"
#include "device/clock.h"
#include "tests/config/test_files.h"
#include "tests/scenarios/file_faults.h"

namespace talkgate::config {
namespace {

namespace fs = std::filesystem;
using test::entryCount;
using test::readBytes;
using test::TempDir;
using test::writeBytes;

// A process id that is certainly not running any more.
pid_t deadPid() {
  const pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  ::waitpid(child, nullptr, 0);
  return child;
}

class AtomicFileTest : public ::testing::Test {
 protected:
  void TearDown() override { setLockWait(kDefaultLockWait); }
  TempDir dir;
  std::string path = dir.file("settings.ini");
  std::string temporaryOf(long pid) const {
    return path + kTemporaryMarker + std::to_string(pid) + "-1-1";
  }
};

TEST_F(AtomicFileTest, PlantedNamesAreNeverFollowedAndKilledRunsLeftoversGo) {
  writeBytes(path, "old");
  const std::string victim = dir.file("victim");
  writeBytes(victim, "keep");
  // The name the old writer used, and a leftover of a killed run, both links to the victim.
  fs::create_symlink(victim, path + ".tmp");
  const std::string stale = temporaryOf(deadPid());
  fs::create_symlink(victim, stale);
  const std::string staleFile = temporaryOf(deadPid());
  writeBytes(staleFile, "half");
  const std::string inFlight = temporaryOf(::getppid());  // a run still alive
  writeBytes(inFlight, "busy");

  std::string reason;
  ASSERT_TRUE(writeFileAtomically(path, "new", &reason)) << reason;
  EXPECT_EQ(readBytes(path), "new");
  EXPECT_FALSE(fs::is_symlink(path));
  EXPECT_EQ(readBytes(victim), "keep");
  EXPECT_FALSE(fs::exists(fs::symlink_status(stale)));
  EXPECT_FALSE(fs::exists(staleFile));
  EXPECT_EQ(readBytes(inFlight), "busy");
  EXPECT_TRUE(fs::is_symlink(path + ".tmp"));  // not ours to remove
}

// (A read-only file, a full disk and content past the reader's cap: the tool's scenarios.) A
// folder that takes no temporary file keeps the old file: it is never rewritten in place, where
// a full disk or a kill would cut it. Content prepared but never committed changes nothing.
TEST_F(AtomicFileTest, AFileThatCannotBeReplacedWholeIsKept) {
  writeBytes(path, "old");
  std::string reason;
  {
    scen::ReadOnly guard(dir.path());
    EXPECT_FALSE(writeFileAtomically(path, "newer", &reason));
  }
  EXPECT_EQ(reason,
            "its folder takes no new file (Permission denied), so it cannot be replaced safely");
  {
    PreparedFile prepared;
    ASSERT_TRUE(prepared.prepare(path, "newer"));
  }
  EXPECT_EQ(readBytes(path), "old");
  EXPECT_EQ(entryCount(dir.path()), 1);
}

class AtomicSpecialTarget : public ::testing::TestWithParam<scen::SpecialKind> {};

TEST_P(AtomicSpecialTarget, IsNeverReplacedNorWrittenThrough) {
  TempDir dir;
  const std::string path = dir.file("target");
  if (!scen::makeSpecial(GetParam().kind, path)) GTEST_SKIP() << "cannot make one here";
  std::string reason;
  EXPECT_FALSE(writeFileAtomically(path, "data", &reason));
  EXPECT_EQ(reason, GetParam().reason);
  EXPECT_FALSE(copyFileAtomically(path, dir.file("copy"), 1024, &reason));
  EXPECT_EQ(reason, GetParam().reason);
  EXPECT_TRUE(scen::stillSpecial(GetParam(), path));
  EXPECT_EQ(entryCount(dir.path()), 1);
}

INSTANTIATE_TEST_SUITE_P(Kinds, AtomicSpecialTarget, ::testing::ValuesIn(scen::kSpecials),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- The lock between runs

TEST_F(AtomicFileTest, AHeldFileMakesAChangeWaitAndThenSaySo) {
  writeBytes(path, " [s]\r\n");
  {
    // The whole wait passes on the test's clock, none of it in real time.
    ManualClock clock;
    const ScopedClock onTestClock(clock);
    FileLock held(path);
    ASSERT_TRUE(held.locked());
    const FileLock second(path);
    EXPECT_FALSE(second.locked());
    EXPECT_GE(clock.totalSlept(), kDefaultLockWait);
    EXPECT_EQ(second.busyReason(), "another run of the program is using it (waited 5 s)");
    EXPECT_FALSE(CIniFile::SetValue("k", "v", "s", path));
  }
  EXPECT_EQ(readBytes(path), " [s]\r\n");
  EXPECT_TRUE(CIniFile::SetValue("k", "v", "s", path));
  EXPECT_EQ(entryCount(dir.path()), 1) << "lock file left behind";

  // Where no lock file can be made, nothing else is locked instead: a run elsewhere that can
  // make it would not be kept out.
  scen::ReadOnly guard(dir.path());
  const FileLock refused(path);
  EXPECT_FALSE(refused.locked());
  EXPECT_EQ(refused.busyReason(), "its folder takes no new file (Permission denied)");
}

}  // namespace
}  // namespace talkgate::config
