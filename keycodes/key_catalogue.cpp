#include "keycodes/key_catalogue.h"

#include <cctype>

namespace talkgate::keycodes {

// Operators know these entries by sight, so they are kept letter for letter, odd
// spacing and trailing tabs included.
const std::array<std::string_view, kShortCodeCount> shortCodeList{
    "0x00    Reserved",
    "0x01    ErrorRollOver",
    "0x02    POSTFail",
    "0x03    ErrorUndefined",
    "0x04    a",
    "0x05    b",
    "0x06    c",
    "0x07    d",
    "0x08    e",
    "0x09    f",
    "0x0A   g",
    "0x0B    h",
    "0x0C    i",
    "0x0D    j",
    "0x0E    k",
    "0x0F    l",
    "0x10   m",
    "0x11    n",
    "0x12    o",
    "0x13    p",
    "0x14    q",
    "0x15    r",
    "0x16    s",
    "0x17    t",
    "0x18    u",
    "0x19    v",
    "0x1A   w",
    "0x1B    x",
    "0x1C    y",
    "0x1D    z",
    "0x1E    1",
    "0x1F    2",
    "0x20    3",
    "0x21    4",
    "0x22    5",
    "0x23    6",
    "0x24    7",
    "0x25    8",
    "0x26    9",
    "0x27    0",
    "0x28    Enter",
    "0x29    Escape",
    "0x2A    Backspace",
    "0x2B    Tab",
    "0x2C    Spacebar",
    "0x2D    Minus",
    "0x2E    Equal",
    "0x2F    LeftBracket",
    "0x30    RightBracket",
    "0x31    Backslash",
    "0x32    VerticalBar",
    "0x33    Semicolon",
    "0x34    Apostrophe",
    "0x35    Tilde",
    "0x36    Comma",
    "0x37    Period",
    "0x38    Slash",
    "0x39    CapsLock",
    "0x3A    F1",
    "0x3B    F2",
    "0x3C    F3",
    "0x3D    F4",
    "0x3E    F5",
    "0x3F    F6",
    "0x40    F7",
    "0x41    F8",
    "0x42    F9",
    "0x43    F10",
    "0x44    F11",
    "0x45    F12",
    "0x46    PrintScreen",
    "0x47    ScrollLock",
    "0x48    Pause",
    "0x49    Insert",
    "0x4A    Home",
    "0x4B    PageUp",
    "0x4C    DeleteForward",
    "0x4D    End",
    "0x4E    PageDown",
    "0x4F    RightArrow",
    "0x50    LeftArrow",
    "0x51    DownArrow",
    "0x52    UpArrow",
    "0x53    KeypadNumlock",
    "0x54    KeypadSlash",
    "0x55    KeypadAsterisk",
    "0x56    KeypadMinus",
    "0x57    KeypadPlus",
    "0x58    KeypadEnter",
    "0x59    Keypad1",
    "0x5A    Keypad2",
    "0x5B    Keypad3",
    "0x5C    Keypad4",
    "0x5D    Keypad5",
    "0x5E    Keypad6",
    "0x5F    Keypad7",
    "0x60    Keypad8",
    "0x61    Keypad9",
    "0x62    Keypad0",
    "0x63    KeypadPeriod",
    "0x64    NonUsBackslash",
    "0x65    WindowsKey",
    "0x66    Power",
    "0x67    KeypadEqual",
    "0x68    F13",
    "0x69    F14",
    "0x6A    F15",
    "0x6B    F16",
    "0x6C    F17",
    "0x6D    F18",
    "0x6E    F19",
    "0x6F    F20",
    "0x70    F21",
    "0x71    F22",
    "0x72    F23",
    "0x73    F24",
    "0x74    N/A\t\t\t\t",
    "0x75    N/A\t\t\t\t",
    "0x76    Menu",
    "0x77    N/A",
    "0x78    N/A",
    "0x79    N/A",
    "0x7A    N/A",
    "0x7B    N/A",
    "0x7C    N/A",
    "0x7D    N/A",
    "0x7E     N/A",
    "0x7F     N/A",
    "0x80     VolumeUp\t\t\t",
    "0x81     VolumeDown\t\t\t",
};

const std::array<std::string_view, kModifierCount> modifierList{
    " None",       "Left  Ctrl",  "Left Shift",   "Left    Alt", "Left   Gui",
    "Right  Ctrl", "Right Shift", "Right    Alt", "Right   Gui",
};

const std::array<std::string_view, kModifierCount> modifierNames{
    "None",      "LeftCtrl",   "LeftShift", "LeftAlt",  "LeftGui",
    "RightCtrl", "RightShift", "RightAlt",  "RightGui",
};

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";
constexpr std::size_t kPrefixLength = 4;  // "0x" and two digits

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string FormatKeyCode(int code) {
  const unsigned byte = static_cast<unsigned>(code) & 0xFFu;
  return std::string{'0', 'x', kHexDigits[byte >> 4], kHexDigits[byte & 0xFu]};
}

int ModifierIndexToByte(int index) {
  if (index == 0) return 0;
  if (index >= 1 && index < static_cast<int>(kModifierCount)) return kModifierByteOffset + index;
  return -1;
}

int ModifierByteToIndex(int byte) {
  return byte >= kFirstModifierByte ? byte - kModifierByteOffset : byte;
}

bool isModifierByte(int byte) {
  return byte == 0 || (byte >= kFirstModifierByte && byte <= kLastModifierByte);
}

bool hasModifierEntry(int byte) {
  const int index = ModifierByteToIndex(byte);
  return byte >= 0 && byte <= 0xFF && index >= 0 && index < static_cast<int>(kModifierCount);
}

std::string_view keyName(int code) {
  if (code < 0 || code > kLastListedCode) return {};
  std::string_view entry = shortCodeList[static_cast<std::size_t>(code)];
  entry.remove_prefix(kPrefixLength);
  while (!entry.empty() && entry.front() == ' ') entry.remove_prefix(1);
  while (!entry.empty() && (entry.back() == '\t' || entry.back() == ' ')) entry.remove_suffix(1);
  return entry;
}

std::optional<std::uint8_t> keyCodeByName(std::string_view name) {
  if (name.empty()) return std::nullopt;
  std::optional<std::uint8_t> exact;
  std::optional<std::uint8_t> folded;
  int exactCount = 0;
  int foldedCount = 0;
  for (int code = 0; code <= kLastListedCode; ++code) {
    const std::string_view candidate = keyName(code);
    if (candidate == name) {
      exact = static_cast<std::uint8_t>(code);
      ++exactCount;
    } else if (equalsIgnoringCase(candidate, name)) {
      folded = static_cast<std::uint8_t>(code);
      ++foldedCount;
    }
  }
  // "N/A" names several codes; such a name picks none of them.
  if (exactCount == 1) return exact;
  if (exactCount == 0 && foldedCount == 1) return folded;
  return std::nullopt;
}

std::optional<std::uint8_t> parseKeyCode(std::string_view text) {
  if (text.size() >= 3 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    if (text.size() > 4) return std::nullopt;
    int value = 0;
    for (char c : text.substr(2)) {
      const int digit = hexValue(c);
      if (digit < 0) return std::nullopt;
      value = value * 16 + digit;
    }
    return static_cast<std::uint8_t>(value);
  }
  return keyCodeByName(text);
}

std::optional<std::uint8_t> modifierByteByName(std::string_view name) {
  for (std::size_t index = 0; index < kModifierCount; ++index) {
    if (equalsIgnoringCase(modifierNames[index], name))
      return static_cast<std::uint8_t>(ModifierIndexToByte(static_cast<int>(index)));
  }
  return std::nullopt;
}

std::string_view modifierName(int byte) {
  if (!isModifierByte(byte)) return {};
  return modifierNames[static_cast<std::size_t>(ModifierByteToIndex(byte))];
}

}  // namespace talkgate::keycodes
