#pragma once
// Made-up product loader images (never the product's real ones) written into folders of the
// test's own, and the lookup pointed at such folders only, so that no test reads the real
// ~/.config or /etc.

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "firmware/loader_images.h"

namespace talkgate::firmware::test {

// TI-TXT of bytes first, first + 1, ... at address, 16 a line.
inline std::string countingImage(std::uint32_t address, std::size_t count, std::uint8_t first) {
  static const char* const kDigits = "0123456789ABCDEF";
  char at[16];
  std::snprintf(at, sizeof at, "@%04X\n", static_cast<unsigned>(address));
  std::string text = at;
  for (std::size_t i = 0; i < count; ++i) {
    const auto b = static_cast<std::uint8_t>(first + i);
    text += kDigits[b >> 4];
    text += kDigits[b & 15];
    text += (i % 16 == 15 || i + 1 == count) ? '\n' : ' ';
  }
  return text + "q\n";
}

// 32 bytes at 0xFFE0 that are not our stand-in's.
inline std::string madeUpPassword(std::uint8_t first = 0xA0) {
  return countingImage(0xFFE0, 32, first);
}

// A RAM loader at 0x2500 that reports version 00.06.05.34 (its first four bytes, as the
// simulated loader reads them) and holds its start address 0x2504.
inline std::string madeUpRamLoader() {
  return "@2500\n00 06 05 34 40 31 00 44 B0 13 10 25 FF 3F\nq\n";
}

// Writes loader images into folder (created as needed); an empty text leaves its file out.
inline void writeLoaderImages(const std::filesystem::path& folder, const std::string& password,
                              const std::string& ramLoader, const std::string& version = "") {
  std::filesystem::create_directories(folder);
  const auto put = [&folder](const char* name, const std::string& text) {
    if (!text.empty()) std::ofstream(folder / name, std::ios::binary) << text;
  };
  put(kPasswordFileName, password);
  put(kRamLoaderFileName, ramLoader);
  put(kRamLoaderVersionFileName, version);
}

// Makes these the standard sources of the lookup for the guard's lifetime.
class ScopedLoaderImageSources {
 public:
  explicit ScopedLoaderImageSources(std::vector<std::string> folders,
                                    std::optional<LoaderImageTexts> builtIn = std::nullopt)
      : sources_{std::move(folders), std::move(builtIn)} {
    setStandardLoaderImageSources(&sources_);
  }
  ~ScopedLoaderImageSources() { setStandardLoaderImageSources(nullptr); }
  ScopedLoaderImageSources(const ScopedLoaderImageSources&) = delete;
  ScopedLoaderImageSources& operator=(const ScopedLoaderImageSources&) = delete;

  const LoaderImageSources& sources() const { return sources_; }

 private:
  LoaderImageSources sources_;
};

}  // namespace talkgate::firmware::test
