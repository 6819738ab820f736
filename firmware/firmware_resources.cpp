#include "firmware/firmware_resources.h"

namespace talkgate::firmware {

// Generated from the resource files at build time (firmware_resources_data.cpp.in).
extern const char kPasswordResource[];
extern const char kRamBslResource[];
extern const char kRamBslVersionResource[];
extern const bool kProductImagesBuiltIn;
extern const char kProductPasswordResource[];
extern const char kProductRamBslResource[];
extern const char kProductRamBslVersionResource[];

const FirmwareResources& firmwareResources() {
  static const FirmwareResources resources{
      "0x2047",
      "0x200",
      kPasswordResource,
      kRamBslResource,
      kRamBslVersionResource,
      "@0120\r\n04 A5 \r\nq",
  };
  return resources;
}

std::optional<LoaderImageTexts> builtInProductLoaderImages() {
  if (!kProductImagesBuiltIn) return std::nullopt;
  return LoaderImageTexts{kProductPasswordResource, kProductRamBslResource,
                          kProductRamBslVersionResource};
}

std::optional<std::string> firmwareResource(std::string_view key) {
  const FirmwareResources& r = firmwareResources();
  if (key == "VID") return r.vid;
  if (key == "PID") return r.pid;
  if (key == "password.Text") return r.passwordText;
  if (key == "RAM_BSL.Text") return r.ramBslText;
  if (key == "RAM_BSL_VERSION") return r.ramBslVersion;
  if (key == "Forced_BOR.Text") return r.forcedBorText;
  return std::nullopt;
}

std::string padHexStringValue(const std::string& hexString) {
  const std::size_t length = hexString.size();
  std::string zeros;
  if (length < 4) {
    zeros = "000";
  } else if (length == 4) {
    zeros = "00";
  } else if (length == 5) {
    zeros = "0";
  } else {
    return hexString;
  }
  return hexString.substr(0, 2) + zeros + (length > 2 ? hexString.substr(2) : std::string());
}

}  // namespace talkgate::firmware
