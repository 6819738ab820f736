// The simulated bootstrap loader. Reports are decoded with the loader's own wire model, written
// apart from the host's wire header, so a fault in the host's encoding shows up as a refused or
// lost report.
// Bus calls and the reset handler run outside the device lock: the bus calls listeners that
// may look at this device, and the handler plugs other devices in.

#include "sim/sim_bsl_device.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <mutex>

#include "device/clock.h"
#include "sim/bsl_wire_model.h"
#include "sim/sim_crc.h"
#include "sim/sim_ti_txt.h"

namespace talkgate::sim {
namespace {

using Report = std::array<std::uint8_t, bslwire::kReportBytes>;
using namespace bslwire;

constexpr std::size_t kMaxTxBytes = kMaxCore - 1;


}  // namespace

struct SimBslDevice::Impl {
  Impl(VirtualBus& b, BslMemoryMap l, std::string where)
      : bus(b), layout(l), location(where.empty() ? newSimLocation() : std::move(where)) {
    memory[kSimDeviceIdAt] = static_cast<std::uint8_t>(layout.deviceId >> 8);
    memory[kSimDeviceIdAt + 1] = static_cast<std::uint8_t>(layout.deviceId);
  }

  // What to do once the lock is released.
  struct Actions {
    std::string detachPath;
    bool attach = false;
    std::chrono::milliseconds attachAfter{0};  // the re-enumeration before the attach
    bool attachRam = false;
    bool plugSecondLoader = false;
    std::function<void(const BslMemory&)> handler;
    BslMemory snapshot;
  };

  VirtualBus& bus;
  const BslMemoryMap layout;
  mutable std::mutex mutex;
  std::string location;
  int arrivalsBeforeMove = 0;  // > 0: that arrival on the bus is on another port
  BslMemory memory = BslMemory(kAddressSpace, 0xFF);
  bool attached = false;
  std::string path;
  std::uint64_t generation = 0;
  bool ram = false;
  bool unlockedState = false;
  bool ramLoaderLoaded = false;
  std::uint32_t ramLoaderEnd = 0;  // one past the last byte the ROM loader wrote from 0x2500
  // Information segment A (LOCKA), after TI's F5xx/F6xx family user's guide SLAU208, flash
  // memory controller chapter ("Segment A" and FCTL3.LOCKA): set at power-up and BOR; while
  // set, segment A can be neither erased nor written; writing 1 toggles it. The loader guide
  // SLAU319 (5xx/6xx core commands) has "Unlock and Lock Info" (0x13) toggle it. A mass erase
  // erases main memory only (the guide's erase-mode table), whatever the lock.
  bool infoALocked = true;
  std::deque<Report> replies;
  std::deque<long long> replyReadyUs;  // when each reply is there, on the part's clock
  PartTiming timing;
  long long busyUntilUs = 0;  // the part's clock (us) when it is done with the last report
  long long workUs = 0;       // where the report being handled has got to

  int refusePasswords = 0;
  std::vector<std::pair<LoaderFault, int>> armedFaults;  // kind, reports to go
  bool silent = false;
  bool corruptNextFlashByte = false;
  bool failNextErase = false;
  bool pendingSilence = false;  // the next attach comes up silent
  std::optional<std::array<std::uint8_t, 4>> romVersion;
  std::vector<SimTextRun> genuineLoader;  // empty: whatever was written at 0x2500 starts
  ForeignCode foreignCode = ForeignCode::NeverStarts;
  std::unique_ptr<SimBslDevice> second;
  std::optional<BslPhase> unplugPhase;
  int unplugOccurrence = 0;
  int unplugAfter = -1;
  std::optional<std::uint32_t> corruptAddress;
  std::uint8_t corruptMask = 0;
  int refuseRamPasswords = 0;
  std::optional<std::array<std::uint8_t, 4>> versionOverride;
  int versionTimes = 0;
  int refuseVersionTimes = 0;

  std::vector<BslCommandRecord> records;
  int reports = 0;
  int massErases = 0;
  int resets = 0;
  int flashErasures = 0;
  std::function<void(const BslMemory&)> resetHandler;

  // Endpoint calls.
  bool hostWrite(std::uint64_t gen, const std::uint8_t* data, std::size_t length);
  int hostRead(std::uint64_t gen, std::uint8_t* data, std::size_t length);

  void attach(const std::shared_ptr<Impl>& self, bool ramPersonality);
  void perform(const std::shared_ptr<Impl>& self, Actions& actions);

  // Under the lock.
  void leave(Actions& actions) {
    actions.detachPath = path;
    attached = false;
    path.clear();
    ++generation;
    replies.clear();
    replyReadyUs.clear();
  }
  bool handle(const std::uint8_t* data, std::size_t length, Actions& actions);
  // The part spends this long on the report being handled.
  void busy(std::chrono::microseconds duration) { workUs += duration.count(); }
  // Blocks the writer (outside the lock) until the part takes the next report; returns the
  // part's clock (us) when the report arrived.
  long long waitUntilFree();
  // Counts the armed faults down; true when one makes the loader leave the bus now.
  bool strikeArmedFault(Actions& actions);
  std::optional<BslPhase> phaseOf(std::uint8_t command, std::uint32_t address) const;
  void reply(std::uint8_t code, const std::uint8_t* data, std::size_t length);
  void message(std::uint8_t msg) { reply(kMessageReply, &msg, 1); }
  std::uint8_t checkPassword(const std::uint8_t* core, std::size_t nl);
  std::uint8_t write(std::uint32_t address, const std::uint8_t* data, std::size_t count);
  void eraseMain() { erase(layout.mainStart, layout.mainEnd - layout.mainStart); }
  void erase(std::uint32_t start, std::uint32_t bytes) {
    const auto first = memory.begin() + start;
    if (std::any_of(first, first + bytes, [](std::uint8_t b) { return b != 0xFF; })) {
      ++flashErasures;
    }
    std::fill_n(first, bytes, 0xFF);
  }
  void reset(Actions& actions);
  // Load PC 0x2504: what starts is the RAM loader only when RAM holds it.
  void startRamCode(Actions& actions);
};

namespace {

class BslEndpoint : public Endpoint {
 public:
  BslEndpoint(std::weak_ptr<SimBslDevice::Impl> impl, std::uint64_t generation)
      : impl_(std::move(impl)), generation_(generation) {}
  bool hostWrite(const std::uint8_t* data, std::size_t length) override;
  int hostRead(std::uint8_t* data, std::size_t length) override {
    auto impl = impl_.lock();
    return impl ? impl->hostRead(generation_, data, length) : 0;
  }
  // The loader has no string descriptors.
  std::optional<std::wstring> manufacturer() override { return std::nullopt; }
  std::optional<std::wstring> product() override { return std::nullopt; }

 private:
  std::weak_ptr<SimBslDevice::Impl> impl_;
  std::uint64_t generation_;
};

}  // namespace

void SimBslDevice::Impl::attach(const std::shared_ptr<Impl>& self, bool ramPersonality) {
  std::uint64_t gen;
  hid::DeviceInfo info;
  {
    std::lock_guard lock(mutex);
    if (attached) return;
    ++generation;
    gen = generation;
    attached = true;
    ram = ramPersonality;
    unlockedState = false;
    if (!ramPersonality) infoALocked = true;  // the ROM loader starts from a locked part
    silent = ramPersonality && pendingSilence;
    pendingSilence = false;
    replies.clear();
    replyReadyUs.clear();
    if (arrivalsBeforeMove > 0 && --arrivalsBeforeMove == 0) location = newSimLocation();
    info.location = location;
  }
  info.vendorId = kVendorId;
  info.productId = kProductId;
  info.interfaceNumber = 0;
  const std::string newPath = bus.attach(info, std::make_shared<BslEndpoint>(self, gen));
  {
    std::lock_guard lock(mutex);
    if (generation == gen) {
      path = newPath;
      return;
    }
  }
  // Unplugged (or re-enumerated) by a listener during its own arrival: do not stay behind.
  bus.detach(newPath);
}

void SimBslDevice::Impl::perform(const std::shared_ptr<Impl>& self, Actions& actions) {
  if (!actions.detachPath.empty()) bus.detach(actions.detachPath);
  if (actions.attach && actions.attachAfter.count() > 0) {
    std::uint64_t gen;
    {
      std::lock_guard lock(mutex);
      gen = generation;
    }
    const bool ramPersonality = actions.attachRam;
    std::weak_ptr<Impl> weak = self;
    // Comes back only if nothing else (an unplug, a plug-in) happened to it meanwhile.
    bus.after(actions.attachAfter, [weak, gen, ramPersonality] {
      auto impl = weak.lock();
      if (!impl) return;
      {
        std::lock_guard lock(impl->mutex);
        if (impl->attached || impl->generation != gen) return;
      }
      impl->attach(impl, ramPersonality);
    });
  } else if (actions.attach) {
    attach(self, actions.attachRam);
  }
  if (actions.plugSecondLoader) {
    SimBslDevice* other;
    {
      std::lock_guard lock(mutex);
      if (!second) second = std::make_unique<SimBslDevice>(bus);
      other = second.get();
    }
    other->plugIn();  // outside the lock: the bus tells its listeners
  }
  if (actions.handler) actions.handler(actions.snapshot);
}

long long SimBslDevice::Impl::waitUntilFree() {
  Clock& clock = activeClock();
  long long until;
  {
    std::lock_guard lock(mutex);
    until = busyUntilUs;
  }
  const long long arrivedUs = clock.now().count() * 1000;
  if (until > arrivedUs) clock.sleepFor(std::chrono::milliseconds((until - arrivedUs + 999) / 1000));
  return arrivedUs;
}

bool BslEndpoint::hostWrite(const std::uint8_t* data, std::size_t length) {
  auto impl = impl_.lock();
  if (!impl) return false;
  const long long arrivedUs = impl->waitUntilFree();
  SimBslDevice::Impl::Actions actions;
  bool ok;
  {
    std::lock_guard lock(impl->mutex);
    if (!impl->attached || impl->generation != generation_) return false;
    // A report that waited is taken the moment the part is done with the last one; the
    // clock's whole milliseconds never add up over many reports.
    impl->workUs = std::max(impl->busyUntilUs, arrivedUs);
    ok = impl->handle(data, length, actions);
    impl->busyUntilUs = impl->workUs;
  }
  impl->perform(impl, actions);
  return ok;
}

int SimBslDevice::Impl::hostRead(std::uint64_t gen, std::uint8_t* data, std::size_t length) {
  std::lock_guard lock(mutex);
  if (!attached || gen != generation || replies.empty()) return 0;
  if (replyReadyUs.front() > activeClock().now().count() * 1000) return 0;  // still busy
  const std::size_t n = std::min(length, replies.front().size());
  std::memcpy(data, replies.front().data(), n);
  replies.pop_front();
  replyReadyUs.pop_front();
  return static_cast<int>(n);
}

void SimBslDevice::Impl::reply(std::uint8_t code, const std::uint8_t* data, std::size_t length) {
  Report r{};
  r[0] = kReportId;
  r[1] = static_cast<std::uint8_t>(length + 1);
  r[2] = code;
  if (length) std::memcpy(r.data() + 3, data, length);
  replies.push_back(r);
  replyReadyUs.push_back(workUs);
}

std::optional<BslPhase> SimBslDevice::Impl::phaseOf(std::uint8_t command,
                                                    std::uint32_t address) const {
  switch (command) {
    case kRxPassword:
      return ram ? BslPhase::RamPassword : BslPhase::RomPassword;
    case kRxDataBlock:
    case kRxDataBlockFast:
      if (address == kPmmCtl0) return BslPhase::Reset;
      return layout.inFlash(address) ? BslPhase::Program : BslPhase::RamData;
    case kLoadPc:
      return BslPhase::LoadPc;
    case kTxBslVersion:
      return BslPhase::Version;
    case kEraseSegment:
    case kMassErase:
      return BslPhase::Erase;
    case kCrcCheck:
      return BslPhase::CrcCheck;
    default:
      return std::nullopt;
  }
}

std::uint8_t SimBslDevice::Impl::checkPassword(const std::uint8_t* core, std::size_t nl) {
  bool right = nl == 1 + kSimPasswordBytes &&
               std::memcmp(core + 1, memory.data() + kSimPasswordAt, kSimPasswordBytes) == 0;
  if (refusePasswords > 0) {
    --refusePasswords;
    right = false;
  } else if (ram && refuseRamPasswords > 0) {
    --refuseRamPasswords;
    right = false;
  }
  if (right) {
    unlockedState = true;
    return kOk;
  }
  // A wrong password erases main flash, so the vector table (and the password) reads 0xFF.
  unlockedState = false;
  eraseMain();
  ++massErases;
  busy(timing.massErase);
  return kPasswordWrong;
}

std::uint8_t SimBslDevice::Impl::write(std::uint32_t address, const std::uint8_t* data,
                                       std::size_t count) {
  if (count == 0) return kOk;
  const std::uint32_t end = address + static_cast<std::uint32_t>(count);
  if (end > kAddressSpace) return kFlashFailBit;
  if (layout.inRam(address) && end <= layout.ramEnd) {
    // A running RAM loader that is written over its own code stops with it.
    if (ram && address < ramLoaderEnd && end > kRamLoaderBase) silent = true;
    std::memcpy(memory.data() + address, data, count);
    if (!ram && end > kRamLoaderBase && address < kRamLoaderBase + 0x1000) {
      if (address <= kRamLoaderBase) ramLoaderLoaded = true;
      ramLoaderEnd = std::max(ramLoaderEnd, end);
    }
    return kOk;
  }
  if (!ram) return kUnknownCommand;  // the ROM loader writes RAM only
  if (!layout.flashRun(address, end)) return kFlashFailBit;
  if ((address & 1u) || (count & 1u)) return kByteWriteForbidden;
  busy(timing.wordProgram * static_cast<long long>(count / 2));  // word by word
  bool checked = true;
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint32_t at = address + static_cast<std::uint32_t>(i);
    std::uint8_t& cell = memory[at];
    // A locked segment A keeps its bytes; the loader's read-back then finds the difference.
    if (!(infoALocked && layout.inInfoA(at))) cell &= data[i];  // programming only clears bits
    if (corruptNextFlashByte) {
      cell ^= 0x01;
      corruptNextFlashByte = false;
    }
    if (corruptAddress && *corruptAddress == at) cell ^= corruptMask;
    if (cell != data[i]) checked = false;
  }
  return checked ? kOk : kWriteCheckFailed;
}

void SimBslDevice::Impl::reset(Actions& actions) {
  leave(actions);
  ++resets;
  ram = false;
  ramLoaderLoaded = false;
  ramLoaderEnd = 0;
  unlockedState = false;
  infoALocked = true;
  const bool blank = memory[kSimResetVectorAt] == 0xFF && memory[kSimResetVectorAt + 1] == 0xFF;
  if (blank) {
    actions.attach = true;  // nothing to run: the part stays in its loader
    actions.attachRam = false;
    actions.attachAfter = timing.romLoaderBack;
  } else if (resetHandler) {
    actions.handler = resetHandler;
    actions.snapshot = memory;
  }
}

bool SimBslDevice::Impl::strikeArmedFault(Actions& actions) {
  bool gone = false;
  for (auto it = armedFaults.begin(); it != armedFaults.end();) {
    if (--it->second > 0) {
      ++it;
      continue;
    }
    const LoaderFault fault = it->first;
    it = armedFaults.erase(it);
    switch (fault) {
      case LoaderFault::Unplug:
        if (!gone) leave(actions);
        gone = true;
        break;
      case LoaderFault::RefusePassword:
        refusePasswords = 1;
        break;
      case LoaderFault::CorruptByte:
        corruptNextFlashByte = true;
        break;
      case LoaderFault::StopAnswering:
        silent = true;
        break;
      case LoaderFault::EraseFails:
        failNextErase = true;
        break;
      case LoaderFault::SecondLoader:
        actions.plugSecondLoader = true;
        break;
      case LoaderFault::OtherPort:
        break;  // counted in arrivals, not reports (failAtReport)
    }
  }
  return gone;
}

void SimBslDevice::Impl::startRamCode(Actions& actions) {
  const bool loaded = ramLoaderLoaded;
  leave(actions);  // either way the USB link drops
  if (!loaded) return;
  bool genuine = true;
  for (const auto& run : genuineLoader) {
    genuine = genuine && std::equal(run.bytes.begin(), run.bytes.end(), memory.begin() + run.address);
  }
  if (genuine || foreignCode == ForeignCode::NeverAnswers) {
    actions.attach = true;
    actions.attachRam = true;
    actions.attachAfter = timing.ramLoaderBack;
  }
  // Foreign code that re-enumerates is still no loader: it never answers.
  pendingSilence = !genuine;
}

bool SimBslDevice::Impl::handle(const std::uint8_t* data, std::size_t length, Actions& actions) {
  ++reports;
  if (strikeArmedFault(actions)) return false;
  if (silent) return true;  // the write reaches the device, which no longer listens
  if (unplugAfter > 0 && --unplugAfter == 0) {
    unplugAfter = -1;
    leave(actions);
    return false;
  }
  if (length < kCoreOffset + 1 || data[0] != kReportId) return true;
  const std::size_t nl = data[1];
  if (nl == 0 || nl > kMaxCore || kCoreOffset + nl > length) return true;
  const std::uint8_t* core = data + kCoreOffset;
  const std::uint8_t command = core[0];
  const std::uint32_t address = nl >= kAfterAddress ? addressAt(core) : 0;

  const auto phase = phaseOf(command, address);
  if (phase && unplugPhase == phase && --unplugOccurrence == 0) {
    unplugPhase.reset();
    leave(actions);
    return false;
  }

  BslCommandRecord record;
  record.command = command;
  record.address = address;
  record.ramLoader = ram;
  if ((command == kRxDataBlock || command == kRxDataBlockFast) && nl >= kAfterAddress)
    record.length = static_cast<std::uint32_t>(nl - kAfterAddress);
  if ((command == kCrcCheck || command == kTxDataBlock) && nl == kRangeCore)
    record.length = rangeLengthAt(core);
  records.push_back(record);

  const bool restrictedOk =
      command == kRxPassword || command == kRxDataBlockFast || command == kLoadPc;
  if (!ram && command == kTxBslVersion && romVersion) {
    reply(kDataReply, romVersion->data(), romVersion->size());
    return true;
  }
  if (!ram && !restrictedOk) {
    message(kUnknownCommand);
    return true;
  }
  const bool isProtected =
      command != kRxPassword && command != kTxBslVersion && command != kTxBufferSize;
  if (isProtected && !unlockedState) {
    if (command != kRxDataBlockFast && command != kLoadPc) message(kLocked);
    return true;
  }

  switch (command) {
    case kRxPassword:
      message(checkPassword(core, nl));
      break;
    case kRxDataBlock:
    case kRxDataBlockFast: {
      if (nl < kAfterAddress) {
        if (command == kRxDataBlock) message(kLengthTooLong);
        break;
      }
      const std::size_t count = nl - kAfterAddress;
      const std::uint8_t* bytes = core + kAfterAddress;
      if (address == kPmmCtl0 && count >= 2 && bytes[0] == 0x04 && bytes[1] == 0xA5) {
        reset(actions);  // PMMSWBOR with the PMM password: no answer, the part restarts
        break;
      }
      const std::uint8_t result = write(address, bytes, count);
      if (command == kRxDataBlock) message(result);
      break;
    }
    case kEraseSegment:
      if (failNextErase) {
        failNextErase = false;
        message(kVoltageChanged);  // the supply dipped: nothing was erased
      } else if (nl != kAfterAddress || !layout.inFlash(address)) {
        message(kFlashFailBit);
      } else {
        // A locked segment A is left as it is; the erase command reads nothing back, and the
        // flash controller sets no FAIL bit for it, so the answer is still "ok".
        if (!(infoALocked && layout.inInfoA(address))) {
          erase(layout.segmentStart(address), layout.segmentBytes(address));
        }
        busy(timing.segmentErase);
        message(kOk);
      }
      break;
    case kMassErase:
      if (failNextErase) {
        failNextErase = false;
        message(kVoltageChanged);
        break;
      }
      eraseMain();
      ++massErases;
      busy(timing.massErase);
      message(kOk);
      break;
    case kUnlockLockInfo:
      infoALocked = !infoALocked;  // a toggle, like writing 1 to LOCKA: never a set state
      message(kOk);
      break;
    case kCrcCheck:
    case kTxDataBlock: {
      const std::uint32_t count = nl == kRangeCore ? record.length : 0;
      if (count == 0 || address + count > kAddressSpace ||
          (command == kTxDataBlock && count > kMaxTxBytes)) {
        message(kLengthTooLong);
        break;
      }
      if (command == kTxDataBlock) {
        reply(kDataReply, memory.data() + address, count);
      } else {
        busy(timing.crcPerByte * static_cast<long long>(count));
        const std::uint16_t crc = simCrc16(memory.data() + address, count);
        const std::uint8_t bytes[2] = {static_cast<std::uint8_t>(crc),
                                       static_cast<std::uint8_t>(crc >> 8)};
        reply(kDataReply, bytes, 2);
      }
      break;
    }
    case kLoadPc:
      if (address == kRamLoaderEntry) {
        startRamCode(actions);
      } else {
        leave(actions);  // the USB link drops and nothing comes back
      }
      break;
    case kTxBslVersion: {
      if (refuseVersionTimes != 0) {
        if (refuseVersionTimes > 0) --refuseVersionTimes;
        message(kUnknownCommand);
        break;
      }
      std::array<std::uint8_t, 4> version;
      std::memcpy(version.data(), memory.data() + kRamLoaderBase, version.size());
      if (versionOverride && versionTimes != 0) {
        version = *versionOverride;
        if (versionTimes > 0) --versionTimes;
      }
      reply(kDataReply, version.data(), version.size());
      break;
    }
    case kTxBufferSize: {
      const std::uint8_t bytes[2] = {static_cast<std::uint8_t>(kBufferSize),
                                     static_cast<std::uint8_t>(kBufferSize >> 8)};
      reply(kDataReply, bytes, 2);
      break;
    }
    default:
      message(kUnknownCommand);
      break;
  }
  return true;
}

std::string newSimLocation() {
  static std::mutex mutex;
  static int counter = 0;
  std::lock_guard lock(mutex);
  return "sim-usb-" + std::to_string(++counter);
}

SimBslDevice::SimBslDevice(VirtualBus& bus, BslMemoryMap layout, std::string location)
    : impl_(std::make_shared<Impl>(bus, layout, std::move(location))) {}

SimBslDevice::~SimBslDevice() {
  unplug();
}

void SimBslDevice::setTiming(const PartTiming& timing) {
  std::lock_guard lock(impl_->mutex);
  impl_->timing = timing;
}

void SimBslDevice::plugIn() {
  impl_->attach(impl_, false);
}

void SimBslDevice::plugInAgain() {
  bool ram;
  {
    std::lock_guard lock(impl_->mutex);
    ram = impl_->ram;
  }
  impl_->attach(impl_, ram);
}

void SimBslDevice::unplug() {
  Impl::Actions actions;
  {
    std::lock_guard lock(impl_->mutex);
    if (!impl_->attached) return;
    impl_->leave(actions);
  }
  impl_->perform(impl_, actions);
}

bool SimBslDevice::pluggedIn() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->attached;
}

bool SimBslDevice::ramLoaderRunning() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->attached && impl_->ram;
}

bool SimBslDevice::infoSegmentALocked() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->infoALocked;
}

bool SimBslDevice::unlocked() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->unlockedState;
}

std::string SimBslDevice::path() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->path;
}

const BslMemoryMap& SimBslDevice::layout() const {
  return impl_->layout;
}

bool SimBslDevice::loadFlashImage(std::string_view tiTxt, std::string* error) {
  std::vector<SimTextRun> runs;
  if (!readSimTiTxt(tiTxt, runs, error)) return false;
  const BslMemoryMap& l = impl_->layout;
  for (const auto& run : runs) {
    if (!run.bytes.empty() && !l.flashRun(run.address, run.end())) {
      if (error) *error = "line " + std::to_string(run.line) + ": section outside flash";
      return false;
    }
  }
  std::lock_guard lock(impl_->mutex);
  auto& m = impl_->memory;
  std::fill(m.begin() + l.infoStart, m.begin() + l.infoEnd, 0xFF);
  std::fill(m.begin() + l.mainStart, m.begin() + l.mainEnd, 0xFF);
  for (const auto& run : runs)
    std::copy(run.bytes.begin(), run.bytes.end(), m.begin() + run.address);
  return true;
}

std::string SimBslDevice::flashImageText() const {
  std::vector<SimTextRun> runs;
  {
    std::lock_guard lock(impl_->mutex);
    const auto& m = impl_->memory;
    const BslMemoryMap& l = impl_->layout;
    for (auto [start, end] :
         {std::pair{l.infoStart, l.infoEnd}, std::pair{l.mainStart, l.mainEnd}}) {
      SimTextRun* open = nullptr;
      for (std::uint32_t a = start; a + 1 < end; a += 2) {
        if (m[a] == 0xFF && m[a + 1] == 0xFF) {
          open = nullptr;
          continue;
        }
        if (!open) {
          runs.push_back(SimTextRun{a, {}, 0});
          open = &runs.back();
        }
        open->bytes.push_back(m[a]);
        open->bytes.push_back(m[a + 1]);
      }
    }
  }
  return writeSimTiTxt(runs);
}

std::vector<std::uint8_t> SimBslDevice::readMemory(std::uint32_t address,
                                                   std::size_t length) const {
  std::lock_guard lock(impl_->mutex);
  if (address >= kAddressSpace) return {};
  length = std::min<std::size_t>(length, kAddressSpace - address);
  return std::vector<std::uint8_t>(impl_->memory.begin() + address,
                                   impl_->memory.begin() + address + length);
}

BslMemory SimBslDevice::memory() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->memory;
}

void SimBslDevice::writeMemory(std::uint32_t address, const std::vector<std::uint8_t>& bytes) {
  std::lock_guard lock(impl_->mutex);
  for (std::size_t i = 0; i < bytes.size() && address + i < kAddressSpace; ++i) {
    impl_->memory[address + i] = bytes[i];
  }
}

void SimBslDevice::setResetHandler(std::function<void(const BslMemory& memory)> handler) {
  std::lock_guard lock(impl_->mutex);
  impl_->resetHandler = std::move(handler);
}

void SimBslDevice::refuseNextPasswords(int count) {
  std::lock_guard lock(impl_->mutex);
  impl_->refusePasswords = count;
}

void SimBslDevice::unplugInPhase(BslPhase phase, int occurrence) {
  std::lock_guard lock(impl_->mutex);
  impl_->unplugPhase = phase;
  impl_->unplugOccurrence = std::max(occurrence, 1);
}

void SimBslDevice::unplugAfterReports(int reports) {
  std::lock_guard lock(impl_->mutex);
  impl_->unplugAfter = reports > 0 ? reports : -1;
}

void SimBslDevice::failAtReport(LoaderFault fault, int report) {
  std::lock_guard lock(impl_->mutex);
  if (fault == LoaderFault::OtherPort) {
    impl_->arrivalsBeforeMove = std::max(report, 1);
    return;
  }
  impl_->armedFaults.emplace_back(fault, std::max(report, 1));
}

void SimBslDevice::answerRomVersion(std::optional<std::array<std::uint8_t, 4>> version) {
  std::lock_guard lock(impl_->mutex);
  impl_->romVersion = version;
}

bool SimBslDevice::declareRamLoader(std::string_view tiTxt, ForeignCode foreign) {
  std::vector<SimTextRun> runs;
  if (!readSimTiTxt(tiTxt, runs, nullptr)) return false;
  std::lock_guard lock(impl_->mutex);
  impl_->genuineLoader = std::move(runs);
  impl_->foreignCode = foreign;
  return true;
}

SimBslDevice* SimBslDevice::secondLoader() {
  std::lock_guard lock(impl_->mutex);
  return impl_->second.get();
}

std::string SimBslDevice::location() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->location;
}

void SimBslDevice::corruptWhenProgrammed(std::uint32_t address, std::uint8_t mask) {
  std::lock_guard lock(impl_->mutex);
  impl_->corruptAddress = address;
  impl_->corruptMask = mask;
}

void SimBslDevice::answerVersion(std::array<std::uint8_t, 4> version, int times) {
  std::lock_guard lock(impl_->mutex);
  impl_->versionOverride = version;
  impl_->versionTimes = times;
}

void SimBslDevice::refuseVersion(int times) {
  std::lock_guard lock(impl_->mutex);
  impl_->refuseVersionTimes = times;
}

void SimBslDevice::refuseRamLoaderPasswords(int count) {
  std::lock_guard lock(impl_->mutex);
  impl_->refuseRamPasswords = count;
}

void SimBslDevice::clearFaults() {
  std::lock_guard lock(impl_->mutex);
  impl_->refusePasswords = 0;
  impl_->refuseRamPasswords = 0;
  impl_->refuseVersionTimes = 0;
  impl_->unplugPhase.reset();
  impl_->unplugAfter = -1;
  impl_->corruptAddress.reset();
  impl_->armedFaults.clear();
  impl_->silent = false;
  impl_->corruptNextFlashByte = false;
  impl_->failNextErase = false;
  impl_->pendingSilence = false;
  impl_->versionOverride.reset();
  impl_->versionTimes = 0;
}

std::vector<BslCommandRecord> SimBslDevice::commands() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->records;
}

void SimBslDevice::clearCommands() {
  std::lock_guard lock(impl_->mutex);
  impl_->records.clear();
  impl_->reports = 0;
}

int SimBslDevice::reportsReceived() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->reports;
}

int SimBslDevice::massErases() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->massErases;
}

int SimBslDevice::flashErasures() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->flashErasures;
}

int SimBslDevice::resets() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->resets;
}

}  // namespace talkgate::sim
