#pragma once
// Faults the tests provoke through the system, one file per system (system_faults_posix.cpp,
// system_faults_win.cpp). Where a system has no such thing, supported() is false and says why,
// and the test is skipped with that reason.

#include <string>

namespace talkgate::faults {

// Writes beyond `bytes` fail, as on a full disk (the file size limit, on POSIX systems).
class FileSizeLimit {
 public:
  explicit FileSizeLimit(unsigned long bytes);
  ~FileSizeLimit();
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

  static bool supported();
  static const char* unsupportedReason();

 private:
  unsigned long long previous_ = 0;
  bool set_ = false;
};

// Makes a FIFO (named pipe) at path; false where the file system holds none.
bool makeFifo(const std::string& path);
inline constexpr char kNoFifoReason[] = "Windows keeps no FIFO (named pipe) in a folder";

}  // namespace talkgate::faults
