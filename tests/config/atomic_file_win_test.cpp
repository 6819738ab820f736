// The atomic writer, the file checks and the lock on Windows (run under wine here): folders
// named with letters beyond the code page, a target another program holds open, read-only
// files, device names, and one lock holder at a time.

#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "config/atomic_file.h"
#include "config/file_lock.h"
#include "files/regular_file.h"
#include "files/utf8_path.h"
#include "tests/config/test_files.h"

namespace talkgate::config {
namespace {

namespace fs = std::filesystem;
using test::entryCount;
using test::TempDir;

class WindowsFiles : public ::testing::Test {
 protected:
  void TearDown() override {
    setBusyWait(nullptr);
    setLockWait(kDefaultLockWait);
  }
  // UTF-8 text of a path in the test's folder.
  std::string file(const std::string& utf8Name) const {
    return files::utf8Of(dir.path() / files::pathFromUtf8(utf8Name));
  }
  // Holds path open the way an editor may: others may read, but not replace or delete it.
  static HANDLE hold(const std::string& path) {
    return ::CreateFileW(files::pathFromUtf8(path).wstring().c_str(), GENERIC_READ,
                         FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  TempDir dir;
};

TEST_F(WindowsFiles, AFolderNamedBeyondTheCodePageIsWrittenAndReadByItsOwnName) {
  const std::string folder = file("Z\xC3\xBCrich \xE2\x82\xAC \xF0\x9F\x94\x8A");  // Zürich € 🔊
  ASSERT_TRUE(fs::create_directories(files::pathFromUtf8(folder)));
  const std::string target = folder + "\\USBTalkgateUtilityCfg.ini";
  std::string reason;
  ASSERT_TRUE(writeFileAtomically(target, "[appSettings]\r\n", &reason)) << reason;
  EXPECT_TRUE(fs::exists(dir.path() / L"Z\u00FCrich \u20AC \U0001F50A" / L"USBTalkgateUtilityCfg.ini"))
      << "the folder the user sees, not its code-page garbling";
  std::string bytes;
  ASSERT_TRUE(files::readRegularFile(target, 1024, bytes, reason)) << reason;
  EXPECT_EQ(bytes, "[appSettings]\r\n") << "read in binary: CRLF stays";
  EXPECT_EQ(entryCount(files::pathFromUtf8(folder)), 1) << "no temporary left";
}

TEST_F(WindowsFiles, AFileHeldOpenIsReplacedOnceLetGoAndKeptWhenNever) {
  const std::string target = file("settings.ini");
  std::string reason;
  ASSERT_TRUE(writeFileAtomically(target, "old", &reason)) << reason;

  HANDLE held = hold(target);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  int waits = 0;
  setBusyWait([&](std::chrono::milliseconds pause) {
    EXPECT_EQ(pause, kBusyPause);
    if (++waits == 3) {
      ::CloseHandle(held);
      held = INVALID_HANDLE_VALUE;
    }
  });
  EXPECT_TRUE(writeFileAtomically(target, "new", &reason)) << reason;
  EXPECT_EQ(waits, 3) << "tried again until the other program let go";
  EXPECT_EQ(test::readBytes(target), "new");

  held = hold(target);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  waits = 0;
  setBusyWait([&](std::chrono::milliseconds) { ++waits; });
  EXPECT_FALSE(writeFileAtomically(target, "lost?", &reason));
  ::CloseHandle(held);
  EXPECT_EQ(reason, "another program is using it");
  EXPECT_EQ(waits, kBusyTries - 1);
  EXPECT_EQ(test::readBytes(target), "new");
  std::string names;
  for (const auto& entry : fs::directory_iterator(dir.path())) {
    names += files::utf8Of(entry.path().filename()) + " ";
  }
  EXPECT_EQ(entryCount(dir.path()), 1) << "no temporary left: " << names;
}

TEST_F(WindowsFiles, AReadOnlyFileIsRefusedAndDevicesAndPipesAreNamedForWhatTheyAre) {
  const std::string target = file("settings.ini");
  test::writeBytes(target, "old");
  ASSERT_TRUE(::SetFileAttributesW(files::pathFromUtf8(target).wstring().c_str(),
                                   FILE_ATTRIBUTE_READONLY));
  std::string reason;
  EXPECT_FALSE(writeFileAtomically(target, "new", &reason));
  EXPECT_EQ(reason, "it is read-only");
  ::SetFileAttributesW(files::pathFromUtf8(target).wstring().c_str(), FILE_ATTRIBUTE_NORMAL);
  EXPECT_EQ(test::readBytes(target), "old");

  const struct {
    std::string path;
    files::FileKind kind;
  } table[] = {
      {"NUL", files::FileKind::DeviceNode},
      {file("con.txt"), files::FileKind::DeviceNode},
      {file("COM1"), files::FileKind::DeviceNode},
      {"\\\\.\\pipe\\talkgate", files::FileKind::Fifo},
      {"\\\\.\\PhysicalDrive0", files::FileKind::DeviceNode},
      {files::utf8Of(dir.path()), files::FileKind::Directory},
      {target, files::FileKind::Regular},
      {file("missing.ini"), files::FileKind::Missing},
      {file("COM10"), files::FileKind::Missing},
  };
  for (const auto& row : table) {
    EXPECT_EQ(files::kindOf(row.path), row.kind) << row.path;
    std::string bytes;
    if (row.kind == files::FileKind::DeviceNode || row.kind == files::FileKind::Fifo) {
      EXPECT_FALSE(files::readRegularFile(row.path, 16, bytes, reason)) << row.path;
      EXPECT_EQ(reason, files::notRegularReason(row.kind));
      EXPECT_FALSE(writeFileAtomically(row.path, "x", &reason)) << row.path;
    }
  }
}

TEST_F(WindowsFiles, OneLockHolderAtATimeAndTheLockFileGoesWithTheLast) {
  const std::string target = file("settings.ini");
  test::writeBytes(target, "x");
  setLockWait(std::chrono::milliseconds(0));
  {
    FileLock first(target);
    ASSERT_TRUE(first.locked());
    EXPECT_TRUE(fs::exists(files::pathFromUtf8(target + kLockSuffix)));
    FileLock second(target);
    EXPECT_FALSE(second.locked());
    EXPECT_EQ(second.busyReason(), "another run of the program is using it (waited 0 ms)");
  }
  EXPECT_FALSE(fs::exists(files::pathFromUtf8(target + kLockSuffix)));
  FileLock again(target);
  EXPECT_TRUE(again.locked());
}

TEST_F(WindowsFiles, TemporariesOfEndedRunsAreRemovedAndALiveRunsKept) {
  const std::string target = file("settings.ini");
  // Process ids are multiples of 4 and far below this one.
  const std::string stale = target + kTemporaryMarker + "2147483644-1-1";
  const std::string live =
      target + kTemporaryMarker + std::to_string(::GetCurrentProcessId() + 0) + "-9-9";
  test::writeBytes(stale, "s");
  test::writeBytes(live, "l");
  std::string reason;
  ASSERT_TRUE(writeFileAtomically(target, "new", &reason)) << reason;
  EXPECT_FALSE(fs::exists(stale));
  EXPECT_TRUE(fs::exists(live)) << "this run's own, which it may still be writing";
}

}  // namespace
}  // namespace talkgate::config
