// The in-memory HID bus. Endpoints and listeners are always called without the bus lock held,
// so they may attach or detach interfaces (and so re-enter the bus) from their callbacks.

#include "sim/virtual_bus.h"

#include <algorithm>
#include <atomic>

#include "device/clock.h"

namespace talkgate::sim {

struct VirtualBus::State {
  struct Entry {
    hid::DeviceInfo info;
    std::shared_ptr<Endpoint> endpoint;
  };

  mutable std::mutex mutex;
  std::vector<Entry> entries;  // attach order
  std::map<std::string, hid::OpenError> openErrors;
  std::map<int, Listener> listeners;
  int nextListenerId = 1;
  std::uint64_t nextPathNumber = 1;  // paths are never reused, like re-enumerated devices
  std::atomic<std::uint64_t> written{0};
  std::atomic<std::uint64_t> read{0};
  std::shared_ptr<const std::function<void()>> writeObserver;  // under mutex

  void hostWrote() {
    std::shared_ptr<const std::function<void()>> observer;
    {
      std::lock_guard lock(mutex);
      observer = writeObserver;
    }
    if (observer) (*observer)();
  }

  struct Timed {
    int id = 0;
    std::function<void()> action;
  };
  std::multimap<long long, Timed> timed;  // by the clock's ms at which each falls due
  int nextTimedId = 1;

  // Runs the due actions one by one, earliest first, without the lock: they attach and detach.
  void runDue() {
    for (;;) {
      std::function<void()> action;
      {
        std::lock_guard lock(mutex);
        if (timed.empty() || timed.begin()->first > activeClock().now().count()) return;
        action = std::move(timed.begin()->second.action);
        timed.erase(timed.begin());
      }
      action();
    }
  }

  // The endpoint attached at path, or nullptr once it has been detached.
  std::shared_ptr<Endpoint> endpointAt(const std::string& path) const {
    std::lock_guard lock(mutex);
    for (const Entry& entry : entries) {
      if (entry.info.path == path) return entry.endpoint;
    }
    return nullptr;
  }

  std::vector<Listener> listenerCopies() const {
    std::lock_guard lock(mutex);
    std::vector<Listener> copies;
    for (const auto& [id, listener] : listeners) copies.push_back(listener);
    return copies;
  }

  void notify(const hid::DeviceInfo& info, bool arrived) const {
    for (const Listener& listener : listenerCopies()) listener(info, arrived);
  }
};

namespace {

// A handle on one attached interface. It keeps the bus state alive, so it stays safe to use
// (failing with -1) after the interface was detached or the bus destroyed.
class VirtualDevice : public hid::Device {
 public:
  VirtualDevice(std::shared_ptr<VirtualBus::State> state, std::string path)
      : state_(std::move(state)), path_(std::move(path)) {}

  int write(const std::uint8_t* data, std::size_t length) override {
    state_->runDue();
    std::shared_ptr<Endpoint> endpoint = state_->endpointAt(path_);
    if (!endpoint || data == nullptr) return -1;
    const bool taken = endpoint->hostWrite(data, length);
    if (taken) ++state_->written;
    state_->hostWrote();
    return taken ? static_cast<int>(length) : -1;
  }

  // Reads never block on the virtual bus: time moves through the active clock, which the
  // caller's polling advances.
  int read(std::uint8_t* data, std::size_t length) override {
    state_->runDue();
    std::shared_ptr<Endpoint> endpoint = state_->endpointAt(path_);
    if (!endpoint || data == nullptr) return -1;
    const int received = endpoint->hostRead(data, length);
    if (received > 0) ++state_->read;
    // The endpoint may have left the bus while answering.
    if (received == 0 && !state_->endpointAt(path_)) return -1;
    return received;
  }

  int setNonBlocking(bool /*nonBlocking*/) override { return state_->endpointAt(path_) ? 0 : -1; }

  bool manufacturerString(std::wstring& out) override {
    std::shared_ptr<Endpoint> endpoint = state_->endpointAt(path_);
    if (!endpoint) return false;
    auto text = endpoint->manufacturer();
    if (!text) return false;
    out = *text;
    return true;
  }

  bool productString(std::wstring& out) override {
    std::shared_ptr<Endpoint> endpoint = state_->endpointAt(path_);
    if (!endpoint) return false;
    auto text = endpoint->product();
    if (!text) return false;
    out = *text;
    return true;
  }

 private:
  std::shared_ptr<VirtualBus::State> state_;
  std::string path_;
};

}  // namespace

VirtualBus::VirtualBus() : state_(std::make_shared<State>()) {}

// Handles may outlive the bus; with no interfaces left they fail like unplugged devices.
// Listeners are not told: their owners are being torn down too.
VirtualBus::~VirtualBus() {
  std::vector<State::Entry> entries;
  std::multimap<long long, State::Timed> timed;  // never run: their devices go with the bus
  {
    std::lock_guard lock(state_->mutex);
    entries.swap(state_->entries);
    state_->listeners.clear();
    timed.swap(state_->timed);
  }
}

std::string VirtualBus::attach(hid::DeviceInfo info, std::shared_ptr<Endpoint> endpoint) {
  {
    std::lock_guard lock(state_->mutex);
    info.path = "sim:" + std::to_string(state_->nextPathNumber++);
    state_->entries.push_back(State::Entry{info, std::move(endpoint)});
  }
  state_->notify(info, true);
  return info.path;
}

void VirtualBus::detach(const std::string& path) {
  std::optional<hid::DeviceInfo> removed;
  std::shared_ptr<Endpoint> endpoint;  // released after the lock, in case its destructor re-enters
  {
    std::lock_guard lock(state_->mutex);
    auto it = std::find_if(state_->entries.begin(), state_->entries.end(),
                           [&](const State::Entry& entry) { return entry.info.path == path; });
    if (it == state_->entries.end()) return;
    removed = it->info;
    endpoint = std::move(it->endpoint);
    state_->entries.erase(it);
  }
  state_->notify(*removed, false);
}

std::vector<hid::DeviceInfo> VirtualBus::devices() const {
  std::lock_guard lock(state_->mutex);
  std::vector<hid::DeviceInfo> result;
  for (const State::Entry& entry : state_->entries) result.push_back(entry.info);
  return result;
}

void VirtualBus::setOpenError(const std::string& path, hid::OpenError error) {
  std::lock_guard lock(state_->mutex);
  if (error == hid::OpenError::None) {
    state_->openErrors.erase(path);
  } else {
    state_->openErrors[path] = error;
  }
}

int VirtualBus::addListener(Listener listener) {
  std::lock_guard lock(state_->mutex);
  const int id = state_->nextListenerId++;
  state_->listeners.emplace(id, std::move(listener));
  return id;
}

void VirtualBus::removeListener(int id) {
  std::lock_guard lock(state_->mutex);
  state_->listeners.erase(id);
}

void VirtualBus::setWriteObserver(std::function<void()> observer) {
  std::lock_guard lock(state_->mutex);
  state_->writeObserver =
      observer ? std::make_shared<const std::function<void()>>(std::move(observer)) : nullptr;
}

int VirtualBus::after(std::chrono::milliseconds delay, std::function<void()> action) {
  const long long due = (activeClock().now() + delay).count();
  std::lock_guard lock(state_->mutex);
  const int id = state_->nextTimedId++;
  state_->timed.emplace(due, State::Timed{id, std::move(action)});
  return id;
}

void VirtualBus::cancel(int id) {
  std::lock_guard lock(state_->mutex);
  for (auto it = state_->timed.begin(); it != state_->timed.end(); ++it) {
    if (it->second.id == id) {
      state_->timed.erase(it);
      return;
    }
  }
}

std::size_t VirtualBus::pendingActions() const {
  std::lock_guard lock(state_->mutex);
  return state_->timed.size();
}

std::uint64_t VirtualBus::reportsWritten() const {
  return state_->written.load();
}

std::uint64_t VirtualBus::reportsRead() const {
  return state_->read.load();
}

void VirtualBus::resetCounters() {
  state_->written = 0;
  state_->read = 0;
}

int VirtualBus::init() {
  return 0;
}

std::vector<hid::DeviceInfo> VirtualBus::enumerate(std::uint16_t vendorId,
                                                   std::uint16_t productId) {
  state_->runDue();
  std::vector<hid::DeviceInfo> result;
  for (hid::DeviceInfo& info : devices()) {
    if ((vendorId == 0 || info.vendorId == vendorId) &&
        (productId == 0 || info.productId == productId)) {
      result.push_back(std::move(info));
    }
  }
  return result;
}

std::unique_ptr<hid::Device> VirtualBus::open(const std::string& path, hid::OpenError* error) {
  state_->runDue();
  hid::OpenError reason = hid::OpenError::None;
  std::shared_ptr<Endpoint> endpoint;
  {
    std::lock_guard lock(state_->mutex);
    auto forced = state_->openErrors.find(path);
    const auto entry =
        std::find_if(state_->entries.begin(), state_->entries.end(),
                     [&](const State::Entry& candidate) { return candidate.info.path == path; });
    if (forced != state_->openErrors.end()) {
      reason = forced->second;
    } else if (entry == state_->entries.end()) {
      reason = hid::OpenError::NotFound;
    } else {
      endpoint = entry->endpoint;
    }
  }
  if (error) *error = reason;
  if (reason != hid::OpenError::None) return nullptr;
  endpoint->hostOpened();  // outside the bus lock: endpoints may call back into the bus
  return std::make_unique<VirtualDevice>(state_, path);
}

int VirtualBus::exit() {
  return 0;
}

}  // namespace talkgate::sim
