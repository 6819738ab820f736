#include <windows.h>

#include <cstdlib>
#include <vector>

#include "files/system_folders.h"
#include "files/win_error.h"

namespace talkgate::files {
namespace {

// The variable as UTF-8, never through the code page.
std::string environment(const wchar_t* name) {
  const wchar_t* value = ::_wgetenv(name);
  return value && value[0] != L'\0' ? utf8FromWide(value) : std::string();
}

}  // namespace

std::string userDataFolder() {
  return environment(L"LOCALAPPDATA");
}

std::string userConfigFolder() {
  return environment(L"APPDATA");
}

std::string systemConfigFolder() {
  return environment(L"ProgramData");
}

const char* userFolderVariable() {
  return "LOCALAPPDATA";
}

std::string programFolder() {
  std::vector<wchar_t> name(MAX_PATH);
  for (;;) {
    const DWORD length = ::GetModuleFileNameW(nullptr, name.data(), static_cast<DWORD>(name.size()));
    if (length == 0) return {};
    if (length < name.size()) {
      return utf8Of(std::filesystem::path(std::wstring(name.data(), length)).parent_path());
    }
    name.resize(name.size() * 2);
  }
}

}  // namespace talkgate::files
