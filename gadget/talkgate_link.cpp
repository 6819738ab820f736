#include "gadget/talkgate_link.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace talkgate::gadget {

namespace {

constexpr std::uint16_t kVendorId = 0x2047;
constexpr std::uint16_t kTalkgateProductId = 0x0922;
constexpr std::uint16_t kLoaderProductId = 0x0200;
constexpr std::size_t kTalkgateVendorFunction = 1;
constexpr std::size_t kLoaderVendorFunction = 0;

std::string narrow(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) out += (c >= 0x20 && c < 0x7F) ? static_cast<char>(c) : '?';
  return out;
}

GadgetDescription talkgateDescription(std::string manufacturer, std::string product,
                                      std::string serialNumber) {
  GadgetDescription d;
  d.vendorId = kVendorId;
  d.productId = kTalkgateProductId;
  d.manufacturer = std::move(manufacturer);
  d.product = std::move(product);
  d.serialNumber = std::move(serialNumber);
  d.functions = {bootKeyboardFunction("keyboard"), vendorFunction("config")};
  return d;
}

GadgetDescription loaderDescription() {
  GadgetDescription d;
  d.vendorId = kVendorId;
  d.productId = kLoaderProductId;
  d.bcdDevice = 0x0104;
  d.strings = false;  // the MSP430 USB loader has no string descriptors
  d.functions = {vendorFunction("loader")};
  return d;
}

const char* describe(Personality p) {
  switch (p) {
    case Personality::Talkgate:
      return "2047:0922 Talkgate";
    case Personality::RomLoader:
      return "2047:0200 bootstrap loader (ROM)";
    case Personality::RamLoader:
      return "2047:0200 bootstrap loader (RAM)";
    case Personality::None:
      break;
  }
  return "off the bus";
}

}  // namespace

TalkgateLink::TalkgateLink(const std::string& configfsRoot, const std::string& prefix,
                           sim::SimWorld& world, sim::VirtualBus& bus, std::string udc,
                           std::function<void(const std::string&)> say, bool verbose)
    : world_(world),
      bus_(bus),
      udc_(std::move(udc)),
      say_(std::move(say)),
      configfsRoot_(configfsRoot),
      prefix_(prefix),
      lastChange_(std::chrono::steady_clock::now()),
      verbose_(verbose),
      requestsShown_(world.talkgate().requests().size()) {}

TalkgateLink::~TalkgateLink() { release(); }

short TalkgateLink::events() const {
  return static_cast<short>(POLLIN | (toHost_.empty() ? 0 : POLLOUT));
}

void TalkgateLink::release() noexcept {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  device_.reset();
  toHost_.clear();
  gadget_.reset();  // unbinds and removes it
  bound_ = Personality::None;
  boundPath_.clear();
}

bool TalkgateLink::reconcile() {
  // A part that arrives a while after the report that set it off (the loader after command 9,
  // the Talkgate after the reset) arrives when its bus is next looked at: look, as a host does.
  if (bus_.pendingActions() > 0) bus_.enumerate(0, 0);
  Personality wanted = Personality::None;
  std::string path;
  if (world_.talkgate().pluggedIn()) {
    wanted = Personality::Talkgate;
    path = world_.talkgate().configPath();
  } else if (world_.loader().pluggedIn()) {
    wanted = world_.loader().ramLoaderRunning() ? Personality::RamLoader : Personality::RomLoader;
    path = world_.loader().path();
  }
  if (wanted == bound_ && path == boundPath_) return false;

  const std::string serial = world_.talkgate().state().serialNumber;
  release();
  if (wanted != Personality::None) {
    std::string manufacturer = "Velkor";
    std::string product = "Talkgate";
    for (const hid::DeviceInfo& info : bus_.enumerate(0, 0)) {
      if (info.path == path) {
        if (!info.manufacturer.empty()) manufacturer = narrow(info.manufacturer);
        if (!info.product.empty()) product = narrow(info.product);
      }
    }
    device_ = bus_.open(path);
    if (!device_) throw std::runtime_error("Cannot open the simulated part at " + path);
    device_->setNonBlocking(true);
    const bool talkgate = wanted == Personality::Talkgate;
    gadget_ = std::make_unique<ConfigfsGadget>(
        configfsRoot_, prefix_ + (talkgate ? "-talkgate" : "-loader"),
        talkgate ? talkgateDescription(manufacturer, product, serial) : loaderDescription());
    gadget_->bind(udc_);
    bound_ = wanted;
    boundPath_ = path;
    const std::string node =
        gadget_->functionNode(talkgate ? kTalkgateVendorFunction : kLoaderVendorFunction);
    fd_ = ::open(node.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) {
      throw std::runtime_error("Cannot open " + node + ": " + std::strerror(errno));
    }
  }
  const auto now = std::chrono::steady_clock::now();
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(now - lastChange_).count();
  lastChange_ = now;
  say_(serial + " on " + udc_ + ": " + describe(wanted) + " (" + std::to_string(ms) +
       " ms after the previous change)");
  return true;
}

void TalkgateLink::serve(short revents) {
  if (fd_ < 0 || !device_) return;
  if (revents & (POLLERR | POLLHUP | POLLNVAL)) {
    // Unbound behind our back (someone wrote the UDC file): the node is gone until the next
    // re-enumeration.
    ::close(fd_);
    fd_ = -1;
    toHost_.clear();
    return;
  }
  if (revents & POLLIN) {
    std::array<std::uint8_t, hid::kReportSize> report{};
    for (;;) {
      const ssize_t got = ::read(fd_, report.data(), report.size());
      if (got <= 0) break;
      // A write the part refuses is a part that left the bus; reconcile() sees it.
      if (device_->write(report.data(), static_cast<std::size_t>(got)) < 0) break;
    }
    if (verbose_ && bound_ == Personality::Talkgate) showRequests();
  }
  if (device_) {
    std::array<std::uint8_t, hid::kReportSize> report{};
    while (device_->read(report.data(), report.size()) > 0) toHost_.push_back(report);
  }
  flushToHost();
}

void TalkgateLink::showRequests() {
  const auto requests = world_.talkgate().requests();
  for (; requestsShown_ < requests.size(); ++requestsShown_) {
    const sim::ReceivedRequest& r = requests[requestsShown_];
    char code[8];
    std::snprintf(code, sizeof code, "%02X", r.command);
    std::string line = world_.talkgate().state().serialNumber + ": request " + code;
    for (std::uint8_t byte : r.payload) {
      std::snprintf(code, sizeof code, " %02X", byte);
      line += code;
    }
    say_(line);
  }
}

void TalkgateLink::flushToHost() {
  while (!toHost_.empty() && fd_ >= 0) {
    const ssize_t sent = ::write(fd_, toHost_.front().data(), toHost_.front().size());
    if (sent < 0 && (errno == EAGAIN || errno == EINTR)) return;  // the host has not taken the last one
    toHost_.pop_front();  // written, or lost with a host that went away
  }
}

}  // namespace talkgate::gadget
