#include "firmware/programming_sequence.h"

#include <algorithm>
#include <cstdio>

#include "device/clock.h"
#include "device/hid_port.h"
#include "firmware/bsl430.h"
#include "firmware/crc_check.h"
#include "firmware/image_check.h"
#include "firmware/image_split.h"
#include "firmware/bsl_wire.h"
#include "firmware/loader_image_check.h"
#include "firmware/part_table.h"

namespace talkgate::firmware {
namespace {

const char* const kUnplugged = "USB device was unplugged!\r\n";

void report(const ProgressFn& progress, int percent, const std::string& message) {
  if (progress) progress(percent, message);
}

std::uint32_t tickCount() {
  return static_cast<std::uint32_t>(activeClock().now().count());
}

void wait(int ms) {
  activeClock().sleepFor(std::chrono::milliseconds(ms));
}

// A stopped loader has not refused anything either: the run ends without a retry.
bool deviceGone(int result) {
  return result == kBslIoError || result == kBslNotConnected || result == kBslStopped;
}

std::string hex(std::uint32_t value, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%0*X", digits, static_cast<unsigned>(value));
  return text;
}

// "00.06.05.34" from the version bytes.
std::string versionText(const std::uint8_t (&v)[4]) {
  char text[16];
  std::snprintf(text, sizeof text, "%02X.%02X.%02X.%02X", v[0], v[1], v[2], v[3]);
  return text;
}

// The vendor byte must be TI's 00, the rest what the product's RAM loader reports.
bool versionMatches(const std::uint8_t (&v)[4], std::string expected) {
  for (char& c : expected) c = static_cast<char>(c >= 'a' && c <= 'f' ? c - 'a' + 'A' : c);
  return v[0] == 0x00 && versionText(v) == expected;
}

// The reset image is ours on every part; the password and the RAM loader were chosen for the
// port and are checked again here, whichever source they came from.
bool checkLoaderImages(const FirmwareResources& r, std::string& why) {
  if (const std::string problem = passwordImageProblem(r.passwordText); !problem.empty()) {
    why = "password image " + problem;
    return false;
  }
  if (const std::string problem = ramLoaderImageProblem(r.ramBslText, r.ramBslVersion);
      !problem.empty()) {
    why = "RAM loader image " + problem;
    return false;
  }
  TiTxtImage image;
  TiTxtError error;
  if (r.forcedBorText.size() >= kResetBufferBytes || !parseTiTxt(r.forcedBorText, image, error) ||
      image.byteCount() == 0) {
    why = "reset image " + (error.reason.empty() ? "is empty or too long" : error.text());
    return false;
  }
  return true;
}

}  // namespace

FirmwareProgrammer::FirmwareProgrammer(ProgrammerSettings settings)
    : settings_(std::move(settings)) {}

std::string FirmwareProgrammer::connectionText() const {
  return "PID=" + settings_.pid + ",VID=" + settings_.vid + ",DEVICEINDEX=" + settings_.deviceIndex;
}

bool FirmwareProgrammer::chooseLoaderImages(const ProgressFn& progress) {
  resources_ = settings_.resources;
  imagesChosen_ = false;
  if (!hid::activePort().simulated()) {
    const LoaderImageLookup lookup = findProductLoaderImages(settings_.loaderImages);
    if (!lookup.images) {
      report(progress, 0,
             missingLoaderImagesText(settings_.loaderImages, lookup.problems) + "\r\n");
      return false;
    }
    resources_.passwordText = lookup.images->passwordText;
    resources_.ramBslText = lookup.images->ramBslText;
    resources_.ramBslVersion = lookup.images->ramBslVersion;
  }
  imagesChosen_ = true;
  return true;
}

bool FirmwareProgrammer::prepare(const std::string& path, const ProgressFn& progress) {
  image_.sections.clear();
  imagesChosen_ = false;
  if (path.size() >= kPathBufferBytes) {
    report(progress, 0,
           "File path is too long (" + std::to_string(path.size()) + " characters, at most " +
               std::to_string(kPathBufferBytes - 1) + ")\r\n");
    return false;
  }
  if (!chooseLoaderImages(progress)) return false;
  std::string why;
  if (connectionText().size() >= kConnectionBufferBytes || !checkLoaderImages(resources_, why)) {
    report(progress, 0, "Loader resources are damaged: " + why + "\r\n");
    return false;
  }
  TiTxtError error;
  if (!readTiTxtFile(path, image_, error) || !checkFirmwareImage(image_, settings_.flash, error)) {
    image_.sections.clear();
    report(progress, 0, "Firmware image refused: " + error.text() + "\r\n");
    return false;
  }
  return true;
}

std::string partStateText(PartState state) {
  switch (state) {
    case PartState::OldImage:
      return "The device keeps its old firmware: unplug it and plug it in again to start it.\r\n";
    case PartState::OldImageOrLoader:
      return "The device holds either its old firmware or an erased reset vector (then it "
             "waits in its bootstrap loader): the loader did not say which.\r\n";
    case PartState::VectorErased:
      return "The reset vector is erased: the device waits in its bootstrap loader until it "
             "is programmed.\r\n";
    case PartState::NewImageVerified:
      return "The device holds the new firmware, verified.\r\n";
    case PartState::VectorUnproven:
      return "The device holds the new firmware, verified but for its reset vector, which "
             "could not be proven nor erased: run the upgrade again.\r\n";
  }
  return {};
}

void FirmwareProgrammer::notePasswordRefused(int result) {
  // A refusal erased all of main flash, the vectors with it; no answer may be either.
  if (result != kBslTimeout) {
    partState_ = PartState::VectorErased;
  } else if (partState_ == PartState::OldImage) {
    partState_ = PartState::OldImageOrLoader;
  }
}

bool FirmwareProgrammer::refuse(const ProgressFn& progress, int percent, const std::string& why) {
  fatal_ = true;
  report(progress, percent, why);
  report(progress, percent, partStateText(partState_));
  return false;
}

bool FirmwareProgrammer::oneLoaderOnBus(const ProgressFn& progress, int percent) {
  std::uint16_t vid = bsl::kLoaderVendorId;
  std::uint16_t pid = bsl::kLoaderProductId;
  hid::Port& port = hid::activePort();
  if (port.init() != 0) return true;  // the connection reports the absent device
  const std::vector<hid::DeviceInfo> loaders = port.enumerate(vid, pid);
  if (loaders.size() > 1) {
    return refuse(progress, percent,
                  std::to_string(loaders.size()) +
                      " bootstrap loaders (2047:0200) are on the bus and this program cannot "
                      "tell which one is the Talkgate, so nothing more was sent. Leave only the "
                      "Talkgate's loader on the bus and upgrade again.\r\n");
  }
  const std::string& talkgatePort = settings_.talkgateLocation;
  if (loaders.size() == 1 && !loader_ && !talkgatePort.empty() &&
      !loaders.front().location.empty() && loaders.front().location != talkgatePort) {
    return refuse(progress, percent,
                  "The bootstrap loader on the bus hangs on USB port " +
                      loaders.front().location + ", not on " + talkgatePort +
                      " where the Talkgate was switched to its loader; it may be another "
                      "device's, so nothing was sent.\r\n");
  }
  if (loaders.size() == 1 && loader_ && !loader_->location.empty() &&
      !loaders.front().location.empty() && loaders.front().location != loader_->location) {
    return refuse(progress, percent,
                  "The bootstrap loader on the bus now hangs on USB port " +
                      loaders.front().location + ", not on " + loader_->location +
                      " where this upgrade started, so nothing more was sent.\r\n");
  }
  return true;
}

bool FirmwareProgrammer::connectToLoader(const ProgressFn& progress, int percent) {
  if (!oneLoaderOnBus(progress, percent)) return false;
  BSL_setFamily(kFamilyF5xxUsb);
  BSL_setCom(kComUsbHid);
  if (BSL_initialize_BSL(connectionText()) == kBslDeviceAbsent) {
    report(progress, percent, kUnplugged);
    return false;
  }
  // A second loader may have arrived between the count and the connection.
  if (!oneLoaderOnBus(progress, percent)) {
    BSL_close_BSL();
    return false;
  }
  if (!loader_) loader_ = BSL_connectedDevice();
  return true;
}

bool FirmwareProgrammer::waitForRamLoader(const ProgressFn& progress) {
  Clock& clock = activeClock();
  const auto deadline = clock.now() + std::chrono::milliseconds(kRamLoaderReturnMs);
  const std::string romPath = loader_ ? loader_->path : std::string();
  hid::Port& port = hid::activePort();
  const auto loaders = [&port] {
    return port.init() == 0 ? port.enumerate(bsl::kLoaderVendorId, bsl::kLoaderProductId)
                            : std::vector<hid::DeviceInfo>{};
  };
  const auto pollUntil = [&](const auto& done) {
    while (!done()) {
      if (clock.now() >= deadline) return false;
      wait(kRamLoaderPollMs);
    }
    return true;
  };
  report(progress, 35, "");
  // Gone once the ROM loader's interface is: the RAM loader is a new one.
  bool back = pollUntil([&] {
    const auto now = loaders();
    return std::none_of(now.begin(), now.end(),
                        [&romPath](const hid::DeviceInfo& d) { return d.path == romPath; });
  });
  report(progress, 40, "");
  back = back && pollUntil([&] { return !loaders().empty(); });
  report(progress, 45, "");
  return back;
}

bool FirmwareProgrammer::identifyPart(const ProgressFn& progress) {
  std::uint8_t id[kDeviceIdBytes] = {};
  const int read = BSL_TX_DataBlock(kDeviceIdAddress, kDeviceIdBytes, id);
  if (read != kBslOk) {
    report(progress, 50, deviceGone(read) ? kUnplugged : "Failed to read the device ID\r\n");
    return false;
  }
  const std::uint16_t deviceId = static_cast<std::uint16_t>((id[0] << 8) | id[1]);
  const PartInfo* part = partWithId(deviceId);
  if (part == nullptr) {
    std::string known;
    for (const PartInfo& p : knownParts()) known += (known.empty() ? "" : ", ") + std::string(p.name);
    return refuse(progress, 50,
                  "Unknown part: device ID " + hex(deviceId, 4) +
                      " is none of the parts this program upgrades (" + known +
                      "), so nothing more was erased\r\n");
  }
  TiTxtError error;
  if (!image_.sections.empty() && !checkFirmwareImage(image_, part->layout, error)) {
    return refuse(progress, 50,
                  "Firmware image does not fit the " + std::string(part->name) + ": " +
                      error.text() + "; nothing more was erased\r\n");
  }
  part_ = part->layout;
  return true;
}

bool FirmwareProgrammer::DownloadStartUp(const ProgressFn& progress, bool& massErased) {
  // Called on its own, it still sends nothing before the images are chosen for the port.
  if (!imagesChosen_ && !chooseLoaderImages(progress)) return false;
  const FirmwareResources& resources = resources_;
  const std::string& version = resources.ramBslVersion;

  if (!connectToLoader(progress, 0)) return false;
  const DataBlock_ filePassword = BSL_readTI_Text(resources.passwordText, kPasswordBytes);
  const DataBlock_ defaultPassword = BSL_getDefaultPass();
  if (filePassword.numberOfBytes != kPasswordBytes ||
      filePassword.startAddress != kPasswordAddress) {
    report(progress, 0,
           "Loader resources are damaged: password image is not 32 bytes at 0xFFE0\r\n");
    return false;
  }
  report(progress, 5, "");

  int result = BSL_RX_Password(filePassword);
  if (result != kBslOk) {
    // A loader that vanished has not refused anything, and has not erased itself.
    if (deviceGone(result)) {
      report(progress, 5, kUnplugged);
      return false;
    }
    massErased = true;
    notePasswordRefused(result);
    report(progress, 5, "Mass erase occured!\r\n");
    wait(kMassEraseWaitMs);
    if (BSL_RX_Password(defaultPassword) != kBslOk) {
      report(progress, 10, "Password FAILED!\r\n");
      return false;
    }
  }
  report(progress, 10, "Password Sent Successfully\r\n");

  // The restricted ROM loader answers "unknown command" or API 0x80; a full loader that
  // already runs (a retry, an earlier run) must not be written over its own code.
  std::uint8_t running[4] = {};
  result = BSL_TX_BSL_Version(running);
  if (deviceGone(result)) {
    report(progress, 10, kUnplugged);
    return false;
  }
  const bool fullLoaderRuns = result == kBslOk && running[2] != kRestrictedLoaderApi;
  int secondLogin = kBslOk;
  if (fullLoaderRuns) {
    report(progress, 45, "RAM BSL v" + versionText(running) + " already running\r\n");
    startProgramTime = tickCount();
  } else {
    report(progress, 20, "Sending RAM BSL v" + version + "\r\n");
    BSL_RX_TXT(resources.ramBslText, kRxFast);
    BSL_LoadPC(kRamLoaderEntry);
    report(progress, 30, "Done RAM BSL v" + version + "\r\n");
    BSL_close_BSL();
    const bool back = waitForRamLoader(progress);
    startProgramTime = tickCount();
    if (!back) {
      report(progress, 50, kUnplugged);
      return false;
    }
    if (!connectToLoader(progress, 50)) return false;
    secondLogin = BSL_RX_Password(massErased ? defaultPassword : filePassword);
    if (secondLogin != kBslOk && !deviceGone(secondLogin)) notePasswordRefused(secondLogin);
    result = BSL_TX_BSL_Version(running);
  }
  if (result != kBslOk || running[2] == kRestrictedLoaderApi || !versionMatches(running, version)) {
    report(progress, 50, "Failed to read data from RAM BSL\r\n");
    return false;
  }
  if (secondLogin != kBslOk) {
    report(progress, 50, "Password FAILED after sending RAM BSL!\r\n");
    return false;
  }
  if (!identifyPart(progress)) return false;

  const int erased = BSL_eraseSegment(kResetVectorSegmentAddress);
  if (erased != kBslOk) {
    // Nothing more is erased or written. An erase never written erased nothing; otherwise only
    // the loader's own answer tells what it did.
    if (partState_ == PartState::OldImage && !BSL_lastReportUnsent()) {
      std::uint8_t vector[2] = {};
      if (BSL_TX_DataBlock(kResetVectorAddress, 2, vector) == kBslOk) {
        if (vector[0] == 0xFF && vector[1] == 0xFF) partState_ = PartState::VectorErased;
      } else {
        partState_ = PartState::OldImageOrLoader;
      }
    }
    return refuse(progress, 50, "Failed to erase reset vector\r\n");
  }
  partState_ = PartState::VectorErased;
  return true;
}

bool FirmwareProgrammer::TriggerForcedBOR(const ProgressFn& progress) {
  const FirmwareResources& resources = imagesChosen_ ? resources_ : settings_.resources;
  report(progress, 90, "Resetting Device...\r\nStarting application\r\n");
  if (BSL_RX_TXT(resources.forcedBorText, kRxFast) != kBslOk) return false;
  if (resources.ramBslVersion.find(kResetAgainVersion) != std::string::npos) {
    BSL_RX_TXT(resources.forcedBorText, kRxFast);  // the device is usually gone by now
  }
  return true;
}

// The segment goes without its reset vector first and is proven; the vector word follows
// alone and the whole segment is proven again. Whatever fails is erased again (if the
// loader still answers), so a damaged vector never starts the part. A stop asked for in
// between waits for the end.
bool FirmwareProgrammer::sendVectorSegment(const TiTxtImage& segment) {
  if (!BSL_holdStops(true)) return false;  // stopped before the segment began
  const SplitImage vector = splitImage(segment, kResetVectorAddress, kResetVectorSegmentEnd);
  BSL_RX_Image(vector.outside, kRxFast);
  bool proven = CRC_Check_Image(vector.outside) == kWalkMatched;
  const bool vectorSent = proven;
  if (proven) {
    BSL_RX_Image(vector.inside, kRxFast);
    proven = CRC_Check_Image(segment) == kWalkMatched;
  }
  if (proven) {
    partState_ = PartState::NewImageVerified;
  } else if (BSL_eraseSegment(kResetVectorSegmentAddress) != kBslOk && vectorSent) {
    partState_ = PartState::VectorUnproven;
  }
  BSL_holdStops(false);
  return proven;
}

bool FirmwareProgrammer::CustomSelectedFirmware(const std::string& filenameString,
                                                const ProgressFn& progress) {
  partState_ = PartState::OldImage;
  fatal_ = false;
  loader_.reset();
  part_ = settings_.flash;
  if (!prepare(filenameString, progress)) return false;

  bool massErased = false;
  if (!DownloadStartUp(progress, massErased)) {
    if (fatal_) return false;
    BSL_close_BSL();
    report(progress, 50, "Unsuccessful in starting the BSL. Restarting. \r\n");
    if (!DownloadStartUp(progress, massErased)) return false;
  }

  std::uint32_t failedAt = 0;
  if (!massErased) {
    report(progress, 60, "Erasing memory segments \r\n");
  }
  // After a mass erase only information memory is left to erase; stale bits there would
  // fail the verify.
  if (EraseDataSegment_Image(image_, part_, massErased, &failedAt) != kWalkMatched) {
    return refuse(progress, 60, "Failed to erase memory segment at " + hex(failedAt, 5) + "\r\n");
  }

  // The segment with the reset vector goes last: while it is erased the part starts its
  // loader at power-up, so an upgrade cut short anywhere before can simply be run again.
  const SplitImage parts = splitImage(image_, kResetVectorSegmentStart, kResetVectorSegmentEnd);
  report(progress, 70, "Sending " + filenameString + "\r\n");
  BSL_RX_Image(parts.outside, kRxFast);
  report(progress, 75, "Firmware Sent\r\n");
  report(progress, 80, "Verifying memory\r\n");
  if (CRC_Check_Image(parts.outside) != kWalkMatched || !sendVectorSegment(parts.inside)) {
    report(progress, 85, "Memory verification error\r\n");
    return false;
  }
  report(progress, 85, "Memory successfully verified\r\n");

  stopProgramTime = tickCount();
  totalProgramTime = (stopProgramTime - startProgramTime) / 1000u;
  report(progress, 90, "Total programming time is " + std::to_string(totalProgramTime) + "s \r\n");
  TriggerForcedBOR(progress);
  report(progress, 100, "Done!");
  return true;
}

}  // namespace talkgate::firmware
