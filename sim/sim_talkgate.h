#pragma once
// A simulated Talkgate on the virtual bus: interface 0 (the keyboard) and interface 1 (the
// configuration interface that speaks the framed command protocol).

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "device/commands.h"
#include "sim/virtual_bus.h"

namespace talkgate::sim {

struct TalkgateSettings {
  std::uint8_t symbolBrightness = 5;
  std::uint8_t ambientConfig = 0;
  std::uint8_t keypadType = 0;
  KeyTable keyTable{0x00, 0x6F, 0x00, 0x70, 0x00, 0x71, 0x00, 0x72, 0x00, 0x52, 0x00, 0x28};
  bool operator==(const TalkgateSettings&) const = default;
};

struct TalkgateState {
  TalkgateSettings working;   // what the device acts on now
  TalkgateSettings defaults;  // what command 7 stored
  std::string firmwareVersion = "1.0.4";
  std::string serialNumber = "TG260001";
  std::string temperature = "23.5C";
  std::uint16_t ambientValue = 300;
  bool operator==(const TalkgateState&) const = default;
};

// Ways the simulated device misbehaves, for tests.
enum class Fault {
  None,
  NoReply,        // swallows the request
  AckFirst,       // sends `count` acknowledgements (0x06) before the reply
  Refuse,         // answers with the refusal marker 0x0F
  BadChecksum,    // reply checksum off by one bit
  BadSizeByte,    // size byte 0x41
  WrongLength,    // length field does not match the frame
  BadStatusByte,  // status byte 0x01
  MissingEtx,     // ETX replaced
  LateReply,      // reply released only after `delayMs` on the active clock
  RepeatedReply,  // the reply is sent twice
  StaleReply,     // the reply of the previous request is sent first
  LeaveBus,       // unplugs itself on receiving the request
};

struct FaultPlan {
  Fault fault = Fault::None;
  int count = 1;     // AckFirst: number of acknowledgements
  int delayMs = 0;   // LateReply
  int command = -1;  // only requests with this code (-1: any)
  int times = 1;     // how many matching requests misbehave (-1: all)
};

struct ReceivedRequest {
  std::uint8_t command = 0;
  std::vector<std::uint8_t> payload;
};

class SimTalkgate {
 public:
  static constexpr std::uint16_t kKeyboardInterface = 0;
  static constexpr std::uint16_t kConfigInterface = 1;

  // Creates the device plugged in to the bus, on the USB port location ("": the bus does not
  // tell). Unplugs it on destruction.
  explicit SimTalkgate(VirtualBus& bus, TalkgateState initial = TalkgateState{},
                       std::string location = {});
  ~SimTalkgate();
  SimTalkgate(const SimTalkgate&) = delete;
  SimTalkgate& operator=(const SimTalkgate&) = delete;

  void plugIn();  // attaches both interfaces (no-op when attached)
  void unplug();  // detaches both interfaces
  bool pluggedIn() const;
  // Path of the configuration interface while plugged in.
  std::string configPath() const;
  // The USB port both interfaces tell from the next plug-in on ("" until set: not told).
  void setLocation(const std::string& location);

  TalkgateState state() const;
  void setState(const TalkgateState& state);
  // What a factory reset restores.
  static TalkgateState factoryState();

  // Adds a misbehaviour; plans are consumed in order as matching requests arrive.
  void addFault(const FaultPlan& plan);
  void clearFaults();
  // Unplugs after `reports` more host reports have been received (the last one is still acted
  // on, but its reply is lost with the device); 0 unplugs at once.
  void unplugAfterReports(int reports);

  // Every well-formed request received, in order.
  std::vector<ReceivedRequest> requests() const;
  // The command codes of requests(), in order.
  std::vector<int> commandCodes() const;
  void clearRequests();

  // Called (outside any lock of the device or the bus) after the device left the bus on
  // command 9. It runs inside the host's exchange, on its thread, so it must not call the
  // transport (ScanForUSBDevice_a, USBEncoderSendAndReceive_a, hid_exit_safely).
  void setEnterLoaderHandler(std::function<void()> handler);

  // Plain-text (JSON) persistence of the state, for consecutive command-line runs. Missing keys
  // keep the values already in `out`; a malformed file gives false and an error naming the
  // offset. stateJson is the text loadState reads; the caller writes it.
  static bool loadState(const std::string& path, TalkgateState& out, std::string& error);
  static std::string stateJson(const TalkgateState& state);

  struct Impl;

 private:
  std::shared_ptr<Impl> impl_;
};

}  // namespace talkgate::sim
