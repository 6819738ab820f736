// Loads arbitrary bytes with the INI store. Whatever loads must come back unchanged from its
// own saved text (the round trip), and a change through SetValue must keep every other record
// and refuse a value that would add lines.

#include <unistd.h>

#include <fstream>
#include <stdexcept>
#include <string>
#include <string_view>

#include "config/ini_file.h"

using talkgate::config::CIniFile;
using Records = std::vector<CIniFile::Record>;

namespace {

std::string scratchPath(const char* name) {
  // tmpfs keeps the store's fsync cheap.
  return "/dev/shm/talkgate-fuzz-" + std::to_string(getpid()) + "-" + name;
}

bool same(const CIniFile::Record& a, const CIniFile::Record& b) {
  return a.Comments == b.Comments && a.Commented == b.Commented && a.Section == b.Section &&
         a.Key == b.Key && a.Value == b.Value;
}

bool same(const Records& a, const Records& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (!same(a[i], b[i])) return false;
  }
  return true;
}

void check(bool condition) {
  if (!condition) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  Records records;
  try {
    records = talkgate::config::parseIniText(text);
  } catch (const std::out_of_range&) {
    return 0;  // a header without "]" is reported this way by design
  }
  // The round trip: saved text loads back to the same records and the same text.
  const std::string saved = talkgate::config::iniText(records);
  const Records again = talkgate::config::parseIniText(saved);
  check(same(records, again));
  check(talkgate::config::iniText(again) == saved);

  // Through the file: a refused value changes nothing, an accepted one only its own record.
  static const std::string file = scratchPath("in.ini");
  {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
  }
  check(!CIniFile::SetValue("FirmwareFile", "fw\r\n LEDBrightness=9", "appSettings", file));
  Records unchanged;
  check(CIniFile::Load(file, unchanged) && same(unchanged, records));
  check(CIniFile::SetValue("FirmwareFile", "fw[2].txt", "appSettings", file));
  Records changed;
  check(CIniFile::Load(file, changed));
  check(CIniFile::GetValue("FirmwareFile", "appSettings", file) == "fw[2].txt");
  std::size_t kept = 0;
  for (const auto& rec : records) {
    for (const auto& now : changed) {
      if (same(rec, now)) {
        ++kept;
        break;
      }
    }
  }
  check(kept + 1 >= records.size());  // at most the one FirmwareFile record changed
  return 0;
}
