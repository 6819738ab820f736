#pragma once
// Ways to make the configuration file unwritable for one scenario, whoever runs the tests: a
// full disk (the file size limit), and read-only files and folders that bind even an
// administrator (the override of permission bits is dropped from this thread meanwhile).

#include <linux/capability.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <string>

namespace scen {

// Writes beyond `bytes` fail with EFBIG, as on a full disk.
class DiskFull {
 public:
  explicit DiskFull(rlim_t bytes = 16) {
    previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
    getrlimit(RLIMIT_FSIZE, &previous_);
    rlimit limited = previous_;
    limited.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limited);
  }
  ~DiskFull() {
    setrlimit(RLIMIT_FSIZE, &previous_);
    std::signal(SIGXFSZ, previousHandler_);
  }
  DiskFull(const DiskFull&) = delete;
  DiskFull& operator=(const DiskFull&) = delete;

 private:
  rlimit previous_{};
  void (*previousHandler_)(int) = SIG_DFL;
};

// Gives path the permissions perms for the guard's lifetime. An administrator's override of
// permission bits is taken out of this thread's effective capabilities meanwhile, so the bits
// bind when the tests run as root too.
class Permissions {
 public:
  Permissions(const std::filesystem::path& path, std::filesystem::perms perms)
      : path_(path), previous_(std::filesystem::status(path).permissions()) {
    std::filesystem::permissions(path_, perms);
    header_.version = _LINUX_CAPABILITY_VERSION_3;
    header_.pid = 0;
    if (syscall(SYS_capget, &header_, saved_) != 0) return;
    __user_cap_data_struct lowered[2] = {saved_[0], saved_[1]};
    lowered[0].effective &= ~(1u << CAP_DAC_OVERRIDE);
    lowered[0].effective &= ~(1u << CAP_DAC_READ_SEARCH);
    lowered_ = syscall(SYS_capset, &header_, lowered) == 0;
  }
  ~Permissions() {
    if (lowered_) syscall(SYS_capset, &header_, saved_);
    std::filesystem::permissions(path_, previous_);
  }
  Permissions(const Permissions&) = delete;
  Permissions& operator=(const Permissions&) = delete;

 private:
  std::filesystem::path path_;
  std::filesystem::perms previous_{};
  __user_cap_header_struct header_{};
  __user_cap_data_struct saved_[2]{};
  bool lowered_ = false;
};

// Makes path read-only (a file: 0444; a folder: 0555) for the guard's lifetime.
class ReadOnly : public Permissions {
 public:
  explicit ReadOnly(const std::filesystem::path& path)
      : Permissions(path, std::filesystem::is_directory(path)
                              ? static_cast<std::filesystem::perms>(0555)
                              : static_cast<std::filesystem::perms>(0444)) {}
};

// A folder nobody may enter or list (0000): what is inside exists but cannot be reached.
class Unreachable : public Permissions {
 public:
  explicit Unreachable(const std::filesystem::path& folder)
      : Permissions(folder, std::filesystem::perms::none) {}
};

// What a hostile user may name where a file belongs, and the words the program uses for it.
enum class Special { Directory, Fifo, DeviceNode, Socket };
struct SpecialKind {
  Special kind;
  const char* name;
  const char* reason;
  std::filesystem::file_type type;
};
inline constexpr SpecialKind kSpecials[] = {
    {Special::Directory, "Directory", "it is a directory", std::filesystem::file_type::directory},
    {Special::Fifo, "Fifo", "it is a FIFO (named pipe)", std::filesystem::file_type::fifo},
    {Special::DeviceNode, "DeviceNode", "it is a device node",
     std::filesystem::file_type::character},
    {Special::Socket, "Socket", "it is a socket", std::filesystem::file_type::socket},
};

// Makes one at path; false when this run may not (a device node needs an administrator). The
// device node is a copy of /dev/null's: writing it through would lose the data silently.
inline bool makeSpecial(Special kind, const std::filesystem::path& path) {
  switch (kind) {
    case Special::Directory:
      return std::filesystem::create_directory(path);
    case Special::Fifo:
      return ::mkfifo(path.c_str(), 0644) == 0;
    case Special::DeviceNode:
      return ::mknod(path.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;
    case Special::Socket: {
      // Bound under a short name (a socket's name is limited to 107 bytes), then moved.
      const std::string shortName = "/tmp/tg-socket-" + std::to_string(::getpid());
      ::unlink(shortName.c_str());
      const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
      sockaddr_un address{};
      address.sun_family = AF_UNIX;
      std::strncpy(address.sun_path, shortName.c_str(), sizeof address.sun_path - 1);
      const bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
      ::close(fd);  // the name stays in the folder
      return bound && ::rename(shortName.c_str(), path.c_str()) == 0;
    }
  }
  return false;
}

// True when path is still the special file makeSpecial made.
inline bool stillSpecial(const SpecialKind& special, const std::filesystem::path& path) {
  return std::filesystem::symlink_status(path).type() == special.type;
}

// Names in a folder, to check that no temporary file was left behind.
inline int entryCount(const std::filesystem::path& folder) {
  int count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder)) ++count;
  return count;
}

}  // namespace scen
