// The atomic writer on Windows: a new temporary beside the target, written whole, flushed and
// moved over the target with MoveFileExW. A target another program holds open is tried again
// for a while.

#include <windows.h>

#include "config/atomic_file.h"
#include "config/atomic_file_os.h"
#include "files/win_error.h"

namespace fs = std::filesystem;

namespace talkgate::config::detail {
namespace {

using files::HandleCloser;
using files::windowsErrorText;

bool failWith(std::string* reason, DWORD error) {
  return fail(reason, windowsErrorText(error));
}

bool busy(DWORD error) {
  return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
         error == ERROR_ACCESS_DENIED || error == ERROR_USER_MAPPED_FILE;
}

bool writeAll(HANDLE handle, std::string_view bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1 << 20));
    DWORD written = 0;
    if (!::WriteFile(handle, bytes.data() + done, piece, &written, nullptr) || written == 0) {
      return false;
    }
    done += written;
  }
  return true;
}

// A read-only file is not replaced behind the user's back.
bool checkWritable(const std::wstring& target, std::string* reason) {
  const DWORD attributes = ::GetFileAttributesW(target.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
    return fail(reason, "it is read-only");
  }
  const HANDLE handle = ::CreateFileW(target.c_str(), GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle != INVALID_HANDLE_VALUE) {
    ::CloseHandle(handle);
    return true;
  }
  const DWORD error = ::GetLastError();
  if (error == ERROR_ACCESS_DENIED) return fail(reason, "it is read-only");
  // Held open by another program: the replace below waits for it.
  return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
         failWith(reason, error);
}

// Moves temp over target, trying again while another program holds target. (ReplaceFileW is
// not used: where it fails on a held file, wine leaves copies of its own behind.) The new file
// takes the target's hidden, system and archive attributes; its access list is the folder's,
// as for any new file there.
DWORD moveInPlace(const std::wstring& temp, const std::wstring& target, bool sync) {
  const DWORD attributes = ::GetFileAttributesW(target.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    ::SetFileAttributesW(temp.c_str(), attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                                     FILE_ATTRIBUTE_ARCHIVE));
  }
  const DWORD flags = MOVEFILE_REPLACE_EXISTING | (sync ? MOVEFILE_WRITE_THROUGH : 0);
  DWORD error = ERROR_SUCCESS;
  for (int attempt = 0; attempt < kBusyTries; ++attempt) {
    if (attempt > 0) busyWait(kBusyPause);
    if (::MoveFileExW(temp.c_str(), target.c_str(), flags)) return ERROR_SUCCESS;
    error = ::GetLastError();
    if (!busy(error)) return error;
  }
  return ERROR_SHARING_VIOLATION;
}

}  // namespace

long currentProcessId() {
  return static_cast<long>(::GetCurrentProcessId());
}

bool processGone(long pid) {
  if (pid <= 0) return false;
  const HANDLE process =
      ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
  if (process == nullptr) return ::GetLastError() == ERROR_INVALID_PARAMETER;
  HandleCloser closer(process);
  DWORD code = 0;
  return ::GetExitCodeProcess(process, &code) && code != STILL_ACTIVE;
}

fs::path writeTemporary(const fs::path& target, bool exists, std::string_view bytes, bool sync,
                        std::string* reason) {
  const std::wstring wideTarget = target.wstring();
  if (exists && !checkWritable(wideTarget, reason)) return {};
  removeStaleTemporaries(files::utf8Of(target));

  const fs::path temp = temporaryNameFor(target);
  // CREATE_NEW: a name planted in the meantime makes this fail instead of being used.
  const HANDLE handle = ::CreateFileW(temp.wstring().c_str(), GENERIC_WRITE, 0, nullptr,
                                      CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    if (exists && (error == ERROR_ACCESS_DENIED || error == ERROR_WRITE_PROTECT)) {
      // Rewriting the file where it is could cut it (a full disk, a kill): refused instead.
      fail(reason, "its folder takes no new file (" + windowsErrorText(error) +
                       "), so it cannot be replaced safely");
      return {};
    }
    failWith(reason, error);
    return {};
  }
  DWORD error = ERROR_SUCCESS;
  if (!writeAll(handle, bytes) || (sync && !::FlushFileBuffers(handle))) error = ::GetLastError();
  if (!::CloseHandle(handle) && error == ERROR_SUCCESS) error = ::GetLastError();
  if (error != ERROR_SUCCESS) {
    ::DeleteFileW(temp.wstring().c_str());
    failWith(reason, error);
    return {};
  }
  return temp;
}

bool putInPlace(const fs::path& temporary, const fs::path& target, bool sync,
                std::string* reason) {
  const DWORD error = moveInPlace(temporary.wstring(), target.wstring(), sync);
  if (error == ERROR_SUCCESS) return true;
  ::DeleteFileW(temporary.wstring().c_str());
  return failWith(reason, error);
}

void removeTemporary(const fs::path& temporary) {
  ::DeleteFileW(temporary.wstring().c_str());
}

}  // namespace talkgate::config::detail
