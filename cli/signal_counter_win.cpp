// The signal counter on Windows: Ctrl-C and Ctrl-Break in the console, through a console
// control handler (which the system calls on a thread of its own).

#include <windows.h>

#include <atomic>

#include "cli/signal_counter.h"

namespace talkgate::cli {
namespace {

std::atomic<int> received{0};

BOOL WINAPI countControl(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  received.fetch_add(1, std::memory_order_relaxed);
  return TRUE;
}

}  // namespace

SignalCounter::SignalCounter() {
  received.store(0);
  ::SetConsoleCtrlHandler(countControl, TRUE);
}

SignalCounter::~SignalCounter() {
  ::SetConsoleCtrlHandler(countControl, FALSE);
}

int SignalCounter::count() const {
  return received.load(std::memory_order_relaxed);
}

}  // namespace talkgate::cli
