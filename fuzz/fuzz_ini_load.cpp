// Loads arbitrary files with the INI store, then saves and reloads what it read.

#include <unistd.h>

#include <fstream>
#include <stdexcept>
#include <string>

#include "config/ini_file.h"

using talkgate::config::CIniFile;

namespace {
std::string scratchPath(const char* name) {
  // tmpfs keeps the store's fsync cheap.
  return "/dev/shm/talkgate-fuzz-" + std::to_string(getpid()) + "-" + name;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string in = scratchPath("in.ini");
  static const std::string out = scratchPath("out.ini");
  {
    std::ofstream file(in, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  std::vector<CIniFile::Record> records;
  try {
    if (!CIniFile::Load(in, records)) return 0;
  } catch (const std::out_of_range&) {
    return 0;  // a header without "]" is reported this way by design
  }
  // Saving what was loaded must work, and reading it back may only fail in the documented way.
  if (!CIniFile::Save(out, records)) return 0;
  std::vector<CIniFile::Record> again;
  try {
    CIniFile::Load(out, again);
  } catch (const std::out_of_range&) {
  }
  CIniFile::GetValue("LEDBrightness", "appSettings", in);
  CIniFile::SetValue("FirmwareFile", "fw[2].txt", "appSettings", in);
  return 0;
}
