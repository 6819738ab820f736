#pragma once
// Made-up product loader images (never the real ones) in folders of the test's own, and the
// lookup pointed at such folders only, so that no test reads the real ~/.config or /etc.

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "firmware/loader_images.h"

namespace talkgate::firmware::test {

// 32 bytes at 0xFFE0, unlike our stand-in's, starting with firstByte (two hex digits).
inline std::string madeUpPassword(const std::string& firstByte = "A0") {
  return "@FFE0\n" + firstByte +
         " A1 A2 A3 A4 A5 A6 A7 A8 A9 AA AB AC AD AE AF\n"
         "B0 B1 B2 B3 B4 B5 B6 B7 B8 B9 BA BB BC BD BE BF\nq\n";
}

// A RAM loader at 0x2500 holding its start address 0x2504; its first four bytes are the version
// 00.06.05.34 the simulated loader reports.
inline const std::string kMadeUpRamLoader = "@2500\n00 06 05 34 40 31 00 44 B0 13 10 25\nq\n";

// Writes loader images into folder (created as needed); an empty text leaves its file out.
inline void writeLoaderImages(const std::filesystem::path& folder, const std::string& password,
                              const std::string& ramLoader, const std::string& version = "") {
  std::filesystem::create_directories(folder);
  for (const auto& [name, text] :
       {std::pair{kPasswordFileName, password}, std::pair{kRamLoaderFileName, ramLoader},
        std::pair{kRamLoaderVersionFileName, version}}) {
    if (!text.empty()) std::ofstream(folder / name, std::ios::binary) << text;
  }
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
