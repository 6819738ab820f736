#include <cstdlib>
#include <filesystem>

#include "files/system_folders.h"

namespace talkgate::files {
namespace {

std::string fromHome(const char* variable, const char* underHome) {
  const char* set = std::getenv(variable);
  if (set && set[0] == '/') return set;
  const char* home = std::getenv("HOME");
  if (home && home[0] != '\0') return std::string(home) + underHome;
  return {};
}

}  // namespace

std::string userDataFolder() {
  return fromHome("XDG_DATA_HOME", "/.local/share");
}

std::string userConfigFolder() {
  return fromHome("XDG_CONFIG_HOME", "/.config");
}

std::string systemConfigFolder() {
  return "/etc";
}

const char* userFolderVariable() {
  return "HOME";
}

std::string programFolder() {
  std::error_code error;
  const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::string() : program.parent_path().string();
}

}  // namespace talkgate::files
