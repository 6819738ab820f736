// The file lock on Windows: LockFileEx on the lock file beside the target. The lock file is
// opened without delete sharing, so it is removed on release only when no other run has it
// open, and a run never locks a file that has lost its name. A lock file that cannot be made
// or opened is a failure, never a reason to lock something else.

#include <windows.h>

#include <filesystem>

#include "config/file_lock.h"
#include "device/clock.h"
#include "files/regular_file.h"
#include "files/utf8_path.h"
#include "files/win_error.h"

namespace talkgate::config {
namespace {

constexpr std::chrono::milliseconds kPoll{5};

std::string resolved(const std::string& path) {
  std::error_code ec;
  const auto canonical = std::filesystem::weakly_canonical(files::pathFromUtf8(path), ec);
  return ec ? path : files::utf8Of(canonical);
}

}  // namespace

FileLock::FileLock(const std::string& path) {
  const std::string target = resolved(path);
  // The wait runs on the active clock, so tests see the whole wait without spending it.
  Clock& clock = activeClock();
  const auto deadline = clock.now() + lockWait();
  const std::string lockPath = target + kLockSuffix;
  // A file that cannot be reached is not a missing one: there may be something to guard.
  if (int error = 0; files::kindOf(target, &error) == files::FileKind::Unreachable) {
    problem_ = files::notRegularReason(files::FileKind::Unreachable, error);
    return;
  }
  const std::wstring wideLock = files::wideFromUtf8(lockPath);
  for (;;) {
    const HANDLE handle = ::CreateFileW(wideLock.c_str(), GENERIC_READ | GENERIC_WRITE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      const DWORD error = ::GetLastError();
      if (error == ERROR_PATH_NOT_FOUND || error == ERROR_FILE_NOT_FOUND) {
        // No folder: nothing to guard; the read or write that follows fails on its own.
        locked_ = true;
        return;
      }
      if (error != ERROR_SHARING_VIOLATION) {
        const bool folderRefused = error == ERROR_ACCESS_DENIED || error == ERROR_WRITE_PROTECT;
        problem_ = folderRefused && !std::filesystem::exists(files::pathFromUtf8(lockPath))
                       ? "its folder takes no new file (" + files::windowsErrorText(error) + ")"
                       : "its lock file " + lockPath + " cannot be opened (" +
                             files::windowsErrorText(error) + ")";
        return;
      }
      // Being removed by the run that held it: try again.
    } else {
      OVERLAPPED whole{};
      if (::LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD,
                       MAXDWORD, &whole)) {
        handle_ = reinterpret_cast<std::intptr_t>(handle);
        lockPath_ = lockPath;
        locked_ = true;
        return;
      }
      ::CloseHandle(handle);
    }
    if (clock.now() >= deadline) return;
    clock.sleepFor(kPoll);
  }
}

FileLock::~FileLock() {
  if (handle_ == -1) return;
  const HANDLE handle = reinterpret_cast<HANDLE>(handle_);
  OVERLAPPED whole{};
  ::UnlockFileEx(handle, 0, MAXDWORD, MAXDWORD, &whole);
  ::CloseHandle(handle);
  // Fails, leaving the file, while another run has it open; that run removes it in turn.
  if (!lockPath_.empty()) ::DeleteFileW(files::wideFromUtf8(lockPath_).c_str());
}

}  // namespace talkgate::config
