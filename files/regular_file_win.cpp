// The file checks on Windows: device names (CON, NUL, COM1, \\.\...) and pipes are turned away
// by name before anything is opened; everything else is opened without access to see what it
// is, then read with the others' reads and writes still allowed.

#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <cwctype>

#include "files/regular_file.h"
#include "files/win_error.h"

namespace talkgate::files {
namespace {

constexpr DWORD kReadChunk = 64 * 1024;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

std::wstring lower(std::wstring text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](wchar_t c) { return static_cast<wchar_t>(std::towlower(c)); });
  return text;
}

// CON, PRN, AUX, NUL, COM1-9 and LPT1-9 name a device in any folder and with any extension.
bool isReservedDeviceName(const std::filesystem::path& path) {
  std::wstring stem = lower(path.filename().wstring());
  stem = stem.substr(0, stem.find(L'.'));
  while (!stem.empty() && (stem.back() == L' ' || stem.back() == L':')) stem.pop_back();
  if (stem == L"con" || stem == L"prn" || stem == L"aux" || stem == L"nul" || stem == L"conin$" ||
      stem == L"conout$") {
    return true;
  }
  return stem.size() == 4 && (stem.rfind(L"com", 0) == 0 || stem.rfind(L"lpt", 0) == 0) &&
         stem[3] >= L'1' && stem[3] <= L'9';
}

// \\.\pipe\... is a pipe, any other \\.\... a device; \\?\C:\... is an ordinary path.
FileKind kindByName(const std::wstring& path) {
  const std::wstring text = lower(path);
  std::wstring device;
  if (text.rfind(L"\\\\.\\", 0) == 0 || text.rfind(L"//./", 0) == 0) device = text.substr(4);
  if (device.rfind(L"pipe\\", 0) == 0 || device.rfind(L"pipe/", 0) == 0) return FileKind::Fifo;
  if (!device.empty()) return FileKind::DeviceNode;
  if (isReservedDeviceName(std::filesystem::path(path))) return FileKind::DeviceNode;
  return FileKind::Missing;  // nothing known from the name alone
}

FileKind kindOfHandle(HANDLE handle) {
  switch (::GetFileType(handle)) {
    case FILE_TYPE_CHAR:
      return FileKind::DeviceNode;
    case FILE_TYPE_PIPE:
      return FileKind::Fifo;
    case FILE_TYPE_DISK:
      break;
    default:
      return FileKind::Other;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandle(handle, &info)) return FileKind::Other;
  return (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? FileKind::Directory
                                                            : FileKind::Regular;
}

}  // namespace

FileKind kindOf(const std::string& path, int* error) {
  if (path.empty()) return FileKind::Missing;
  const std::wstring wide = wideFromUtf8(path);
  const FileKind byName = kindByName(wide);
  if (byName != FileKind::Missing) return byName;
  // No access asked: this sees what the path is (links followed) even while another program
  // holds it open, and opens no device.
  const HANDLE handle = ::CreateFileW(wide.c_str(), 0, kShareAll, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD failure = ::GetLastError();
    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
      return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? FileKind::Directory : FileKind::Regular;
    }
    // Only these say that nothing is there; any other failure hides what is.
    if (failure == ERROR_FILE_NOT_FOUND || failure == ERROR_PATH_NOT_FOUND ||
        failure == ERROR_INVALID_NAME || failure == ERROR_BAD_NETPATH) {
      return FileKind::Missing;
    }
    if (error) *error = failure == ERROR_ACCESS_DENIED ? EACCES : EIO;
    return FileKind::Unreachable;
  }
  HandleCloser closer(handle);
  return kindOfHandle(handle);
}

bool readRegularFile(const std::string& path, std::size_t maxBytes, std::string& bytes,
                     std::string& reason) {
  bytes.clear();
  if (path.empty()) {
    reason = "no file name was given";
    return false;
  }
  int error = 0;
  const FileKind kind = kindOf(path, &error);
  if (kind != FileKind::Regular && kind != FileKind::Missing) {
    reason = notRegularReason(kind, error);
    return false;
  }
  const HANDLE handle =
      ::CreateFileW(wideFromUtf8(path).c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    reason = windowsErrorText(::GetLastError());
    return false;
  }
  HandleCloser closer(handle);
  const FileKind opened = kindOfHandle(handle);
  if (opened != FileKind::Regular) {
    reason = notRegularReason(opened);
    return false;
  }
  const std::string tooLarge = "it is larger than " + sizeText(maxBytes);
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(handle, &size)) {
    reason = windowsErrorText(::GetLastError());
    return false;
  }
  if (static_cast<unsigned long long>(size.QuadPart) > maxBytes) {
    reason = tooLarge;
    return false;
  }
  std::string read;
  read.reserve(static_cast<std::size_t>(size.QuadPart));
  std::string chunk(kReadChunk, '\0');
  for (;;) {
    DWORD got = 0;
    if (!::ReadFile(handle, chunk.data(), kReadChunk, &got, nullptr)) {
      reason = windowsErrorText(::GetLastError());
      return false;
    }
    if (got == 0) break;
    // A file that grows while it is read is held to the same cap.
    if (read.size() + got > maxBytes) {
      reason = tooLarge;
      return false;
    }
    read.append(chunk.data(), got);
  }
  bytes = std::move(read);
  reason.clear();
  return true;
}

}  // namespace talkgate::files
