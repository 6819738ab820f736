// The simulated Talkgate: the device side of the framed command protocol, with injectable
// faults. Bus calls (attach, detach) and the enter-loader handler run outside the device lock,
// because the bus calls listeners that may look at this device again.

#include "sim/sim_talkgate.h"

#include <algorithm>
#include <chrono>
#include <deque>
#include <optional>
#include <span>
#include <utility>

#include "device/clock.h"
#include "device/frame.h"

namespace talkgate::sim {
namespace {

constexpr std::uint16_t kTalkgateVendorId = 0x2047;
constexpr std::uint16_t kTalkgateProductId = 0x0922;
constexpr wchar_t kManufacturer[] = L"Velkor";
constexpr wchar_t kProduct[] = L"Talkgate";
constexpr std::size_t kShortSerial = 8;
constexpr std::size_t kLongSerial = 12;

std::wstring widen(const std::string& text) {
  return std::wstring(text.begin(), text.end());
}

// What the device does with one well-formed request.
struct Outcome {
  bool refused = false;
  bool enterLoader = false;
  std::vector<std::uint8_t> data;
};

Outcome refusal() {
  Outcome outcome;
  outcome.refused = true;
  return outcome;
}

void appendText(std::vector<std::uint8_t>& data, const std::string& text) {
  data.insert(data.end(), text.begin(), text.end());
  data.push_back(0);
}

std::vector<std::uint8_t> statusData(const TalkgateState& state) {
  const TalkgateSettings& w = state.working;
  std::vector<std::uint8_t> data{w.symbolBrightness, w.ambientConfig, w.keypadType};
  data.insert(data.end(), w.keyTable.begin(), w.keyTable.end());
  appendText(data, state.firmwareVersion);
  appendText(data, state.serialNumber);
  appendText(data, state.temperature);
  // A reply carries at most 54 data bytes; over-long texts are cut like the firmware does.
  if (data.size() > frame::kMaxReplyData) data.resize(frame::kMaxReplyData);
  return data;
}

// Applies one request to the state, as the firmware would.
Outcome execute(TalkgateState& state, std::uint8_t command, std::span<const std::uint8_t> payload) {
  const auto singleByteAtMost = [&](std::uint8_t limit) {
    return payload.size() == 1 && payload[0] <= limit;
  };
  Outcome outcome;
  switch (command) {
    case kCmdStatus:
      if (!payload.empty()) return refusal();
      outcome.data = statusData(state);
      return outcome;
    case kCmdSetSymbolBrightness:
      if (!singleByteAtMost(kMaxSymbolBrightness)) return refusal();
      state.working.symbolBrightness = payload[0];
      return outcome;
    case kCmdSetAmbientConfig:
      if (!singleByteAtMost(1)) return refusal();
      state.working.ambientConfig = payload[0];
      return outcome;
    case kCmdSetKeyTable:
      if (payload.size() != kKeyTableSize) return refusal();
      std::copy(payload.begin(), payload.end(), state.working.keyTable.begin());
      return outcome;
    case kCmdStoreDefaults:
      if (!payload.empty()) return refusal();
      state.defaults = state.working;
      return outcome;
    case kCmdFactoryReset: {
      if (!payload.empty()) return refusal();
      const TalkgateState factory = SimTalkgate::factoryState();
      state.working = factory.working;
      state.defaults = factory.defaults;
      return outcome;
    }
    case kCmdEnterLoader:
      if (!payload.empty()) return refusal();
      outcome.enterLoader = true;
      return outcome;
    case kCmdSetSerialNumber:
      if (payload.size() != kShortSerial && payload.size() != kLongSerial) return refusal();
      state.serialNumber.assign(payload.begin(), payload.end());
      return outcome;
    case kCmdSetKeypadType:
      if (!singleByteAtMost(1)) return refusal();
      state.working.keypadType = payload[0];
      return outcome;
    case kCmdAmbientValue:
      if (!payload.empty()) return refusal();
      outcome.data = {static_cast<std::uint8_t>(state.ambientValue >> 8),
                      static_cast<std::uint8_t>(state.ambientValue & 0xFF)};
      return outcome;
    default:
      return refusal();
  }
}

// The frame variations each garbling fault sends.
frame::ReplyShape shapeFor(Fault fault) {
  frame::ReplyShape shape;
  switch (fault) {
    case Fault::BadChecksum:
      shape.checksumXor = 0x01;
      break;
    case Fault::BadSizeByte:
      shape.sizeByte = 0x41;
      break;
    case Fault::WrongLength:
      shape.lengthAdjust = 2;  // points ETX into the zero padding
      break;
    case Fault::BadStatusByte:
      shape.status = 0x01;
      break;
    case Fault::MissingEtx:
      shape.replaceEtx = true;
      break;
    default:
      break;
  }
  return shape;
}

}  // namespace

struct SimTalkgate::Impl {
  struct Pending {
    frame::Report report{};
    std::chrono::milliseconds releaseAt{0};
  };

  Impl(VirtualBus& b, TalkgateState initial) : bus(b), state(std::move(initial)) {}

  VirtualBus& bus;
  mutable std::mutex mutex;  // everything below except the plug state
  TalkgateState state;
  std::deque<FaultPlan> faults;
  int unplugAfter = -1;  // host reports left before unplugging; -1 when not planned
  std::vector<ReceivedRequest> received;
  std::deque<Pending> outbox;
  std::optional<frame::Report> lastReply;
  std::function<void()> enterLoaderHandler;

  // Plugging runs bus calls whose listeners may plug or unplug again on the same thread.
  std::recursive_mutex plugMutex;
  bool plugged = false;
  std::string keyboardPath;
  std::string configPath;
  std::string location;  // the USB port; "" for a bus that does not tell

  void plugIn(std::weak_ptr<Impl> self);
  void unplug();
  bool hostWrite(const std::uint8_t* data, std::size_t length);
  int hostRead(std::uint8_t* data, std::size_t length);
  // A new handle starts without the replies an earlier one left unread.
  void dropUnreadReplies() {
    std::lock_guard lock(mutex);
    outbox.clear();
  }

 private:
  std::optional<FaultPlan> takeFault(std::uint8_t command);
  // Executes a request and queues the reply the plan asks for. Called with the lock held.
  void answer(std::uint8_t command, std::span<const std::uint8_t> payload, const FaultPlan& plan,
              bool& leaveBus, std::function<void()>& loaderHandler);
  void queue(const frame::Report& report, std::chrono::milliseconds releaseAt = {}) {
    outbox.push_back(Pending{report, releaseAt});
  }
};

namespace {

class KeyboardEndpoint : public Endpoint {
 public:
  bool hostWrite(const std::uint8_t*, std::size_t) override { return true; }
  int hostRead(std::uint8_t*, std::size_t) override { return 0; }
  std::optional<std::wstring> manufacturer() override { return std::wstring(kManufacturer); }
  std::optional<std::wstring> product() override { return std::wstring(kProduct); }
};

class ConfigEndpoint : public Endpoint {
 public:
  explicit ConfigEndpoint(std::weak_ptr<SimTalkgate::Impl> impl) : impl_(std::move(impl)) {}
  bool hostWrite(const std::uint8_t* data, std::size_t length) override {
    auto impl = impl_.lock();
    return impl && impl->hostWrite(data, length);
  }
  int hostRead(std::uint8_t* data, std::size_t length) override {
    auto impl = impl_.lock();
    return impl ? impl->hostRead(data, length) : 0;
  }
  void hostOpened() override {
    if (auto impl = impl_.lock()) impl->dropUnreadReplies();
  }
  std::optional<std::wstring> manufacturer() override { return std::wstring(kManufacturer); }
  std::optional<std::wstring> product() override { return std::wstring(kProduct); }

 private:
  std::weak_ptr<SimTalkgate::Impl> impl_;
};

}  // namespace

void SimTalkgate::Impl::plugIn(std::weak_ptr<Impl> self) {
  std::lock_guard plugLock(plugMutex);
  if (plugged) return;
  plugged = true;
  hid::DeviceInfo info;
  info.vendorId = kTalkgateVendorId;
  info.productId = kTalkgateProductId;
  info.manufacturer = kManufacturer;
  info.product = kProduct;
  {
    std::lock_guard lock(mutex);
    info.serialNumber = widen(state.serialNumber);
    outbox.clear();
  }
  info.location = location;
  info.interfaceNumber = kKeyboardInterface;
  keyboardPath = bus.attach(info, std::make_shared<KeyboardEndpoint>());
  info.interfaceNumber = kConfigInterface;
  configPath = bus.attach(info, std::make_shared<ConfigEndpoint>(std::move(self)));
}

void SimTalkgate::Impl::unplug() {
  std::lock_guard plugLock(plugMutex);
  if (!plugged) return;
  plugged = false;
  const std::string keyboard = std::exchange(keyboardPath, {});
  const std::string config = std::exchange(configPath, {});
  {
    std::lock_guard lock(mutex);
    outbox.clear();  // reports not yet read are lost with the device
  }
  bus.detach(config);
  bus.detach(keyboard);
}

std::optional<FaultPlan> SimTalkgate::Impl::takeFault(std::uint8_t command) {
  for (auto it = faults.begin(); it != faults.end(); ++it) {
    if (it->command != -1 && it->command != command) continue;
    FaultPlan plan = *it;
    if (it->times > 0 && --it->times == 0) faults.erase(it);
    return plan;
  }
  return std::nullopt;
}

bool SimTalkgate::Impl::hostWrite(const std::uint8_t* data, std::size_t length) {
  bool leaveBus = false;
  std::function<void()> loaderHandler;
  {
    std::lock_guard lock(mutex);
    if (unplugAfter > 0 && --unplugAfter == 0) {
      unplugAfter = -1;
      leaveBus = true;
    }
    const auto request = frame::decodeRequest(std::span(data, length));
    if (!request) {
      queue(frame::encodeMarker(frame::kRefusal));
    } else {
      received.push_back(
          ReceivedRequest{request->command, {request->payload.begin(), request->payload.end()}});
      const FaultPlan plan = takeFault(request->command).value_or(FaultPlan{});
      if (plan.fault == Fault::NoReply) {
        // the request is lost before the firmware sees it
      } else if (plan.fault == Fault::Refuse) {
        queue(frame::encodeMarker(frame::kRefusal));
      } else if (plan.fault == Fault::LeaveBus) {
        leaveBus = true;
      } else {
        answer(request->command, request->payload, plan, leaveBus, loaderHandler);
      }
    }
  }
  if (leaveBus) unplug();
  if (loaderHandler) loaderHandler();
  return true;
}

void SimTalkgate::Impl::answer(std::uint8_t command, std::span<const std::uint8_t> payload,
                               const FaultPlan& plan, bool& leaveBus,
                               std::function<void()>& loaderHandler) {
  const Outcome outcome = execute(state, command, payload);
  if (outcome.enterLoader) {
    leaveBus = true;  // no reply: the firmware jumps straight into its loader
    loaderHandler = enterLoaderHandler ? enterLoaderHandler : [] {};
    return;
  }
  if (outcome.refused) {
    queue(frame::encodeMarker(frame::kRefusal));
    return;
  }
  const frame::Report good = frame::encodeReply(command, outcome.data.data(), outcome.data.size());
  const frame::Report sent =
      frame::encodeReply(command, outcome.data.data(), outcome.data.size(), shapeFor(plan.fault));
  if (plan.fault == Fault::AckFirst) {
    for (int i = 0; i < plan.count; ++i) queue(frame::encodeMarker(frame::kAck));
  }
  if (plan.fault == Fault::StaleReply && lastReply) queue(*lastReply);
  std::chrono::milliseconds releaseAt{0};
  if (plan.fault == Fault::LateReply) {
    releaseAt = activeClock().now() + std::chrono::milliseconds(plan.delayMs);
  }
  queue(sent, releaseAt);
  if (plan.fault == Fault::RepeatedReply) queue(sent, releaseAt);
  lastReply = good;
}

int SimTalkgate::Impl::hostRead(std::uint8_t* data, std::size_t length) {
  std::lock_guard lock(mutex);
  if (outbox.empty() || data == nullptr || length == 0) return 0;
  if (outbox.front().releaseAt > activeClock().now()) return 0;
  const std::size_t n = std::min(length, outbox.front().report.size());
  std::copy_n(outbox.front().report.begin(), n, data);
  outbox.pop_front();
  return static_cast<int>(n);
}

}  // namespace talkgate::sim

namespace talkgate::sim {

SimTalkgate::SimTalkgate(VirtualBus& bus, TalkgateState initial, std::string location)
    : impl_(std::make_shared<Impl>(bus, std::move(initial))) {
  impl_->location = std::move(location);
  plugIn();
}

SimTalkgate::~SimTalkgate() {
  impl_->unplug();
}

void SimTalkgate::plugIn() {
  impl_->plugIn(impl_);
}

void SimTalkgate::unplug() {
  impl_->unplug();
}

bool SimTalkgate::pluggedIn() const {
  std::lock_guard lock(impl_->plugMutex);
  return impl_->plugged;
}

std::string SimTalkgate::configPath() const {
  std::lock_guard lock(impl_->plugMutex);
  return impl_->configPath;
}

TalkgateState SimTalkgate::state() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->state;
}

void SimTalkgate::setLocation(const std::string& location) {
  std::lock_guard plugLock(impl_->plugMutex);
  impl_->location = location;
}

void SimTalkgate::setState(const TalkgateState& state) {
  std::lock_guard lock(impl_->mutex);
  impl_->state = state;
}

TalkgateState SimTalkgate::factoryState() {
  return TalkgateState{};
}

void SimTalkgate::addFault(const FaultPlan& plan) {
  if (plan.times == 0 || plan.fault == Fault::None) return;
  std::lock_guard lock(impl_->mutex);
  impl_->faults.push_back(plan);
}

void SimTalkgate::clearFaults() {
  std::lock_guard lock(impl_->mutex);
  impl_->faults.clear();
  impl_->unplugAfter = -1;
}

void SimTalkgate::unplugAfterReports(int reports) {
  if (reports <= 0) {
    unplug();
    return;
  }
  std::lock_guard lock(impl_->mutex);
  impl_->unplugAfter = reports;
}

std::vector<ReceivedRequest> SimTalkgate::requests() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->received;
}

std::vector<int> SimTalkgate::commandCodes() const {
  std::vector<int> codes;
  for (const auto& request : requests()) codes.push_back(request.command);
  return codes;
}

void SimTalkgate::clearRequests() {
  std::lock_guard lock(impl_->mutex);
  impl_->received.clear();
}

void SimTalkgate::setEnterLoaderHandler(std::function<void()> handler) {
  std::lock_guard lock(impl_->mutex);
  impl_->enterLoaderHandler = std::move(handler);
}

}  // namespace talkgate::sim
