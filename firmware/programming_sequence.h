#pragma once
// The firmware upgrade through the bootstrap loader: log in (falling back to the default
// password after the device has mass-erased itself), load and start the RAM loader, erase,
// send the image and verify it by CRC (the segment holding the reset vector last, once all the
// rest has verified) and reset the device into it. Progress goes to a callback
// so the upgrade window's worker and the command-line tool drive it alike.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "device/hid_port.h"

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

inline constexpr int kMassEraseWaitMs = 2000;  // the device erases before it listens again
// After Load PC the part leaves the bus and its RAM loader enumerates; looked for this often,
// for at most this long.
inline constexpr int kRamLoaderPollMs = 100;
inline constexpr int kRamLoaderReturnMs = 10000;
// The API byte (third version byte) of the restricted ROM loader.
inline constexpr std::uint8_t kRestrictedLoaderApi = 0x80;
inline constexpr std::uint32_t kResetVectorSegmentAddress = 0xFFFF;
inline constexpr const char* kResetAgainVersion = "00.06.05.34";

// What the part holds when a run ends, as far as the loader's answers tell.
enum class PartState {
  OldImage,          // nothing of it erased: its old firmware starts at power-up
  OldImageOrLoader,  // the reset vector's erase went unanswered: one or the other
  VectorErased,      // it starts its bootstrap loader at power-up until it is programmed
  NewImageVerified,  // the new image, every byte proven by CRC
  VectorUnproven,    // the new image proven but for its reset vector, which could not be erased
};

// One sentence, with its "\r\n", telling the operator what the part holds.
std::string partStateText(PartState state);

struct ProgrammerSettings {
  std::string vid = "0x2047";  // myVID, "0x" and four digits
  std::string pid = "0x0200";  // myPID
  std::string deviceIndex = "0";
  FlashLayout flash{};                                // where an image may put bytes
  FirmwareResources resources = firmwareResources();  // as sent to the simulated loader
  // Where the product's password and RAM loader are looked up for real hardware; they replace
  // those of `resources` there, and without them nothing is sent.
  LoaderImageSources loaderImages = loaderImageSources();
  // The USB port (hid::DeviceInfo::location) of the Talkgate this run switched to its loader: a
  // loader found on another port is not programmed. Empty when not known, as for a loader that
  // was waiting on the bus before the run.
  std::string talkgateLocation;
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

  // What the part holds after the last run.
  PartState partState() const { return partState_; }

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

  // Exactly one loader on the bus, on the Talkgate's port, and the one this run started with:
  // false with the reason logged at percent (then nothing more may be sent).
  bool oneLoaderOnBus(const ProgressFn& progress, int percent);
  bool connectToLoader(const ProgressFn& progress, int percent);
  // After Load PC: the loader leaves the bus and comes back (35, 40, 45).
  bool waitForRamLoader(const ProgressFn& progress);
  // Reads the device ID and checks the image against that part's memory map.
  bool identifyPart(const ProgressFn& progress);
  // The reset vector's segment, the vector word last; stops wait until it is done.
  bool sendVectorSegment(const TiTxtImage& segment);
  // Stops the run where nothing more may be sent: logs why and what the part holds.
  bool refuse(const ProgressFn& progress, int percent, const std::string& why);
  // What a password the loader did not accept (result) may have done to the part.
  void notePasswordRefused(int result);

  ProgrammerSettings settings_;
  PartState partState_ = PartState::OldImage;
  bool fatal_ = false;  // a refusal no retry may undo
  std::optional<hid::DeviceInfo> loader_;  // the loader this run talks to
  FlashLayout part_{};                     // the memory map of the part identified
  FirmwareResources resources_;  // the loader images of the current run
  bool imagesChosen_ = false;
  TiTxtImage image_;  // the checked image of the current run; sent and verified as read once
};

}  // namespace talkgate::firmware
