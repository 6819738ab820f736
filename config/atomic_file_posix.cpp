// The atomic writer on POSIX systems: an exclusive temporary beside the target, written whole,
// flushed, given the target's permissions and renamed over it, then the folder synced.

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "config/atomic_file.h"
#include "config/atomic_file_os.h"

namespace fs = std::filesystem;

namespace talkgate::config::detail {
namespace {

constexpr mode_t kNewFileMode = 0666;  // narrowed by the umask, as for any new file
constexpr mode_t kPrivateMode = 0600;  // until the temporary gets the target's own mode

bool failErrno(std::string* reason, int error) {
  return fail(reason, std::generic_category().message(error));
}

fs::path folderOf(const fs::path& target) {
  return target.has_parent_path() ? target.parent_path() : fs::path(".");
}

bool writeAll(int fd, std::string_view bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// A read-only file is not replaced behind the user's back: the rename beside it would succeed
// where opening the file itself for writing does not.
bool checkWritable(const fs::path& target, std::string* reason) {
  const int fd = ::open(target.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd >= 0) {
    ::close(fd);
    return true;
  }
  if (errno == EACCES || errno == EPERM) return fail(reason, "it is read-only");
  return failErrno(reason, errno);
}

// Makes the rename itself durable.
void syncFolder(const fs::path& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

}  // namespace

long currentProcessId() {
  return static_cast<long>(::getpid());
}

bool processGone(long pid) {
  return pid > 0 && ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
}

fs::path writeTemporary(const fs::path& target, bool existing, std::string_view bytes, bool sync,
                        std::string* reason) {
  struct stat old {};
  const bool exists = existing && ::stat(target.c_str(), &old) == 0;
  if (exists && !checkWritable(target, reason)) return {};
  removeStaleTemporaries(target.string());

  const fs::path temp = temporaryNameFor(target);
  // O_EXCL: a name planted in the meantime (a link, say) makes this fail instead of being used.
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                        exists ? kPrivateMode : kNewFileMode);
  if (fd < 0) {
    const int error = errno;
    if (exists && (error == EACCES || error == EPERM || error == EROFS)) {
      // Rewriting the file where it is could cut it (a full disk, a kill): refused instead.
      fail(reason, "its folder takes no new file (" + std::generic_category().message(error) +
                       "), so it cannot be replaced safely");
      return {};
    }
    failErrno(reason, error);
    return {};
  }
  bool ok = writeAll(fd, bytes);
  int error = ok ? 0 : errno;
  if (ok && exists) {
    // The user's permissions, and the owner when an administrator writes someone's file.
    ok = ::fchmod(fd, old.st_mode & 07777) == 0;
    if (!ok) error = errno;
    if (ok && ::fchown(fd, old.st_uid, old.st_gid) != 0) {
      // Keeping the owner is a courtesy only a privileged run can extend.
    }
  }
  if (ok && sync && ::fsync(fd) != 0) {
    ok = false;
    error = errno;
  }
  if (::close(fd) != 0 && ok) {
    ok = false;
    error = errno;
  }
  if (!ok) {
    ::unlink(temp.c_str());
    failErrno(reason, error == 0 ? EIO : error);
    return {};
  }
  return temp;
}

bool putInPlace(const fs::path& temporary, const fs::path& target, bool sync, std::string* reason) {
  if (::rename(temporary.c_str(), target.c_str()) != 0) {
    const int error = errno;
    ::unlink(temporary.c_str());
    return failErrno(reason, error);
  }
  if (sync) syncFolder(folderOf(target));
  return true;
}

void removeTemporary(const fs::path& temporary) {
  ::unlink(temporary.c_str());
}

}  // namespace talkgate::config::detail
