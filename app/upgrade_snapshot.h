#pragma once
// The device settings the firmware upgrade writes back after programming.

#include <QMetaType>
#include <QString>
#include <array>
#include <cstdint>

#include "device/commands.h"

namespace talkgate::app {

struct UpgradeSnapshot {
  int keypadType = 0;
  int symbolBrightness = 0;
  int ambientConfig = 0;
  std::array<std::uint8_t, talkgate::kKeyTableSize> keyCodes{};
  QString serialNumber;
  // True when the values above were just read from the device.
  bool fromDevice = false;
};

}  // namespace talkgate::app

Q_DECLARE_METATYPE(talkgate::app::UpgradeSnapshot)
