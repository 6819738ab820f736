#include "firmware/device_watcher.h"

#include <algorithm>
#include <condition_variable>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "device/hid_port.h"

namespace talkgate::firmware {

void EnumerationDiff::poll(const DeviceWatcher::Callback& callback) {
  std::vector<std::string> now;
  for (const auto& info : hid::activePort().enumerate(vendorId_, productId_)) {
    now.push_back(info.path);
  }
  std::sort(now.begin(), now.end());
  if (primed_ && callback) {
    std::vector<std::string> gone;
    std::vector<std::string> came;
    std::set_difference(paths_.begin(), paths_.end(), now.begin(), now.end(),
                        std::back_inserter(gone));
    std::set_difference(now.begin(), now.end(), paths_.begin(), paths_.end(),
                        std::back_inserter(came));
    for (std::size_t i = 0; i < gone.size(); ++i) callback(false);
    for (std::size_t i = 0; i < came.size(); ++i) callback(true);
  }
  primed_ = true;
  paths_ = std::move(now);
}

namespace {

// Enumerates on a thread of its own. The wait between polls is real time on purpose: it paces
// a background thread, it is not a protocol wait, and a manual clock would make it spin.
class PollingWatcher : public DeviceWatcher {
 public:
  PollingWatcher(std::uint16_t vendorId, std::uint16_t productId,
                 std::chrono::milliseconds interval)
      : diff_(vendorId, productId), interval_(interval) {}
  ~PollingWatcher() override { stop(); }

  bool start(Callback callback) override {
    if (!callback || thread_.joinable()) return false;
    callback_ = std::move(callback);
    stopping_ = false;
    diff_.poll(nullptr);  // what is there now is not news
    thread_ = std::thread([this] { run(); });
    return true;
  }

  void stop() override {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
  }

 private:
  void run() {
    std::unique_lock lock(mutex_);
    while (!wake_.wait_for(lock, interval_, [this] { return stopping_; })) {
      lock.unlock();
      diff_.poll(callback_);
      lock.lock();
    }
  }

  EnumerationDiff diff_;
  std::chrono::milliseconds interval_;
  Callback callback_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  std::thread thread_;
};

// Listens to a bus that announces arrivals and removals itself (the virtual bus). Callbacks run
// on the thread that attached or detached.
class BusWatcher : public DeviceWatcher {
 public:
  BusWatcher(hid::Port& bus, std::uint16_t vendorId, std::uint16_t productId)
      : bus_(bus), vendorId_(vendorId), productId_(productId) {}
  ~BusWatcher() override { stop(); }

  bool start(Callback callback) override {
    if (!callback || listenerId_ != 0) return false;
    auto shared = std::make_shared<Shared>();
    shared->callback = std::move(callback);
    shared_ = shared;
    const std::uint16_t vid = vendorId_;
    const std::uint16_t pid = productId_;
    listenerId_ =
        bus_.subscribeHotplug([shared, vid, pid](const hid::DeviceInfo& info, bool arrived) {
          if (info.vendorId != vid || info.productId != pid) return;
          std::lock_guard lock(shared->mutex);
          if (shared->active) shared->callback(arrived);
        });
    return listenerId_ != 0;
  }

  void stop() override {
    if (listenerId_ == 0) return;
    bus_.unsubscribeHotplug(listenerId_);
    listenerId_ = 0;
    // A notification already copied by the bus may still run; make it a no-op and wait for
    // one in progress to finish.
    std::lock_guard lock(shared_->mutex);
    shared_->active = false;
  }

 private:
  struct Shared {
    std::recursive_mutex mutex;  // a callback may change the bus and so be re-entered
    bool active = true;
    Callback callback;
  };
  hid::Port& bus_;
  std::uint16_t vendorId_;
  std::uint16_t productId_;
  int listenerId_ = 0;
  std::shared_ptr<Shared> shared_;
};

}  // namespace

std::unique_ptr<DeviceWatcher> makeDeviceWatcher(std::uint16_t vendorId, std::uint16_t productId,
                                                 std::chrono::milliseconds pollInterval) {
  hid::Port& port = hid::activePort();
  if (port.announcesHotplug()) return std::make_unique<BusWatcher>(port, vendorId, productId);
  return std::make_unique<PollingWatcher>(vendorId, productId, pollInterval);
}

}  // namespace talkgate::firmware
