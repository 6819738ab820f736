// The parts of the file checks every system shares; what a path names and the read itself are
// in regular_file_posix.cpp and regular_file_win.cpp.

#include "files/regular_file.h"

namespace talkgate::files {
namespace {

constexpr std::size_t kMiB = 1024 * 1024;

}  // namespace

std::string notRegularReason(FileKind kind) {
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
    case FileKind::Other:
      break;
  }
  return "it is not a regular file";
}

std::string notRegularReason(const std::string& path) {
  return notRegularReason(kindOf(path));
}

std::string sizeText(std::size_t bytes) {
  if (bytes >= kMiB && bytes % kMiB == 0) return std::to_string(bytes / kMiB) + " MiB";
  return std::to_string(bytes) + " bytes";
}

}  // namespace talkgate::files
