// The process's choice of active HID port.

#include "device/hid_port.h"

#include <atomic>

namespace talkgate::hid {
namespace {

std::atomic<Port*> g_activePort{nullptr};

}  // namespace

Port& activePort() {
  Port* port = g_activePort.load();
  return port ? *port : systemPort();
}

void setActivePort(Port* port) {
  g_activePort.store(port);
}

ScopedPort::ScopedPort(Port& port) : previous_(g_activePort.exchange(&port)) {}
ScopedPort::~ScopedPort() { g_activePort.store(previous_); }

}  // namespace talkgate::hid
