// The signal counter on POSIX systems: sigaction handlers for SIGINT and SIGTERM.

#include "cli/signal_counter.h"

#include <atomic>
#include <csignal>

namespace talkgate::cli {

namespace {

// The handler may only touch a lock-free atomic: anything else is unsafe in a signal handler.
std::atomic<int> received{0};
static_assert(std::atomic<int>::is_always_lock_free);

struct sigaction previousInt {};
struct sigaction previousTerm {};

extern "C" void countSignal(int) {
  received.fetch_add(1, std::memory_order_relaxed);
}

}  // namespace

SignalCounter::SignalCounter() {
  received.store(0);
  struct sigaction action {};
  action.sa_handler = countSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;  // a read or write in progress carries on
  sigaction(SIGINT, &action, &previousInt);
  sigaction(SIGTERM, &action, &previousTerm);
}

SignalCounter::~SignalCounter() {
  sigaction(SIGINT, &previousInt, nullptr);
  sigaction(SIGTERM, &previousTerm, nullptr);
}

int SignalCounter::count() const {
  return received.load(std::memory_order_relaxed);
}

}  // namespace talkgate::cli
