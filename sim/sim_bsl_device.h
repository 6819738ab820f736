#pragma once
// A simulated MSP430F5xx USB bootstrap loader on the virtual bus: the restricted ROM loader
// (password, fast data to RAM, Load PC), the RAM loader it can start (full command set,
// re-enumerating as a new interface), flash with 512-byte main and 128-byte info segments
// that programming can only clear bits of, information segment A locked at power-up until
// the Unlock/Lock Info command toggles it, the 32-byte password at 0xFFE0 with a mass erase
// on a wrong one, and the software BOR at 0x0120 that starts the application in flash.
// It decodes reports on its own, independently of the host code it is used to test.

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/bsl_memory_map.h"
#include "sim/part_timing.h"
#include "sim/virtual_bus.h"

namespace talkgate::sim {

// The stage of an upgrade a host report belongs to, for failure injection.
enum class BslPhase {
  RomPassword,  // RX Password to the ROM loader
  RamData,      // data written to RAM (the RAM loader image)
  LoadPc,       // Load PC: on unplug the RAM loader never shows up
  RamPassword,  // RX Password to the RAM loader
  Version,      // TX BSL Version
  Erase,        // Erase Segment, Mass Erase
  Program,      // data written to flash
  CrcCheck,     // CRC Check
  Reset,        // the write to PMMCTL0 that resets the part
};

// One failure of the loader, for rehearsing an interrupted upgrade.
enum class LoaderFault {
  Unplug,          // leaves the bus (the write fails) and stays away until plugged in again
  RefusePassword,  // refuses the next password even when right, and mass-erases
  CorruptByte,     // flips the lowest bit of the next byte programmed into flash
  StopAnswering,   // stays on the bus but neither acts on nor answers a report again
  EraseFails,      // the next erase answers "voltage changed" (3B 03) and erases nothing
  SecondLoader,    // another part's loader arrives on the bus beside this one
  // Its N-th arrival on the bus from now (counted in arrivals, ROM or RAM loader, not in
  // reports) is on another USB port, where it stays: its cable moved to another socket.
  OtherPort,
};

// What a part does when Load PC starts RAM contents that are not the declared RAM loader.
enum class ForeignCode {
  NeverStarts,  // leaves the bus and stays away
  NeverAnswers,  // comes back as a loader that never answers
};

// One report the loader received and understood.
struct BslCommandRecord {
  std::uint8_t command = 0;
  std::uint32_t address = 0;
  std::uint32_t length = 0;  // data bytes, or the requested length of CRC / TX Data Block
  bool ramLoader = false;    // received by the RAM loader (false: the ROM loader)
};

// The whole 20-bit address space, flash and RAM as the part holds them.
using BslMemory = std::vector<std::uint8_t>;

// A USB port no other simulated part in this process has used: "sim-usb-N".
std::string newSimLocation();

class SimBslDevice {
 public:
  static constexpr std::uint16_t kVendorId = 0x2047;
  static constexpr std::uint16_t kProductId = 0x0200;
  static constexpr std::uint32_t kAddressSpace = 0x100000;
  static constexpr std::uint32_t kRamLoaderBase = 0x2500;
  static constexpr std::uint32_t kRamLoaderEntry = 0x2504;
  static constexpr std::uint32_t kPmmCtl0 = 0x0120;
  static constexpr std::uint16_t kBufferSize = 260;

  // On the USB port location; "": a port no other simulated part has used.
  explicit SimBslDevice(VirtualBus& bus, BslMemoryMap layout = {}, std::string location = {});
  ~SimBslDevice();
  SimBslDevice(const SimBslDevice&) = delete;
  SimBslDevice& operator=(const SimBslDevice&) = delete;

  // Attaches the ROM loader, locked (no-op while attached): the part entered its loader.
  void plugIn();
  // Detaches whatever personality is attached.
  void unplug();
  // Attaches again as what ran last, ROM or RAM loader (a slow re-enumeration ends).
  void plugInAgain();
  bool pluggedIn() const;
  // True while the RAM loader (not the ROM loader) runs.
  bool ramLoaderRunning() const;
  bool unlocked() const;
  // True while information segment A refuses erase and write (as after every power-up).
  bool infoSegmentALocked() const;
  std::string path() const;
  // The USB port it hangs on: the same for the ROM and the RAM loader.
  std::string location() const;
  const BslMemoryMap& layout() const;

  // Erases all flash and programs a TI-TXT image into it (test and demo set-up). False with
  // the reason in *error when the text is malformed or puts bytes outside flash.
  bool loadFlashImage(std::string_view tiTxt, std::string* error = nullptr);
  // The programmed (non-0xFF) bytes of flash as TI-TXT, for keeping a device between runs.
  std::string flashImageText() const;
  // Copies of memory.
  std::vector<std::uint8_t> readMemory(std::uint32_t address, std::size_t length) const;
  BslMemory memory() const;
  // Stores bytes as they are, whatever the region (test set-up).
  void writeMemory(std::uint32_t address, const std::vector<std::uint8_t>& bytes);

  // Called, outside any lock and after the loader left the bus, when a software BOR starts
  // the application: with the whole memory. Not called when the reset vector is erased;
  // then the part comes back in its ROM loader, as a blank part does.
  void setResetHandler(std::function<void(const BslMemory& memory)> handler);

  // The part's own time (kInstantPart until set): erasing, programming and CRC keep it busy on
  // the active clock (a host report written meanwhile waits, as a NAKed one does, and a reply
  // is there only once the work is done); the RAM loader and a part reset into its loader
  // come back on the bus only after their re-enumeration time.
  void setTiming(const PartTiming& timing);

  // Failure injection.
  // Refuses the next count passwords even when right (each refusal mass-erases main flash).
  void refuseNextPasswords(int count);
  // Leaves the bus on the occurrence-th report of the phase (the write fails) and stays away.
  void unplugInPhase(BslPhase phase, int occurrence = 1);
  // Leaves the bus on the reports-th host report from now (the write fails).
  void unplugAfterReports(int reports);
  // Makes the loader fail once, at the report-th host report from now (1: the next one); a
  // password, flash or erase fault strikes the first password, flash write or erase from that
  // report on. Each call arms one more fault; all armed faults count down together.
  // Plugging the loader in again ends a StopAnswering fault, as a power cycle would.
  // OtherPort counts arrivals on the bus instead of reports.
  void failAtReport(LoaderFault fault, int report);
  // XORs mask into the byte at address right after it is programmed.
  void corruptWhenProgrammed(std::uint32_t address, std::uint8_t mask = 0x01);
  // The RAM loader answers the next `times` version requests (-1: all) with version.
  void answerVersion(std::array<std::uint8_t, 4> version, int times = -1);
  // The RAM loader answers the next `times` version requests (-1: all) "unknown command".
  void refuseVersion(int times = -1);
  // The RAM loader refuses the next count passwords even when right (and mass-erases).
  void refuseRamLoaderPasswords(int count);
  // The ROM loader answers a version request with version (nullopt: "unknown command", 3B 07,
  // as it does until told otherwise).
  void answerRomVersion(std::optional<std::array<std::uint8_t, 4>> version);
  // Declares the genuine RAM loader (TI-TXT): Load PC 0x2504 starts it only when RAM holds
  // exactly these bytes, and it answers the version that stands at 0x2500; other RAM contents
  // behave as foreign says. Until declared, any image written at 0x2500 starts. False when the
  // text is malformed.
  bool declareRamLoader(std::string_view tiTxt, ForeignCode foreign = ForeignCode::NeverStarts);
  // The loader of another part that a SecondLoader fault put on the bus; nullptr before.
  SimBslDevice* secondLoader();
  void clearFaults();

  // What the loader received, in order.
  std::vector<BslCommandRecord> commands() const;
  void clearCommands();
  // Host reports that reached the device, understood or not.
  int reportsReceived() const;
  int massErases() const;
  int resets() const;
  // Erases (segment, mass, or a wrong password's) that changed flash: a count that moves
  // whenever bytes of flash went back to 0xFF.
  int flashErasures() const;

  // The firmware version an image announces with "TGFW:" followed by printable ASCII up to
  // a NUL, searched in main flash; nullopt when there is none.
  static std::optional<std::string> firmwareVersionOf(const BslMemory& memory,
                                                      const BslMemoryMap& layout = {});
  // The same for a TI-TXT image text.
  static std::optional<std::string> firmwareVersionOfImage(std::string_view tiTxt);

  struct Impl;

 private:
  std::shared_ptr<Impl> impl_;
};

}  // namespace talkgate::sim
