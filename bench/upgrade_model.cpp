#include "bench/upgrade_model.h"

#include <optional>

#include "bench/upgrade_run.h"
#include "device/clock.h"
#include "device/hid_port.h"
#include "device/return_wait.h"
#include "device/transport.h"
#include "firmware/bsl430.h"
#include "firmware/bsl_wire.h"
#include "firmware/firmware_upgrade_restore.h"
#include "firmware/programming_sequence.h"
#include "sim/sim_world.h"
#include "sim/virtual_bus.h"

namespace talkgate::bench {
namespace {

// What the upgrade window does after "Done!": looks for the Talkgate every paint slice, for at
// most the old fixed wait, once the loader has left.
constexpr std::chrono::milliseconds kTalkgatePollMs{50};

// Progress values at which stages from the RAM loader to the reset begin: the first report of
// at least this value ("Sending RAM BSL" 20, or 45 when a RAM loader already runs).
constexpr std::array<int, 5> kStageStartPercent = {20, 60, 70, 75, 85};
constexpr int kLoaderClosedPercent = 30;  // "Done RAM BSL": the wait for its return begins
constexpr int kLoaderBackPercent = 45;

struct Mark {
  ReportCount reports;
  long long clockMs = 0;
};

class Timeline {
 public:
  Timeline(sim::VirtualBus& bus, Clock& clock) : bus_(bus), clock_(clock) { marks_[0] = now(); }

  Mark now() const { return {{bus_.reportsWritten(), bus_.reportsRead()}, clock_.now().count()}; }

  void onProgress(int percent) {
    for (std::size_t i = 0; i < kStageStartPercent.size(); ++i) {
      if (percent >= kStageStartPercent[i] && !marks_[i + 1]) marks_[i + 1] = now();
    }
    if (percent >= kLoaderClosedPercent && !closed_) closed_ = now();
    if (percent >= kLoaderBackPercent && !back_) back_ = now();
  }
  // Marks the start of the stage (and of every earlier one not yet begun).
  void begin(Stage stage) {
    for (std::size_t i = 0; i <= static_cast<std::size_t>(stage); ++i) {
      if (!marks_[i]) marks_[i] = now();
    }
  }
  void end() { marks_.back() = now(); }

  StageFigures stage(Stage stage) const {
    const auto i = static_cast<std::size_t>(stage);
    if (!marks_[i] || !marks_[i + 1]) return {};
    const Mark& a = *marks_[i];
    const Mark& b = *marks_[i + 1];
    return {{b.reports.written - a.reports.written, b.reports.read - a.reports.read},
            b.clockMs - a.clockMs};
  }
  long long ramLoaderWaitMs() const {
    return closed_ && back_ ? back_->clockMs - closed_->clockMs : 0;
  }

 private:
  sim::VirtualBus& bus_;
  Clock& clock_;
  std::array<std::optional<Mark>, kStageCount + 1> marks_{};
  std::optional<Mark> closed_;
  std::optional<Mark> back_;
};

firmware::UpgradeSettings snapshotOf(const sim::TalkgateState& state) {
  firmware::UpgradeSettings s;
  s.keypadType = state.working.keypadType;
  for (std::size_t i = 0; i < state.working.keyTable.size() && i < s.key_codes.size(); ++i) {
    s.key_codes[i] = state.working.keyTable[i];
  }
  s.serialNumber = state.serialNumber;
  s.led2Brightness_jo = state.working.symbolBrightness;
  s.led1Brightness_jo = state.working.ambientConfig;
  return s;
}

FlashWork flashWorkOf(const sim::SimBslDevice& loader) {
  FlashWork work;
  work.massErases = loader.massErases();  // commanded, and those of refused passwords
  for (const auto& c : loader.commands()) {
    if (c.command == firmware::bsl::kCmdEraseSegment) ++work.segmentErases;
    const bool data = c.command == firmware::bsl::kCmdRxDataBlock || c.command == firmware::bsl::kCmdRxDataBlockFast;
    if (data && c.ramLoader && loader.layout().inFlash(c.address)) {
      work.wordsProgrammed += (c.length + 1) / 2;
    }
  }
  return work;
}

}  // namespace

const char* stageName(Stage stage) {
  static constexpr std::array<const char*, kStageCount> names = {
      "password", "RAM loader", "erase",         "send",
      "verify",   "reset",      "Talkgate back", "settings written back"};
  return names[static_cast<std::size_t>(stage)];
}

double StageFigures::ms() const {
  return static_cast<double>(clockMs) + bench::wireMs(reports);
}

double FlashWork::ms(const sim::PartTiming& t) const {
  const double us = static_cast<double>(segmentErases) * static_cast<double>(t.segmentErase.count()) +
                    static_cast<double>(massErases) * static_cast<double>(t.massErase.count()) +
                    static_cast<double>(wordsProgrammed) * static_cast<double>(t.wordProgram.count());
  return us / 1000.0;
}

double TimedRun::predictedMs() const {
  double sum = 0;
  for (const auto& s : stages) sum += s.ms();
  return sum;
}

double TimedRun::wireMs() const {
  double sum = 0;
  for (const auto& s : stages) sum += bench::wireMs(s.reports);
  return sum;
}

double TimedRun::fixedWaitsMs() const {
  const auto& back = stages[static_cast<std::size_t>(Stage::TalkgateBack)];
  return predictedMs() - static_cast<double>(ramLoaderWaitMs + back.clockMs) +
         static_cast<double>(kOldRamLoaderWaitMs + kOldTalkgateWaitMs);
}

TimedRun runTimedUpgrade(const BenchImage& installed, const BenchImage& image,
                         const std::string& path, const sim::PartTiming& timing) {
  TimedRun run;
  ManualClock clock;
  ScopedClock scopedClock(clock);
  sim::VirtualBus bus;
  hid::ScopedPort usePort(bus);
  sim::SimWorldOptions options;
  options.initialImage = installed.text;
  options.plugIn = false;  // the Talkgate has already switched to its loader
  options.timing = timing;
  sim::SimWorld world(bus, options);
  world.loader().plugIn();
  const firmware::UpgradeSettings snapshot = snapshotOf(world.talkgate().state());
  bus.resetCounters();

  firmware::FirmwareProgrammer programmer;
  Timeline timeline(bus, clock);
  std::string log;
  const bool upgraded =
      programmer.CustomSelectedFirmware(path, [&](int percent, const std::string& message) {
        timeline.onProgress(percent);
        log += message;
      });
  firmware::BSL_close_BSL();
  timeline.begin(Stage::TalkgateBack);
  if (!upgraded) {
    run.failure = "upgrade failed: " + log;
    return run;
  }

  const auto listed = [&bus](int vid, int pid) {
    return !bus.enumerate(static_cast<std::uint16_t>(vid), static_cast<std::uint16_t>(pid)).empty();
  };
  ReturnPoll poll;
  poll.timeout = std::chrono::milliseconds(kOldTalkgateWaitMs);
  poll.interval = kTalkgatePollMs;
  poll.gone = [&] { return !listed(firmware::bsl::kLoaderVendorId, firmware::bsl::kLoaderProductId); };
  poll.back = [&] { return listed(kVendorId, kProductId); };
  if (waitForReturn(poll) != ReturnWait::Back) {
    run.failure = "the Talkgate did not come back";
    return run;
  }
  char manufacturer[kDeviceStringBuffer] = {};
  char product[kDeviceStringBuffer] = {};
  DeviceHandle device = ScanForUSBDevice_a(kVendorId, kProductId, manufacturer, product);
  timeline.begin(Stage::Settings);
  if (device == nullptr) {
    run.failure = "the Talkgate cannot be opened";
    return run;
  }
  const bool restored = firmware::restoreSerialNumber(device, snapshot) == kOk &&
                        firmware::restoreSettings(device, snapshot).failedIndex < 0;
  hid_exit_safely(device);
  timeline.end();

  for (std::size_t i = 0; i < kStageCount; ++i) run.stages[i] = timeline.stage(Stage(i));
  run.ramLoaderWaitMs = timeline.ramLoaderWaitMs();
  run.flashMs = flashWorkOf(world.loader()).ms(timing);
  run.reenumerationMs = static_cast<double>((timing.ramLoaderBack + timing.talkgateBack).count());
  if (!restored) {
    run.failure = "the settings could not be written back";
  } else if (world.talkgate().state().firmwareVersion != image.version) {
    run.failure = "the Talkgate runs version " + world.talkgate().state().firmwareVersion;
  }
  run.ok = run.failure.empty();
  return run;
}

}  // namespace talkgate::bench
