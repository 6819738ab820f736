#pragma once
// What the firmware upgrade writes back once the Talkgate runs its new firmware: the serial
// number and, on the operator's consent, the settings it held before. Plain C++ over the
// device link, so the upgrade window and the command-line tool send the same requests.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "device/transport.h"

namespace talkgate::firmware {

inline constexpr std::size_t kSnapshotKeyCodeBytes = 32;  // only the first 12 are used

// The device's settings taken before it was switched into its loader.
struct UpgradeSettings {
  int keypadType = 0;                                           // 0 default, 1 customised table
  std::array<std::uint8_t, kSnapshotKeyCodeBytes> key_codes{};  // bytes 0 to 11: key table
  std::string serialNumber;                                     // 8-bit characters
  int led2Brightness_jo = 0;                                    // symbol LED brightness 0 to 9
  int led1Brightness_jo = 0;                                    // ambient configuration 0 or 1
};

// One settings request of the restore, with the text shown when it fails.
struct RestoreRequest {
  std::uint8_t command = 0;
  std::vector<std::uint8_t> payload;
  std::string failureMessage;
};

inline constexpr char kSerialNumberFailure[] = "Unable to set SerialNumber..";

// True when the serial number is written back: exactly 8 or 12 characters.
bool serialNumberIsRestored(const UpgradeSettings& settings);
// Command 10 with the serial number's bytes; kErrInvalidArgument (nothing sent) when it is
// not one that is restored.
int restoreSerialNumber(DeviceHandle device, const UpgradeSettings& settings);

// The settings requests in the order they are sent: keypad type (11), key table (6), symbol
// LED brightness (3), ambient configuration (4), store as defaults (7).
std::vector<RestoreRequest> restoreRequests(const UpgradeSettings& settings);

struct RestoreOutcome {
  int failedIndex = -1;  // index into restoreRequests() of the request that failed, or -1
  int result = kOk;      // the failed request's result
};
// Sends the settings requests in order and stops at the first failure.
RestoreOutcome restoreSettings(DeviceHandle device, const UpgradeSettings& settings);

}  // namespace talkgate::firmware
