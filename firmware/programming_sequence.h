#pragma once
// The firmware upgrade through the bootstrap loader: log in (falling back to the default
// password after the device has mass-erased itself), load and start the RAM loader, erase,
// send the image and verify it by CRC (the segment holding the reset vector last, once all the
// rest has verified) and reset the device into it. Progress goes to a callback
// so the upgrade window's worker and the command-line tool drive it alike.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "firmware/firmware_resources.h"
#include "firmware/flash_layout.h"
#include "firmware/loader_images.h"
#include "firmware/ti_txt.h"

namespace talkgate::firmware {

// A percentage and a status line that carries its own "\r\n"; an empty line only moves the
// bar. Called on the thread that runs the sequence.
using ProgressFn = std::function<void(int percent, const std::string& message)>;

// Sizes of the buffers texts are handed to the loader in, terminator included.
inline constexpr std::size_t kConnectionBufferBytes = 100;
inline constexpr std::size_t kPathBufferBytes = 200;
inline constexpr std::size_t kPasswordBufferBytes = 200;
inline constexpr std::size_t kRamLoaderBufferBytes = 20000;
inline constexpr std::size_t kResetBufferBytes = 100;

inline constexpr int kMassEraseWaitMs = 2000;       // the device erases before it listens again
inline constexpr int kRamLoaderStartStepMs = 1000;  // three of these while it re-enumerates
inline constexpr std::uint32_t kResetVectorSegmentAddress = 0xFFFF;
inline constexpr const char* kResetAgainVersion = "00.06.05.34";

struct ProgrammerSettings {
  std::string vid = "0x2047";  // myVID, "0x" and four digits
  std::string pid = "0x0200";  // myPID
  std::string deviceIndex = "0";
  FlashLayout flash{};                                // where an image may put bytes
  FirmwareResources resources = firmwareResources();  // as sent to the simulated loader
  // Where the product's password and RAM loader are looked up for real hardware; they replace
  // those of `resources` there, and without them nothing is sent.
  LoaderImageSources loaderImages = loaderImageSources();
};

class FirmwareProgrammer {
 public:
  explicit FirmwareProgrammer(ProgrammerSettings settings = {});

  // The whole upgrade of the TI-TXT file at filenameString; true when the image was sent,
  // verified and the device reset into it. The file and the loader images are read and
  // checked first: a path too long for the loader, an unreadable, malformed or empty image,
  // a byte outside the part's flash or in the loader's own area, no reset vector, or a real
  // (not simulated) port without usable product loader images ends the run at progress 0
  // with the reason in the log, before anything is sent.
  bool CustomSelectedFirmware(const std::string& filenameString, const ProgressFn& progress);
  // Connects, logs in, starts the RAM loader, reconnects and checks its version, attempts
  // the reset vector erase. May set massErased (a refused first password).
  bool DownloadStartUp(const ProgressFn& progress, bool& massErased);
  // Sends the reset image; true when it was accepted.
  bool TriggerForcedBOR(const ProgressFn& progress);

  // "PID=0x0200,VID=0x2047,DEVICEINDEX=0".
  std::string connectionText() const;
  const ProgrammerSettings& settings() const { return settings_; }

  // Milliseconds of the active clock at the start and end of programming, and the seconds
  // between them, of the last run.
  std::uint32_t startProgramTime = 0;
  std::uint32_t stopProgramTime = 0;
  std::uint32_t totalProgramTime = 0;

 private:
  // Reads and checks the image file and the loader images; on a problem reports it at 0.
  bool prepare(const std::string& path, const ProgressFn& progress);
  // Picks the loader images for the active port into resources_: the settings' own on the
  // simulated bus, the product's on real hardware. On a problem reports it at 0.
  bool chooseLoaderImages(const ProgressFn& progress);

  ProgrammerSettings settings_;
  FirmwareResources resources_;  // the loader images of the current run
  bool imagesChosen_ = false;
  TiTxtImage image_;  // the checked image of the current run; sent and verified as read once
};

}  // namespace talkgate::firmware
