#include "app/status_lines.h"

namespace talkgate::app {
namespace {

const QString kDeviceConnected = QStringLiteral("Device Connected");
const QString kFirmwareLabel = QStringLiteral("Firmware Version        -   ");
const QString kNone = QStringLiteral("None");
constexpr int kBlanksAfterConnected = 9;
constexpr int kBlanksBeforeFirmware = 4;
constexpr int kBlanksBeforeFirmwareRestored = 34;
constexpr int kBlanksBeforeFirmwareDisconnected = 32;

QString blanks(int count) {
  return QString(count, QLatin1Char(' '));
}

}  // namespace

QString connectedLine1(const QString& firmwareVersion, LineStyle style) {
  const int gap =
      style == LineStyle::Restored ? kBlanksBeforeFirmwareRestored : kBlanksBeforeFirmware;
  return kDeviceConnected + blanks(kBlanksAfterConnected) + QStringLiteral("Talkgate") +
         blanks(gap) + kFirmwareLabel + firmwareVersion;
}

QString disconnectedLine1() {
  return kDeviceConnected + QStringLiteral("   -    ") + kNone +
         blanks(kBlanksBeforeFirmwareDisconnected) + kFirmwareLabel + kNone;
}

QString codeTableLine(const QString& keypadEntryText) {
  return QStringLiteral("Code Table Loaded      ") + keypadEntryText;
}

QString serialNumberLine(const QString& serialNumber, LineStyle style) {
  QString line = QStringLiteral("Serial Number               ") + serialNumber;
  if (style == LineStyle::Restored) {
    line += QStringLiteral("     Jack Status :") + QStringLiteral("        HV Status : ");
  }
  return line;
}

}  // namespace talkgate::app
