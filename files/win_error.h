#pragma once
// Windows only: a system error code as the program's messages word it, and UTF-8 text as the
// wide text the system's calls take. Included by the *_win.cpp files alone.

#include <windows.h>

#include <string>
#include <system_error>

#include "files/utf8_path.h"

namespace talkgate::files {

// The same words the POSIX build gives for the common cases; the system's text otherwise.
inline std::string windowsErrorText(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return "it does not exist";
    case ERROR_ACCESS_DENIED:
      return "Permission denied";
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return "another program is using it";
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return "No space left on device";
    case ERROR_WRITE_PROTECT:
      return "Read-only file system";
    default:
      break;
  }
  std::string text = std::system_category().message(static_cast<int>(error));
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == '.')) {
    text.pop_back();
  }
  return text.empty() ? "error " + std::to_string(error) : text;
}

inline std::wstring wideFromUtf8(const std::string& text) {
  return pathFromUtf8(text).wstring();
}

inline std::string utf8FromWide(const std::wstring& text) {
  return utf8Of(std::filesystem::path(text));
}

// Closes a handle however the scope ends.
class HandleCloser {
 public:
  explicit HandleCloser(HANDLE handle) : handle_(handle) {}
  ~HandleCloser() {
    if (handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr) ::CloseHandle(handle_);
  }
  HandleCloser(const HandleCloser&) = delete;
  HandleCloser& operator=(const HandleCloser&) = delete;

 private:
  HANDLE handle_;
};

}  // namespace talkgate::files
