#include "config/atomic_file.h"

#include <atomic>
#include <filesystem>
#include <mutex>
#include <random>
#include <thread>

#include "config/atomic_file_os.h"
#include "files/regular_file.h"
#include "files/utf8_path.h"

namespace fs = std::filesystem;

namespace talkgate::config {
namespace detail {

bool fail(std::string* reason, const std::string& text) {
  if (reason) *reason = text;
  return false;
}

}  // namespace detail

namespace {

constexpr int kMaxLinkDepth = 40;

std::mutex busyWaitMutex;
BusyWait busyWaitFunction;

// The file a chain of symbolic links ends at; path itself when it is no link.
fs::path resolveLinks(const fs::path& path) {
  fs::path current = path;
  std::error_code ec;
  for (int depth = 0; depth < kMaxLinkDepth; ++depth) {
    if (!fs::is_symlink(fs::symlink_status(current, ec))) return current;
    const fs::path next = fs::read_symlink(current, ec);
    if (ec) return current;
    current = next.is_absolute() ? next : current.parent_path() / next;
  }
  return current;
}

fs::path folderOf(const fs::path& target) {
  return target.has_parent_path() ? target.parent_path() : fs::path(".");
}

std::string temporaryPrefix(const fs::path& target) {
  return files::utf8Of(target.filename()) + kTemporaryMarker;
}

}  // namespace

fs::path detail::temporaryNameFor(const fs::path& target) {
  static std::atomic<unsigned> counter{0};
  static const unsigned seed = std::random_device{}();
  return folderOf(target) /
         files::pathFromUtf8(temporaryPrefix(target) + std::to_string(currentProcessId()) + "-" +
                             std::to_string(seed) + "-" + std::to_string(counter.fetch_add(1)));
}

void setBusyWait(BusyWait wait) {
  const std::lock_guard<std::mutex> lock(busyWaitMutex);
  busyWaitFunction = std::move(wait);
}

void busyWait(std::chrono::milliseconds pause) {
  BusyWait wait;
  {
    const std::lock_guard<std::mutex> lock(busyWaitMutex);
    wait = busyWaitFunction;
  }
  if (wait) {
    wait(pause);
  } else {
    std::this_thread::sleep_for(pause);
  }
}

void removeStaleTemporaries(const std::string& path) {
  const fs::path target = resolveLinks(files::pathFromUtf8(path));
  const std::string prefix = temporaryPrefix(target);
  const long self = detail::currentProcessId();
  std::error_code ec;
  for (fs::directory_iterator it(folderOf(target), ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = files::utf8Of(it->path().filename());
    if (name.rfind(prefix, 0) != 0) continue;
    const std::string rest = name.substr(prefix.size());
    long pid = 0;
    std::size_t digits = 0;
    while (digits < rest.size() && rest[digits] >= '0' && rest[digits] <= '9' && digits < 10) {
      pid = pid * 10 + (rest[digits] - '0');
      ++digits;
    }
    if (digits == 0 || pid == self || !detail::processGone(pid)) continue;
    std::error_code ignored;
    fs::remove(it->path(), ignored);
  }
}

PreparedFile::~PreparedFile() {
  discard();
}

void PreparedFile::discard() {
  if (!temporary_.empty()) detail::removeTemporary(temporary_);
  temporary_.clear();
  target_.clear();
}

bool PreparedFile::prepare(const std::string& path, std::string_view bytes, std::string* reason,
                           const WriteOptions& options) {
  discard();
  if (path.empty()) return detail::fail(reason, "no file name was given");
  if (bytes.size() > options.maxBytes) {
    return detail::fail(reason, "it would be larger than " + files::sizeText(options.maxBytes) +
                                    ", more than the program reads back");
  }
  const fs::path target = resolveLinks(files::pathFromUtf8(path));
  int error = 0;
  const files::FileKind kind = files::kindOf(files::utf8Of(target), &error);
  if (kind != files::FileKind::Regular && kind != files::FileKind::Missing) {
    return detail::fail(reason, files::notRegularReason(kind, error));
  }
  temporary_ = detail::writeTemporary(target, kind == files::FileKind::Regular, bytes,
                                      options.syncToDisk, reason);
  if (temporary_.empty()) return false;
  target_ = target;
  syncToDisk_ = options.syncToDisk;
  return true;
}

bool PreparedFile::commit(std::string* reason) {
  if (temporary_.empty()) return detail::fail(reason, "nothing was prepared");
  const bool done = detail::putInPlace(temporary_, target_, syncToDisk_, reason);
  temporary_.clear();
  target_.clear();
  return done;
}

bool writeFileAtomically(const std::string& path, std::string_view bytes, std::string* reason,
                         const WriteOptions& options) {
  PreparedFile file;
  return file.prepare(path, bytes, reason, options) && file.commit(reason);
}

bool copyFileAtomically(const std::string& source, const std::string& target, std::size_t maxBytes,
                        std::string* reason) {
  std::string bytes;
  std::string why;
  if (!files::readRegularFile(source, maxBytes, bytes, why)) return detail::fail(reason, why);
  return writeFileAtomically(target, bytes, reason);
}

}  // namespace talkgate::config
