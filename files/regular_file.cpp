// The parts of the file checks every system shares; what a path names and the read itself are
// in regular_file_posix.cpp and regular_file_win.cpp.

#include "files/regular_file.h"

#include "files/utf8_path.h"

#include <cerrno>
#include <filesystem>
#include <system_error>

namespace talkgate::files {
namespace {

constexpr std::size_t kMiB = 1024 * 1024;

}  // namespace

std::string notRegularReason(FileKind kind, int error) {
  switch (kind) {
    case FileKind::Missing:
    case FileKind::Regular:
      return "";
    case FileKind::Directory:
      return "it is a directory";
    case FileKind::Fifo:
      return "it is a FIFO (named pipe)";
    case FileKind::DeviceNode:
      return "it is a device node";
    case FileKind::Socket:
      return "it is a socket";
    case FileKind::Unreachable:
      return "it cannot be reached (" + std::generic_category().message(error == 0 ? EIO : error) +
             ")";
    case FileKind::Other:
      break;
  }
  return "it is not a regular file";
}

std::string notRegularReason(const std::string& path) {
  int error = 0;
  const FileKind kind = kindOf(path, &error);
  return notRegularReason(kind, error);
}

bool sameFile(const std::string& a, const std::string& b) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::path pathA = pathFromUtf8(a);
  const fs::path pathB = pathFromUtf8(b);
  if (fs::equivalent(pathA, pathB, ec) && !ec) return true;
  const fs::path first = fs::weakly_canonical(pathA, ec);
  if (ec) return false;
  const fs::path second = fs::weakly_canonical(pathB, ec);
  return !ec && first == second;
}

std::string sizeText(std::size_t bytes) {
  if (bytes >= kMiB && bytes % kMiB == 0) return std::to_string(bytes / kMiB) + " MiB";
  return std::to_string(bytes) + " bytes";
}

}  // namespace talkgate::files
