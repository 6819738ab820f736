#include "tests/support/system_faults.h"

namespace talkgate::faults {

FileSizeLimit::FileSizeLimit(unsigned long) {}

FileSizeLimit::~FileSizeLimit() = default;

bool FileSizeLimit::supported() {
  return false;
}

const char* FileSizeLimit::unsupportedReason() {
  return "Windows has no per-process file size limit to stand in for a full disk";
}

bool makeFifo(const std::string&) {
  return false;
}

}  // namespace talkgate::faults
