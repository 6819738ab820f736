#pragma once
// The resource set "Firmware" built into the program: the loader's identifiers, the loader
// password image, the RAM loader image and its version, and the reset image.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace talkgate::firmware {

inline constexpr std::uint32_t kRamLoaderEntry = 0x2504;  // Load PC target of the RAM loader

struct FirmwareResources {
  std::string vid;            // "VID"
  std::string pid;            // "PID"
  std::string passwordText;   // "password.Text": 32 bytes at 0xFFE0
  std::string ramBslText;     // "RAM_BSL.Text": loaded at 0x2500, started at 0x2504
  std::string ramBslVersion;  // "RAM_BSL_VERSION", for instance "00.06.05.34"
  std::string forcedBorText;  // "Forced_BOR.Text": 04 A5 at 0x0120
};

// The set compiled in, with our own stand-in loader images: what the simulated loader is given.
// Real hardware never gets these (loader_images.h picks the product's images for it).
const FirmwareResources& firmwareResources();

// The product's loader password and RAM loader images, with the RAM loader's version.
struct LoaderImageTexts {
  std::string passwordText;   // 32 bytes at 0xFFE0
  std::string ramBslText;     // the RAM loader, started at 0x2504
  std::string ramBslVersion;  // "00.06.05.34"
};

// The product's images compiled in with TALKGATE_REAL_LOADER_DIR; nullopt in a build without.
std::optional<LoaderImageTexts> builtInProductLoaderImages();

// One resource by its key ("VID", "PID", "password.Text", "RAM_BSL.Text",
// "RAM_BSL_VERSION", "Forced_BOR.Text"); nullopt for another key.
std::optional<std::string> firmwareResource(std::string_view key);

// Widens "0x" + 1 to 3 hex digits to "0x" + 4 digits ("0x200" -> "0x0200"); longer texts are
// returned unchanged.
std::string padHexStringValue(const std::string& hexString);

}  // namespace talkgate::firmware
