#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>

#include "tests/support/system_faults.h"

namespace talkgate::faults {
namespace {

void (*previousHandler)(int) = SIG_DFL;

}  // namespace

FileSizeLimit::FileSizeLimit(unsigned long bytes) {
  previousHandler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit limit{};
  getrlimit(RLIMIT_FSIZE, &limit);
  previous_ = limit.rlim_cur;
  limit.rlim_cur = bytes;
  set_ = setrlimit(RLIMIT_FSIZE, &limit) == 0;
}

FileSizeLimit::~FileSizeLimit() {
  rlimit limit{};
  getrlimit(RLIMIT_FSIZE, &limit);
  limit.rlim_cur = static_cast<rlim_t>(previous_);
  if (set_) setrlimit(RLIMIT_FSIZE, &limit);
  std::signal(SIGXFSZ, previousHandler);
}

bool FileSizeLimit::supported() {
  return true;
}

const char* FileSizeLimit::unsupportedReason() {
  return "";
}

bool makeFifo(const std::string& path) {
  return ::mkfifo(path.c_str(), 0644) == 0;
}

}  // namespace talkgate::faults
