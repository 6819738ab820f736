#include "firmware/loader_images.h"

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "firmware/loader_image_check.h"
#include "firmware/ti_txt.h"
#include "files/system_folders.h"
#include "files/utf8_path.h"

namespace talkgate::firmware {
namespace {

constexpr char kProgramFolder[] = "/talkgate-utility/loader";
constexpr char kSystemFolder[] = "/etc/talkgate-utility/loader";

std::atomic<const LoaderImageSources*> standardOverride{nullptr};

bool exists(const std::string& path) {
  std::error_code ignored;
  return std::filesystem::exists(files::pathFromUtf8(path), ignored);
}

// The bytes a TI-TXT text puts into memory; empty when it does not parse.
std::vector<TiTxtSection> contentOf(const std::string& text) {
  TiTxtImage image;
  TiTxtError error;
  if (!parseTiTxt(text, image, error)) return {};
  for (TiTxtSection& section : image.sections) section.line = 0;  // layout is not content
  return image.sections;
}

bool sameContent(const std::string& a, const std::string& b) {
  const auto left = contentOf(a);
  const auto right = contentOf(b);
  if (left.empty() || left.size() != right.size()) return false;
  for (std::size_t i = 0; i < left.size(); ++i) {
    if (left[i].address != right[i].address || left[i].data != right[i].data) return false;
  }
  return true;
}

// Checks one set of images; every problem becomes a sentence starting with the name given.
void checkImages(const LoaderImageTexts& images, const std::string& passwordName,
                 const std::string& ramLoaderName, const std::string& versionName,
                 std::vector<std::string>& problems) {
  const FirmwareResources& standIns = firmwareResources();
  std::string why = passwordImageProblem(images.passwordText);
  if (why.empty() && sameContent(images.passwordText, standIns.passwordText)) {
    why = "is our stand-in for the simulated Talkgate, not the product's password";
  }
  if (!why.empty()) problems.push_back(passwordName + " " + why + ".");
  const bool versionFormed = ramLoaderVersionProblem(images.ramBslVersion).empty();
  why = ramLoaderImageProblem(images.ramBslText, versionFormed ? images.ramBslVersion : "");
  if (why.empty() && sameContent(images.ramBslText, standIns.ramBslText)) {
    why = "is our stand-in for the simulated Talkgate, not the product's RAM loader";
  }
  if (!why.empty()) problems.push_back(ramLoaderName + " " + why + ".");
  why = ramLoaderVersionProblem(images.ramBslVersion);
  if (!why.empty())
    problems.push_back(versionName + " '" + images.ramBslVersion + "' " + why + ".");
}

// Reads one file of a folder; a problem when it is missing or unreadable.
bool readImageFile(const std::string& path, std::string& text, std::vector<std::string>& problems) {
  if (!exists(path)) {
    problems.push_back(path + " is missing.");
    return false;
  }
  TiTxtError error;
  if (!readTextFile(path, text, error)) {
    problems.push_back(path + " cannot be read: " + error.text() + ".");
    return false;
  }
  return true;
}

// The images of one folder, or the problems that make them unusable.
LoaderImageLookup lookInFolder(const std::string& folder) {
  LoaderImageLookup result;
  result.origin = folder;
  const std::string password = folder + "/" + kPasswordFileName;
  const std::string ramLoader = folder + "/" + kRamLoaderFileName;
  const std::string version = folder + "/" + kRamLoaderVersionFileName;
  LoaderImageTexts images{{}, {}, kDefaultRamLoaderVersion};
  const bool passwordRead = readImageFile(password, images.passwordText, result.problems);
  const bool ramLoaderRead = readImageFile(ramLoader, images.ramBslText, result.problems);
  if (exists(version)) {
    std::string text;
    if (readImageFile(version, text, result.problems)) {
      images.ramBslVersion = text.substr(0, text.find_first_of("\r\n"));
      while (!images.ramBslVersion.empty() &&
             (images.ramBslVersion.back() == ' ' || images.ramBslVersion.back() == '\t')) {
        images.ramBslVersion.pop_back();
      }
    }
  }
  if (passwordRead && ramLoaderRead)
    checkImages(images, password, ramLoader, version, result.problems);
  if (result.problems.empty()) result.images = std::move(images);
  return result;
}

bool holdsAnyImage(const std::string& folder) {
  for (const char* name : {kPasswordFileName, kRamLoaderFileName, kRamLoaderVersionFileName}) {
    if (exists(folder + "/" + name)) return true;
  }
  return false;
}

}  // namespace

std::vector<std::string> standardLoaderFolders(const char* xdgConfigHome, const char* home) {
  std::vector<std::string> folders;
  if (xdgConfigHome != nullptr && xdgConfigHome[0] == '/') {
    folders.push_back(std::string(xdgConfigHome) + kProgramFolder);
  } else if (home != nullptr && home[0] != '\0') {
    folders.push_back(std::string(home) + "/.config" + kProgramFolder);
  }
  folders.push_back(kSystemFolder);
  return folders;
}

std::vector<std::string> systemLoaderFolders() {
  std::vector<std::string> folders;
  for (const std::string& base : {files::userConfigFolder(), files::systemConfigFolder()}) {
    if (base.empty()) continue;
    folders.push_back(files::utf8Of(files::pathFromUtf8(base) / "talkgate-utility" / "loader"));
  }
  return folders;
}

LoaderImageSources loaderImageSources(const std::optional<std::string>& explicitFolder) {
  LoaderImageSources sources;
  if (const LoaderImageSources* replaced = standardOverride.load()) {
    sources = *replaced;
  } else {
    sources.folders = systemLoaderFolders();
    sources.builtIn = builtInProductLoaderImages();
  }
  if (explicitFolder) sources.folders.insert(sources.folders.begin(), *explicitFolder);
  return sources;
}

void setStandardLoaderImageSources(const LoaderImageSources* sources) {
  standardOverride.store(sources);
}

LoaderImageLookup findProductLoaderImages(const LoaderImageSources& sources) {
  for (const std::string& folder : sources.folders) {
    if (holdsAnyImage(folder)) return lookInFolder(folder);
  }
  LoaderImageLookup result;
  if (sources.builtIn) {
    result.origin = "built in";
    checkImages(*sources.builtIn, "The password image built into this program",
                "The RAM loader image built into this program",
                "The RAM loader version built into this program", result.problems);
    if (result.problems.empty()) result.images = sources.builtIn;
  }
  return result;
}

std::string missingLoaderImagesText(const LoaderImageSources& sources,
                                    const std::vector<std::string>& problems) {
  std::string text =
      "A real Talkgate can only be upgraded with the product's loader images, and no usable "
      "ones were found. Looked for " +
      std::string(kPasswordFileName) + " and " + kRamLoaderFileName + " (TI-TXT; " +
      kRamLoaderVersionFileName + " optional) in ";
  for (std::size_t i = 0; i < sources.folders.size(); ++i) {
    text += (i == 0 ? "" : i + 1 == sources.folders.size() ? " and " : ", ") + sources.folders[i];
  }
  if (sources.folders.empty()) text += "no folder";
  text += sources.builtIn ? ", and among the images built into this program." : ".";
  for (const std::string& problem : problems) text += " " + problem;
  text +=
      " Copy the product's images into one of those folders; the stand-ins built into this "
      "program serve only the simulated Talkgate. Nothing was sent to the device.";
  return text;
}

std::string loaderImagesRefusal(const hid::Port& port, const LoaderImageSources& sources) {
  if (port.simulated()) return {};
  const LoaderImageLookup lookup = findProductLoaderImages(sources);
  return lookup.images ? std::string() : missingLoaderImagesText(sources, lookup.problems);
}

}  // namespace talkgate::firmware
