// The file lock on POSIX systems: flock on the lock file beside the target.

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <optional>
#include <system_error>

#include "config/file_lock.h"
#include "device/clock.h"
#include "files/regular_file.h"

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

// The lock file may be opened by everyone who may write the file it guards; for a file not
// there yet, the user's umask decides, as it will for the file.
std::optional<mode_t> lockFileMode(const std::string& target) {
  struct stat info {};
  if (::stat(target.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
  return info.st_mode & 0666;
}

// Opens (or creates) the lock file; *step says which failed. flock needs no write permission: a
// lock file another user made and this one may only read still serves.
int openLockFile(const std::string& lockPath, std::optional<mode_t> mode, const char** step) {
  *step = "made";
  int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                  mode.value_or(0666));
  if (fd >= 0) {
    if (mode) ::fchmod(fd, *mode);  // not narrowed by this user's umask
    return fd;
  }
  if (errno != EEXIST) return -1;
  *step = "opened";
  fd = ::open(lockPath.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0 && (errno == EACCES || errno == EPERM)) {
    fd = ::open(lockPath.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  }
  return fd;
}

}  // namespace

FileLock::FileLock(const std::string& path) {
  const std::string target = resolved(path);
  // The wait runs on the active clock, so tests see the whole wait without spending it.
  Clock& clock = activeClock();
  const auto deadline = clock.now() + lockWait();
  const std::string lockPath = target + kLockSuffix;
  const std::optional<mode_t> mode = lockFileMode(target);
  // A file that cannot be reached is not a missing one: there may be something to guard.
  if (int error = 0; files::kindOf(target, &error) == files::FileKind::Unreachable) {
    problem_ = files::notRegularReason(files::FileKind::Unreachable, error);
    return;
  }
  for (;;) {
    const char* step = "";
    const int fd = openLockFile(lockPath, mode, &step);
    if (fd < 0) {
      const int error = errno;
      std::error_code ec;
      if (error == ENOENT &&
          std::filesystem::exists(std::filesystem::path(target).parent_path(), ec)) {
        // The lock was removed between the two opens: try again.
        if (clock.now() >= deadline) return;
        continue;
      }
      if (error == ENOENT || error == ENOTDIR) {
        // No folder: nothing to guard; the read or write that follows fails on its own.
        locked_ = true;
        return;
      }
      const std::string why = error == ELOOP ? std::string("it is a symbolic link")
                                             : std::generic_category().message(error);
      const bool folderRefused =
          std::string(step) == "made" && (error == EACCES || error == EPERM || error == EROFS);
      problem_ = folderRefused
                     ? "its folder takes no new file (" + why + ")"
                     : "its lock file " + lockPath + " cannot be " + step + " (" + why + ")";
      return;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
      // The lock file may have been removed by its last holder after this run opened it.
      if (sameFile(fd, lockPath)) {
        handle_ = fd;
        lockPath_ = lockPath;
        locked_ = true;
        return;
      }
      ::close(fd);
      continue;
    }
    ::close(fd);
    if (clock.now() >= deadline) return;
    clock.sleepFor(kPoll);
  }
}

FileLock::~FileLock() {
  if (handle_ < 0) return;
  // Removed while still held, so the next holder always locks the file that stays named. (In
  // a folder with the sticky bit another user's lock file stays; it serves the next run too.)
  ::unlink(lockPath_.c_str());
  ::close(static_cast<int>(handle_));
}

}  // namespace talkgate::config
