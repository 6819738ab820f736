#pragma once
// The texts of the main window's three status lines. The runs of blanks line the values up and
// are part of the texts.

#include <QString>

namespace talkgate::app {

// The restore writes the lines with wider spacing and two extra fields on line 3.
enum class LineStyle { Normal, Restored };

// Line 1 while a device is connected.
QString connectedLine1(const QString& firmwareVersion, LineStyle style = LineStyle::Normal);
// Line 1 while no device is connected.
QString disconnectedLine1();
// Line 2: which key code table the device uses, by the keypad list's entry text.
QString codeTableLine(const QString& keypadEntryText);
// Line 3: the device's serial number.
QString serialNumberLine(const QString& serialNumber, LineStyle style = LineStyle::Normal);

}  // namespace talkgate::app
