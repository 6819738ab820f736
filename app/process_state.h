#pragma once
// State the main window shares with the rest of the process.

#include <QString>
#include <array>
#include <cstddef>
#include <cstdint>

namespace dorrin_usb_encoder {

inline constexpr std::size_t kKeyCodeArraySize = 32;
inline constexpr std::size_t kStatusLineCount = 3;

// Bytes 0 to 11 hold the key code table of the last status read; the rest stay 0.
extern std::array<std::uint8_t, kKeyCodeArraySize> keyCodeArray;
// The three lines of the main window's status box.
extern std::array<QString, kStatusLineCount> configArray;

}  // namespace dorrin_usb_encoder
