#pragma once
// Ctrl-C and SIGTERM (the console's Ctrl-C and Ctrl-Break on Windows) while a Talkgate is being
// programmed: counted instead of ending the program, so the upgrade can stop between two loader
// reports rather than in the middle of one. Per system: signal_counter_posix.cpp and
// signal_counter_win.cpp.

namespace talkgate::cli {

// One at a time: the handlers and the count are the process's own.
class SignalCounter {
 public:
  // Installs the counting handlers (the count starts at 0).
  SignalCounter();
  // Puts the previous handlers back.
  ~SignalCounter();
  SignalCounter(const SignalCounter&) = delete;
  SignalCounter& operator=(const SignalCounter&) = delete;

  // Signals received since construction.
  int count() const;
};

}  // namespace talkgate::cli
