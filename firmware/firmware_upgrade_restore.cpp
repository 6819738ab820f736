#include "firmware/firmware_upgrade_restore.h"

#include "device/commands.h"

namespace talkgate::firmware {
namespace {

constexpr int kReplyBufferBytes = 64;

std::uint8_t lowByte(int value) {
  return static_cast<std::uint8_t>(value & 0xFF);
}

int send(DeviceHandle device, const RestoreRequest& request) {
  std::uint8_t reply[kReplyBufferBytes] = {};
  std::uint32_t replyLength = 0;
  return USBEncoderSendAndReceive_a(device, request.command, request.payload.data(),
                                    static_cast<int>(request.payload.size()), reply,
                                    kReplyBufferBytes, &replyLength, kReplyTimeoutMs);
}

}  // namespace

bool serialNumberIsRestored(const UpgradeSettings& settings) {
  return isValidSerialNumber(settings.serialNumber);
}

int restoreSerialNumber(DeviceHandle device, const UpgradeSettings& settings) {
  if (!serialNumberIsRestored(settings)) return kErrInvalidArgument;
  return setSerialNumber(device, settings.serialNumber);
}

std::vector<RestoreRequest> restoreRequests(const UpgradeSettings& settings) {
  return {
      {kCmdSetKeypadType, {lowByte(settings.keypadType)}, "Unable to set Keypad Type.."},
      {kCmdSetKeyTable,
       std::vector<std::uint8_t>(settings.key_codes.begin(),
                                 settings.key_codes.begin() + kKeyTableSize),
       "Unable to Load Table.."},
      {kCmdSetSymbolBrightness,
       {lowByte(settings.led2Brightness_jo)},
       "Unable to set LED Brightness.."},
      {kCmdSetAmbientConfig, {lowByte(settings.led1Brightness_jo)}, "Unable to set ambient cfgs.."},
      {kCmdStoreDefaults, {}, "Unable to Write Default.."},
  };
}

RestoreOutcome restoreSettings(DeviceHandle device, const UpgradeSettings& settings) {
  const std::vector<RestoreRequest> requests = restoreRequests(settings);
  for (std::size_t i = 0; i < requests.size(); ++i) {
    const int result = send(device, requests[i]);
    if (result != kOk) return {static_cast<int>(i), result};
  }
  return {};
}

}  // namespace talkgate::firmware
