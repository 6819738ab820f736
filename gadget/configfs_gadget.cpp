#include "gadget/configfs_gadget.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace talkgate::gadget {

namespace {

std::string hex4(unsigned value) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%04x", value & 0xFFFFu);
  return text;
}

[[noreturn]] void fail(const std::string& what, int error) {
  throw std::runtime_error(what + ": " + std::strerror(error));
}

// Writes bytes to a configfs attribute in one write, as configfs wants.
void writeAttribute(const std::string& path, const void* data, std::size_t length) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) fail("Cannot open " + path, errno);
  const ssize_t written = ::write(fd, data, length);
  const int error = errno;
  ::close(fd);
  if (written != static_cast<ssize_t>(length)) fail("Cannot write " + path, written < 0 ? error : EIO);
}

void writeText(const std::string& path, const std::string& text) {
  writeAttribute(path, text.data(), text.size());
}

}  // namespace

HidFunction bootKeyboardFunction(const std::string& name) {
  return HidFunction{name, 1, 1, 8,
                     {0x05, 0x01, 0x09, 0x06, 0xa1, 0x01, 0x05, 0x07, 0x19, 0xe0, 0x29, 0xe7, 0x15,
                      0x00, 0x25, 0x01, 0x75, 0x01, 0x95, 0x08, 0x81, 0x02, 0x95, 0x01, 0x75, 0x08,
                      0x81, 0x03, 0x95, 0x05, 0x75, 0x01, 0x05, 0x08, 0x19, 0x01, 0x29, 0x05, 0x91,
                      0x02, 0x95, 0x01, 0x75, 0x03, 0x91, 0x03, 0x95, 0x06, 0x75, 0x08, 0x15, 0x00,
                      0x25, 0x65, 0x05, 0x07, 0x19, 0x00, 0x29, 0x65, 0x81, 0x00, 0xc0}};
}

HidFunction vendorFunction(const std::string& name) {
  return HidFunction{name, 0, 0, 64,
                     {0x06, 0x00, 0xff, 0x09, 0x01, 0xa1, 0x01, 0x85, 0x3f, 0x15, 0x00, 0x26, 0xff,
                      0x00, 0x75, 0x08, 0x95, 0x3f, 0x09, 0x01, 0x81, 0x02, 0x95, 0x3f, 0x09, 0x01,
                      0x91, 0x02, 0xc0}};
}

ConfigfsGadget::ConfigfsGadget(std::string configfsRoot, std::string name,
                               const GadgetDescription& d)
    : dir_(configfsRoot + "/usb_gadget/" + name) {
  auto makeDir = [this](const std::string& path) {
    if (::mkdir(path.c_str(), 0755) != 0) fail("Cannot create " + path, errno);
    made_.push_back(path);
  };
  try {
    makeDir(dir_);
    writeText(dir_ + "/idVendor", hex4(d.vendorId));
    writeText(dir_ + "/idProduct", hex4(d.productId));
    writeText(dir_ + "/bcdDevice", hex4(d.bcdDevice));
    writeText(dir_ + "/bcdUSB", hex4(0x0200));
    if (d.strings) {
      makeDir(dir_ + "/strings/0x409");
      writeText(dir_ + "/strings/0x409/manufacturer", d.manufacturer);
      writeText(dir_ + "/strings/0x409/product", d.product);
      writeText(dir_ + "/strings/0x409/serialnumber", d.serialNumber);
    }
    const std::string config = dir_ + "/configs/c.1";
    makeDir(config);
    writeText(config + "/MaxPower", std::to_string(d.maxPowerMa));
    for (const HidFunction& f : d.functions) {
      const std::string function = dir_ + "/functions/hid." + f.name;
      if (::mkdir(function.c_str(), 0755) != 0) {
        const int error = errno;
        fail("Cannot create " + function +
                 (error == ENODEV ? " (the kernel's HID function has no free device number: "
                                    "Linux 6.1 has 4, a Talkgate takes 2 and a loader 1)"
                                  : ""),
             error);
      }
      made_.push_back(function);
      writeText(function + "/subclass", std::to_string(f.subclass));
      writeText(function + "/protocol", std::to_string(f.protocol));
      writeText(function + "/report_length", std::to_string(f.reportLength));
      writeAttribute(function + "/report_desc", f.reportDescriptor.data(),
                     f.reportDescriptor.size());
      functionNames_.push_back(function);
    }
    // Linked in order: the order is the interface numbering.
    for (const std::string& function : functionNames_) {
      const std::string link = config + function.substr(function.rfind('/'));
      if (::symlink(function.c_str(), link.c_str()) != 0) fail("Cannot link " + link, errno);
      made_.push_back(link);
    }
  } catch (...) {
    removeAll();
    throw;
  }
}

ConfigfsGadget::~ConfigfsGadget() { removeAll(); }

void ConfigfsGadget::bind(const std::string& udc) {
  writeText(dir_ + "/UDC", udc + "\n");
  bound_ = true;
}

void ConfigfsGadget::unbind() noexcept {
  if (!bound_) return;
  bound_ = false;
  const int fd = ::open((dir_ + "/UDC").c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) return;
  [[maybe_unused]] const ssize_t ignored = ::write(fd, "\n", 1);
  ::close(fd);
}

std::string ConfigfsGadget::functionNode(std::size_t index) const {
  std::ifstream in(functionNames_.at(index) + "/dev");
  unsigned major = 0;
  unsigned minor = 0;
  char colon = 0;
  if (!(in >> major >> colon >> minor) || colon != ':') {
    throw std::runtime_error("Cannot read " + functionNames_.at(index) + "/dev");
  }
  const dev_t wanted = makedev(major, minor);
  const std::string guess = "/dev/hidg" + std::to_string(minor);
  struct stat node {};
  if (::stat(guess.c_str(), &node) == 0 && S_ISCHR(node.st_mode) && node.st_rdev == wanted) {
    return guess;
  }
  if (DIR* dev = ::opendir("/dev")) {
    while (const dirent* entry = ::readdir(dev)) {
      const std::string path = std::string("/dev/") + entry->d_name;
      if (::stat(path.c_str(), &node) == 0 && S_ISCHR(node.st_mode) && node.st_rdev == wanted) {
        ::closedir(dev);
        return path;
      }
    }
    ::closedir(dev);
  }
  throw std::runtime_error("No device node for " + functionNames_.at(index) + " (" +
                           std::to_string(major) + ":" + std::to_string(minor) + ") in /dev");
}

void ConfigfsGadget::removeAll() noexcept {
  unbind();
  for (auto it = made_.rbegin(); it != made_.rend(); ++it) {
    struct stat entry {};
    if (::lstat(it->c_str(), &entry) != 0) continue;
    if (S_ISLNK(entry.st_mode)) {
      ::unlink(it->c_str());
    } else {
      ::rmdir(it->c_str());
    }
  }
  made_.clear();
}

}  // namespace talkgate::gadget
