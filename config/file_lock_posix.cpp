// The file lock on POSIX systems: flock on the lock file beside the target.

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <thread>

#include "config/file_lock.h"

namespace talkgate::config {
namespace {

constexpr std::chrono::milliseconds kPoll{5};

std::string resolved(const std::string& path) {
  std::error_code ec;
  const auto canonical = std::filesystem::weakly_canonical(std::filesystem::path(path), ec);
  return ec ? path : canonical.string();
}

bool sameFile(int fd, const std::string& path) {
  struct stat held {};
  struct stat named {};
  return ::fstat(fd, &held) == 0 && ::lstat(path.c_str(), &named) == 0 &&
         held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

}  // namespace

FileLock::FileLock(const std::string& path) {
  const std::string target = resolved(path);
  const auto deadline = std::chrono::steady_clock::now() + lockWait();
  std::string lockPath = target + kLockSuffix;
  for (;;) {
    int fd = -1;
    if (!lockPath.empty()) {
      fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
      if (fd < 0 && errno != ENOENT && errno != ENOTDIR) {
        // No new file in that folder (or a link planted at the lock's name): lock the file
        // itself, which is then written in place.
        lockPath.clear();
      }
    }
    if (lockPath.empty()) fd = ::open(target.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
      // No folder or no file: nothing to guard; the read or write that follows fails on its own.
      locked_ = true;
      return;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
      // The lock file may have been removed by its last holder after this run opened it.
      if (lockPath.empty() || sameFile(fd, lockPath)) {
        handle_ = fd;
        lockPath_ = lockPath;
        locked_ = true;
        return;
      }
      ::close(fd);
      continue;
    }
    ::close(fd);
    if (std::chrono::steady_clock::now() >= deadline) return;
    std::this_thread::sleep_for(kPoll);
  }
}

FileLock::~FileLock() {
  if (handle_ < 0) return;
  // Removed while still held, so the next holder always locks the file that stays named.
  if (!lockPath_.empty()) ::unlink(lockPath_.c_str());
  ::close(static_cast<int>(handle_));
}

}  // namespace talkgate::config
