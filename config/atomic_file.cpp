#include "config/atomic_file.h"

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <system_error>

#if defined(__unix__) || defined(__APPLE__)
#include <fcntl.h>
#include <unistd.h>
#define TALKGATE_HAVE_FSYNC 1
#endif

namespace fs = std::filesystem;

namespace talkgate::config {
namespace {

// A name beside the target that no other writer (thread or process) picks at the same time.
fs::path temporaryNameFor(const fs::path& target) {
  static std::atomic<unsigned> counter{0};
  static const unsigned seed = std::random_device{}();
  fs::path name = target;
  name += ".tmp-" + std::to_string(seed) + "-" + std::to_string(counter.fetch_add(1));
  return name;
}

// Pushes the file's data to the disk, so a crash right after the rename cannot leave an empty
// file under the target's name.
bool syncToDisk(const fs::path& path) {
#ifdef TALKGATE_HAVE_FSYNC
  const int fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0) return false;
  const bool synced = ::fsync(fd) == 0;
  return (::close(fd) == 0) && synced;
#else
  (void)path;
  return true;
#endif
}

fs::path resolveLink(const fs::path& path) {
  std::error_code ec;
  if (!fs::is_symlink(fs::symlink_status(path, ec))) return path;
  const fs::path resolved = fs::weakly_canonical(path, ec);
  return ec ? path : resolved;
}

// A file the user made read-only is not replaced behind their back: the rename beside it would
// succeed where opening the file itself for writing does not.
bool writableOrAbsent(const fs::path& target) {
#ifdef TALKGATE_HAVE_FSYNC
  const int fd = ::open(target.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT;
  ::close(fd);
#else
  (void)target;
#endif
  return true;
}

}  // namespace

bool writeFileAtomically(const std::string& path, std::string_view bytes) {
  if (path.empty()) return false;
  const fs::path target = resolveLink(fs::path(path));
  if (!writableOrAbsent(target)) return false;
  const fs::path temp = temporaryNameFor(target);
  std::error_code ec;

  bool written = false;
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    if (!out.is_open()) return false;
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.flush();
    written = out.good();
    out.close();
    written = written && !out.fail();
  }
  // Keep the permissions the user gave the old file.
  if (written) {
    const fs::file_status old = fs::status(target, ec);
    if (!ec && fs::exists(old)) fs::permissions(temp, old.permissions(), ec);
    ec.clear();
  }
  if (written) written = syncToDisk(temp);
  if (written) {
    fs::rename(temp, target, ec);
    written = !ec;
  }
  if (!written) fs::remove(temp, ec);
  return written;
}

bool copyFileAtomically(const std::string& source, const std::string& target) {
  if (source.empty() || target.empty()) return false;
  std::error_code ec;
  if (!fs::is_regular_file(fs::path(source), ec)) return false;
  std::ifstream in(fs::path(source), std::ios::binary);
  if (!in.is_open()) return false;
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return false;
  return writeFileAtomically(target, bytes);
}

}  // namespace talkgate::config
