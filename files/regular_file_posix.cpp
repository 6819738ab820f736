// The file checks on POSIX systems: stat for what a path names, and a non-blocking open so a
// FIFO or terminal never holds the read up.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "files/regular_file.h"

namespace talkgate::files {
namespace {

constexpr std::size_t kReadChunk = 64 * 1024;

FileKind kindOfMode(mode_t mode) {
  if (S_ISREG(mode)) return FileKind::Regular;
  if (S_ISDIR(mode)) return FileKind::Directory;
  if (S_ISFIFO(mode)) return FileKind::Fifo;
  if (S_ISCHR(mode) || S_ISBLK(mode)) return FileKind::DeviceNode;
  if (S_ISSOCK(mode)) return FileKind::Socket;
  return FileKind::Other;
}

std::string errnoText(int error) {
  if (error == ENOENT) return "it does not exist";
  return std::generic_category().message(error);
}

// Closes the descriptor however the read ends.
class FdCloser {
 public:
  explicit FdCloser(int fd) : fd_(fd) {}
  ~FdCloser() { ::close(fd_); }
  FdCloser(const FdCloser&) = delete;
  FdCloser& operator=(const FdCloser&) = delete;

 private:
  int fd_;
};

}  // namespace

FileKind kindOf(const std::string& path, int* error) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) {
    // Only these say that nothing is there; any other failure hides what is.
    if (errno == ENOENT || errno == ENOTDIR) return FileKind::Missing;
    if (error) *error = errno;
    return FileKind::Unreachable;
  }
  return kindOfMode(info.st_mode);
}

bool readRegularFile(const std::string& path, std::size_t maxBytes, std::string& bytes,
                     std::string& reason) {
  bytes.clear();
  if (path.empty()) {
    reason = "no file name was given";
    return false;
  }
  // Looked at before opening, since opening a device node may already act on the device.
  int error = 0;
  const FileKind kind = kindOf(path, &error);
  if (kind != FileKind::Regular && kind != FileKind::Missing) {
    reason = notRegularReason(kind, error);
    return false;
  }
  // O_NONBLOCK: should the path become a FIFO meanwhile, the open still returns at once.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    reason = errnoText(errno);
    return false;
  }
  FdCloser closer(fd);
  struct stat info {};
  if (::fstat(fd, &info) != 0) {
    reason = errnoText(errno);
    return false;
  }
  if (!S_ISREG(info.st_mode)) {
    reason = notRegularReason(kindOfMode(info.st_mode));
    return false;
  }
  const std::string tooLarge = "it is larger than " + sizeText(maxBytes);
  if (static_cast<std::size_t>(info.st_size) > maxBytes) {
    reason = tooLarge;
    return false;
  }
  std::string read;
  read.reserve(static_cast<std::size_t>(info.st_size));
  char chunk[kReadChunk];
  for (;;) {
    const ssize_t got = ::read(fd, chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      reason = errnoText(errno);
      return false;
    }
    if (got == 0) break;
    // A file that grows while it is read is held to the same cap.
    if (read.size() + static_cast<std::size_t>(got) > maxBytes) {
      reason = tooLarge;
      return false;
    }
    read.append(chunk, static_cast<std::size_t>(got));
  }
  bytes = std::move(read);
  reason.clear();
  return true;
}

}  // namespace talkgate::files
