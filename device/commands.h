#pragma once
// The Talkgate's command set as typed operations over the transport.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "device/transport.h"

namespace talkgate {

// Command codes.
inline constexpr std::uint8_t kCmdStatus = 1;
inline constexpr std::uint8_t kCmdSetSymbolBrightness = 3;
inline constexpr std::uint8_t kCmdSetAmbientConfig = 4;
inline constexpr std::uint8_t kCmdSetKeyTable = 6;
inline constexpr std::uint8_t kCmdStoreDefaults = 7;
inline constexpr std::uint8_t kCmdFactoryReset = 8;
inline constexpr std::uint8_t kCmdEnterLoader = 9;
inline constexpr std::uint8_t kCmdSetSerialNumber = 10;
inline constexpr std::uint8_t kCmdSetKeypadType = 11;
inline constexpr std::uint8_t kCmdAmbientValue = 12;

inline constexpr std::size_t kKeyTableSize = 12;
inline constexpr std::size_t kStatusFixedBytes = 15;  // three settings and the key table
inline constexpr int kMaxSymbolBrightness = 9;

// 6 slots of (modifier, key code); slots 1 to 4 are Detected, Not Detected, Day, Night.
using KeyTable = std::array<std::uint8_t, kKeyTableSize>;

struct DeviceStatus {
  std::uint8_t symbolBrightness = 0;  // 0 to 9
  std::uint8_t ambientConfig = 0;     // 0 disabled, 1 enabled
  std::uint8_t keypadType = 0;        // 0 default table, 1 customised table
  KeyTable keyTable{};
  std::string firmwareVersion;
  std::string serialNumber;
  std::string temperature;
};

// Decodes the data of a status reply. Texts end at their NUL or at the end of the data.
// Returns false (and leaves out untouched) when the data is shorter than the fixed part.
bool decodeStatus(const std::uint8_t* data, std::size_t length, DeviceStatus& out);

// Command 1: reads and decodes the status. A short reply gives kErrRefused.
int readStatus(DeviceHandle device, DeviceStatus& out);
// Command 3: symbol LED brightness 0 to 9 (the value is passed through unchanged).
int setSymbolBrightness(DeviceHandle device, std::uint8_t value);
// Command 4: ambient configuration 0 or 1.
int setAmbientConfig(DeviceHandle device, std::uint8_t value);
// Command 6: the whole customised key code table.
int writeKeyTable(DeviceHandle device, const KeyTable& table);
// Command 7: the device stores its working settings as its defaults.
int storeDefaults(DeviceHandle device);
// Command 8: the device returns to its factory values.
int factoryReset(DeviceHandle device);
// Command 9: the device leaves HID operation for its bootstrap loader.
int enterLoader(DeviceHandle device);
// True for a serial number the device accepts: exactly 8 or 12 characters.
bool isValidSerialNumber(std::string_view serial);
// Command 10: sends the serial number; kErrInvalidArgument (nothing sent) unless valid.
int setSerialNumber(DeviceHandle device, std::string_view serial);
// Command 11: keypad type 0 or 1.
int setKeypadType(DeviceHandle device, std::uint8_t value);
// Command 12: the ambient sensor reading, high byte first on the wire.
int readAmbientValue(DeviceHandle device, std::uint16_t& value);

// A short English description of a result code ("timeout (-6)").
std::string resultText(int result);

}  // namespace talkgate
