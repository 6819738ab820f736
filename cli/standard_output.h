#pragma once
// The process's standard output and error as talkgatectl writes them: descriptors that no file
// can take over, writes whose failure is remembered and reported, and a reader that goes away
// (a closed pipe) that cannot end an upgrade. The system calls live in one file per operating
// system (standard_output_posix.cpp); the buffering here is shared.

#include <cstddef>
#include <streambuf>
#include <string>

namespace talkgate::cli {

// Puts the null device on standard input, output and error where one is closed, so that no
// file the tool opens later (a lock file, a state file) gets descriptor 0, 1 or 2 and receives
// what is meant for the terminal. A closed output stays unwritable: its stand-in refuses
// writes, so the failure is still seen and reported.
void reserveStandardDescriptors();

// While one exists, a reader that went away (a closed pipe) no longer ends the process; the
// write fails instead (the buffer below remembers it) and the tool carries on. One at a time.
class BrokenPipeTolerance {
 public:
  BrokenPipeTolerance();
  ~BrokenPipeTolerance();
  BrokenPipeTolerance(const BrokenPipeTolerance&) = delete;
  BrokenPipeTolerance& operator=(const BrokenPipeTolerance&) = delete;
};

// Writes size bytes to the descriptor, all of them unless it fails; on failure problem names
// the reason ("Broken pipe"). Per operating system.
bool writeToDescriptor(int descriptor, const char* data, std::size_t size, std::string& problem);

// A buffered stream buffer over a standard descriptor (1 or 2). The first failed write is
// remembered; that and every later write fail, so the stream goes bad and the run can say so.
class DescriptorBuffer : public std::streambuf {
 public:
  explicit DescriptorBuffer(int descriptor) : descriptor_(descriptor) {
    setp(buffer_, buffer_ + sizeof buffer_);
  }
  ~DescriptorBuffer() override { sync(); }
  DescriptorBuffer(const DescriptorBuffer&) = delete;
  DescriptorBuffer& operator=(const DescriptorBuffer&) = delete;

  // Why the first failed write failed; empty while none did.
  const std::string& problem() const { return problem_; }

 protected:
  int_type overflow(int_type c) override;
  int sync() override;

 private:
  bool drain();

  int descriptor_;
  char buffer_[4096];
  std::string problem_;
};

}  // namespace talkgate::cli
