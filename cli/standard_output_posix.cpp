#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

#include "cli/standard_output.h"

namespace talkgate::cli {

namespace {

struct sigaction previousPipe {};

}  // namespace

void reserveStandardDescriptors() {
  for (int descriptor = 0; descriptor <= 2; ++descriptor) {
    if (::fcntl(descriptor, F_GETFD) != -1 || errno != EBADF) continue;
    // Read-only: input reads nothing, output refuses every write with EBADF as before.
    const int opened = ::open("/dev/null", O_RDONLY);
    if (opened >= 0 && opened != descriptor) {
      ::dup2(opened, descriptor);
      ::close(opened);
    }
  }
}

BrokenPipeTolerance::BrokenPipeTolerance() {
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGPIPE, &ignore, &previousPipe);
}

BrokenPipeTolerance::~BrokenPipeTolerance() {
  sigaction(SIGPIPE, &previousPipe, nullptr);
}

bool writeToDescriptor(int descriptor, const char* data, std::size_t size, std::string& problem) {
  while (size > 0) {
    const ssize_t written = ::write(descriptor, data, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      problem = written < 0 ? std::strerror(errno) : "nothing could be written";
      return false;
    }
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

}  // namespace talkgate::cli
