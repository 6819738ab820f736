#pragma once
// Which loader images an upgrade may send. Real hardware gets only the product's own password
// and RAM loader, looked up at run time in an explicit folder, the user's and then the system's
// configuration folder, and last the images compiled in with TALKGATE_REAL_LOADER_DIR. Our
// stand-ins (firmware_resources.h) go only to the simulated loader: on a real part a wrong
// password mass-erases the flash and the stand-in "RAM loader" would run as code.

#include <optional>
#include <string>
#include <vector>

#include "device/hid_port.h"
#include "firmware/firmware_resources.h"

namespace talkgate::firmware {

inline constexpr char kPasswordFileName[] = "password.txt";
inline constexpr char kRamLoaderFileName[] = "RAM_BSL.txt";
inline constexpr char kRamLoaderVersionFileName[] = "RAM_BSL_VERSION.txt";  // optional
inline constexpr char kDefaultRamLoaderVersion[] = "00.06.05.34";

// Where the product's images are looked for, in order.
struct LoaderImageSources {
  std::vector<std::string> folders;
  std::optional<LoaderImageTexts> builtIn;  // compiled in; looked at after every folder
};

// $XDG_CONFIG_HOME/talkgate-utility/loader (~/.config/talkgate-utility/loader when
// XDG_CONFIG_HOME is unset or not absolute; left out when neither is known), then
// /etc/talkgate-utility/loader.
std::vector<std::string> standardLoaderFolders(const char* xdgConfigHome, const char* home);

// The standard folders of this system: the ones above on POSIX systems;
// %APPDATA%\talkgate-utility\loader, then %ProgramData%\talkgate-utility\loader on Windows.
std::vector<std::string> systemLoaderFolders();

// The sources of this process: explicitFolder when given, then the standard folders of the
// environment and the built-in images, or what setStandardLoaderImageSources() put instead.
LoaderImageSources loaderImageSources(const std::optional<std::string>& explicitFolder = {});
// Replaces the standard folders and the built-in images (tests never read the real ones);
// nullptr restores them. The caller keeps ownership.
void setStandardLoaderImageSources(const LoaderImageSources* sources);

struct LoaderImageLookup {
  std::optional<LoaderImageTexts> images;  // the usable set found
  std::string origin;                      // the folder it came from, or "built in"
  std::vector<std::string> problems;       // sentences naming an unusable file and why
};

// Looks through the sources in order. The first folder that holds any of the three files
// decides: its images are used when they pass every check, otherwise the lookup ends with the
// problems (a later folder is not used behind the operator's back). An image identical to our
// stand-in is refused too.
LoaderImageLookup findProductLoaderImages(const LoaderImageSources& sources);

// What the operator is told when a real Talkgate cannot be upgraded for want of usable images:
// the folders and file names looked for, and the problems found.
std::string missingLoaderImagesText(const LoaderImageSources& sources,
                                    const std::vector<std::string>& problems);

// Empty when an upgrade over this port may go on: always on a simulated bus, on real hardware
// only with usable product images. Otherwise the text above.
std::string loaderImagesRefusal(const hid::Port& port, const LoaderImageSources& sources);

}  // namespace talkgate::firmware
