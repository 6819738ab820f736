#include "firmware/programming_sequence.h"

#include "device/clock.h"
#include "device/hid_port.h"
#include "firmware/bsl430.h"
#include "firmware/crc_check.h"
#include "firmware/image_check.h"
#include "firmware/image_split.h"
#include "firmware/loader_image_check.h"

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

// "00." + characters 16-17 + "." + 25-26 + "." + 33-34 of the loader's version text.
bool versionMatches(const std::string& text, const std::string& expected) {
  if (text == "ERROR" || text.size() < 35) return false;
  return "00." + text.substr(16, 2) + "." + text.substr(25, 2) + "." + text.substr(33, 2) ==
         expected;
}

// The reset image is ours on every part; the password and the RAM loader were chosen for the
// port and are checked again here, whichever source they came from.
bool checkLoaderImages(const FirmwareResources& r, std::string& why) {
  if (const std::string problem = passwordImageProblem(r.passwordText); !problem.empty()) {
    why = "password image " + problem;
    return false;
  }
  if (const std::string problem = ramLoaderImageProblem(r.ramBslText); !problem.empty()) {
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

// Sends and verifies the bytes of the reset vector's segment, the reset vector in its last
// report. A segment that does not verify is erased again (if the loader still answers), so a
// damaged vector never starts the part.
bool sendVectorSegment(const TiTxtImage& segment) {
  BSL_RX_Image(segment, kRxFast);
  if (CRC_Check_Image(segment) == kWalkMatched) return true;
  BSL_eraseSegment(kResetVectorSegmentAddress);
  return false;
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

bool FirmwareProgrammer::DownloadStartUp(const ProgressFn& progress, bool& massErased) {
  // Called on its own, it still sends nothing before the images are chosen for the port.
  if (!imagesChosen_ && !chooseLoaderImages(progress)) return false;
  const std::string connection = connectionText();
  const FirmwareResources& resources = resources_;
  const std::string& version = resources.ramBslVersion;

  BSL_setFamily(kFamilyF5xxUsb);
  BSL_setCom(kComUsbHid);
  if (BSL_initialize_BSL(connection) == kBslDeviceAbsent) {
    report(progress, 0, kUnplugged);
    return false;
  }
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
    report(progress, 5, "Mass erase occured!\r\n");
    wait(kMassEraseWaitMs);
    if (BSL_RX_Password(defaultPassword) != kBslOk) {
      report(progress, 10, "Password FAILED!\r\n");
      return false;
    }
  }
  report(progress, 10, "Password Sent Successfully\r\n");

  report(progress, 20, "Sending RAM BSL v" + version + "\r\n");
  BSL_RX_TXT(resources.ramBslText, kRxFast);
  BSL_LoadPC(kRamLoaderEntry);
  report(progress, 30, "Done RAM BSL v" + version + "\r\n");
  BSL_close_BSL();

  report(progress, 35, "");
  wait(kRamLoaderStartStepMs);
  report(progress, 40, "");
  wait(kRamLoaderStartStepMs);
  report(progress, 45, "");
  wait(kRamLoaderStartStepMs);
  startProgramTime = tickCount();

  BSL_setFamily(kFamilyF5xxUsb);
  BSL_setCom(kComUsbHid);
  if (BSL_initialize_BSL(connection) == kBslDeviceAbsent) {
    report(progress, 50, kUnplugged);
    return false;
  }
  const int secondLogin = BSL_RX_Password(massErased ? defaultPassword : filePassword);
  if (!versionMatches(BSL_TX_BSL_Version_String(), version)) {
    report(progress, 50, "Failed to read data from RAM BSL\r\n");
    return false;
  }
  if (secondLogin != kBslOk) {
    report(progress, 50, "Password FAILED after sending RAM BSL!\r\n");
    return false;
  }
  if (BSL_eraseSegment(kResetVectorSegmentAddress) != kBslOk) {
    report(progress, 50, "Failed to erase reset vector\r\n");
  }
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

bool FirmwareProgrammer::CustomSelectedFirmware(const std::string& filenameString,
                                                const ProgressFn& progress) {
  if (!prepare(filenameString, progress)) return false;

  bool massErased = false;
  if (!DownloadStartUp(progress, massErased)) {
    BSL_close_BSL();
    report(progress, 50, "Unsuccessful in starting the BSL. Restarting. \r\n");
    if (!DownloadStartUp(progress, massErased)) return false;
  }

  if (!massErased) {
    report(progress, 60, "Erasing memory segments \r\n");
    EraseDataSegment_Image(image_, settings_.flash);
  } else {
    // A mass erase leaves information memory alone; stale bits there would fail the verify.
    EraseDataSegment_Image(image_, settings_.flash, true);
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
