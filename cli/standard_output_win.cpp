#include <io.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "cli/standard_output.h"

namespace talkgate::cli {

// The C runtime gives descriptors 0 to 2 to the standard handles at start even when the
// program was started without them, so no file opened later can take one.
void reserveStandardDescriptors() {}

// Windows has no SIGPIPE: a write to a pipe whose reader went away simply fails.
BrokenPipeTolerance::BrokenPipeTolerance() = default;
BrokenPipeTolerance::~BrokenPipeTolerance() = default;

bool writeToDescriptor(int descriptor, const char* data, std::size_t size, std::string& problem) {
  while (size > 0) {
    const unsigned chunk = size > INT_MAX ? INT_MAX : static_cast<unsigned>(size);
    const int written = ::_write(descriptor, data, chunk);
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
