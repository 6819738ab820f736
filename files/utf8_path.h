#pragma once
// Every path the program holds as text is UTF-8. These turn such text into a path and back
// without the system's narrow code page in between (which on Windows is not UTF-8).

#include <filesystem>
#include <string>
#include <string_view>

namespace talkgate::files {

inline std::filesystem::path pathFromUtf8(std::string_view text) {
  return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

inline std::string utf8Of(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

}  // namespace talkgate::files
