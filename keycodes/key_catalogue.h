#pragma once
// The vocabulary of key code tables: USB HID keyboard usages with their display names, the
// modifier keys, and the conversions between list positions and the bytes a table holds.
// Plain C++; holds no state and talks to nothing.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace talkgate::keycodes {

inline constexpr std::size_t kShortCodeCount = 130;  // code bytes 0x00 to 0x81
inline constexpr std::size_t kModifierCount = 9;     // "none" and the eight modifier keys
inline constexpr int kLastListedCode = 0x81;
inline constexpr int kFirstModifierByte = 0xE0;    // left control
inline constexpr int kLastModifierByte = 0xE7;     // right GUI
inline constexpr int kModifierByteOffset = 0xDF;   // byte = index + offset for indices 1 to 8
inline constexpr std::size_t kKeyTableBytes = 12;  // 6 slots of (modifier, code)
inline constexpr std::size_t kKeyTableSlots = kKeyTableBytes / 2;

// Display entries, one per code byte in code order ("0x28    Enter"). Some entries carry odd
// spacing and trailing tabs; they are shown exactly as they are and never parsed.
extern const std::array<std::string_view, kShortCodeCount> shortCodeList;

// Display entries of the modifiers by index 0 to 8 (" None", "Left  Ctrl", ...).
extern const std::array<std::string_view, kModifierCount> modifierList;

// Short names of the modifiers by index, for typing ("None", "LeftCtrl", ..., "RightGui").
extern const std::array<std::string_view, kModifierCount> modifierNames;

// The table the editor's Reset restores: no modifiers; F20, F21, F22, F23, UpArrow, Enter.
inline constexpr std::array<std::uint8_t, kKeyTableBytes> kResetKeyTable{
    0x00, 0x6F, 0x00, 0x70, 0x00, 0x71, 0x00, 0x72, 0x00, 0x52, 0x00, 0x28};

// "0x" and the low 8 bits of code as two uppercase hexadecimal digits: 15 gives "0x0F".
std::string FormatKeyCode(int code);

// Modifier byte of a list index: 0 gives 0, 1 to 8 give 0xE0 to 0xE7; any other index -1.
int ModifierIndexToByte(int index);

// List index of a modifier byte: 0xE0 and above give byte - 0xDF, smaller bytes are taken as
// the index itself. The result is outside 0 to 8 for bytes with no list entry.
int ModifierByteToIndex(int byte);

// True when byte has a modifierList entry of its own: 0 or 0xE0 to 0xE7.
bool isModifierByte(int byte);

// True when the byte maps through ModifierByteToIndex onto a modifierList entry (0 to 8 and
// 0xE0 to 0xE7). Other bytes are kept raw by the editor.
bool hasModifierEntry(int byte);

// Display name of a listed code ("Enter", "a", "F20"); empty for codes above 0x81.
std::string_view keyName(int code);

// Code byte of a display name. Exact match first, then a unique case-insensitive match, so
// "Enter", "enter" and "F20" work; "N/A" and unknown names give nullopt.
std::optional<std::uint8_t> keyCodeByName(std::string_view name);

// Code byte of a name or of a "0x" code ("0x6F", "0xe2"; up to 0xFF); nullopt otherwise.
std::optional<std::uint8_t> parseKeyCode(std::string_view text);

// Modifier byte of a short name ("LeftShift" gives 0xE1), case-insensitive; nullopt otherwise.
std::optional<std::uint8_t> modifierByteByName(std::string_view name);

// Short name of a modifier byte ("None", "LeftCtrl", ...); empty for bytes with no entry.
std::string_view modifierName(int byte);

}  // namespace talkgate::keycodes
