#pragma once
// The one routine through which the program replaces any file it writes (the configuration file,
// exports, the simulated Talkgate's state). The bytes go to a temporary file created exclusively
// beside the target, which is flushed, synced and renamed over the target, so a crash or a kill
// leaves the old file or the new one, never a mix and never an empty file.

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <limits>
#include <string>
#include <string_view>

namespace talkgate::config {

// Every temporary file is named <target's name> + this + "<pid>-<unique>", so the next run can
// tell (and remove) the ones a killed run left behind.
inline constexpr char kTemporaryMarker[] = ".talkgate-tmp-";

struct WriteOptions {
  // The most the file's reader takes: longer content is refused and the old file kept, so a
  // run never writes what the next one cannot read.
  std::size_t maxBytes = std::numeric_limits<std::size_t>::max();
  // Synced to the disk before the rename (survives a power cut). Off: handed to the system
  // only, which still survives the program being killed at any moment, and is much faster.
  bool syncToDisk = true;
};

// A replacement made in two steps: prepare writes the whole new content into a temporary file
// beside the target (so a full disk shows there, before anything else is done); commit renames
// it over the target, which needs no room on the disk. Destroyed uncommitted, it removes the
// temporary file and leaves the target as it was.
class PreparedFile {
 public:
  PreparedFile() = default;
  ~PreparedFile();
  PreparedFile(const PreparedFile&) = delete;
  PreparedFile& operator=(const PreparedFile&) = delete;

  // Refused, leaving everything as it was, when the target (links followed) is not a regular
  // file, is read-only, its folder takes no new file, or bytes exceed options.maxBytes. A file
  // is never rewritten in place: a failed write there would cut it. False with the reason in
  // *reason (when given).
  bool prepare(const std::string& path, std::string_view bytes, std::string* reason = nullptr,
               const WriteOptions& options = {});
  // Puts the prepared content in place; false with the reason (the target then stays as it was).
  bool commit(std::string* reason = nullptr);
  // Removes the prepared content; the target stays as it was.
  void discard();

 private:
  std::filesystem::path temporary_;
  std::filesystem::path target_;
  bool syncToDisk_ = true;
};

// Replaces (or creates) the file at path with bytes: prepare and commit in one. A symbolic
// link is followed, so the file it names is replaced and the link stays. Permissions of an
// existing file are kept. False with the reason in *reason (when given) on any failure; no
// temporary file is left behind.
bool writeFileAtomically(const std::string& path, std::string_view bytes,
                         std::string* reason = nullptr, const WriteOptions& options = {});

// Copies the regular file source (at most maxBytes) over target through writeFileAtomically.
bool copyFileAtomically(const std::string& source, const std::string& target, std::size_t maxBytes,
                        std::string* reason = nullptr);

// Removes the temporary files of target that a run no longer alive left behind.
void removeStaleTemporaries(const std::string& target);

// Where the system refuses to replace a file another program holds open (Windows), the writer
// tries again kBusyTries times, waiting kBusyPause between tries through this function (a real
// sleep unless a test puts its own clock in; nullptr restores the sleep).
inline constexpr int kBusyTries = 20;
inline constexpr std::chrono::milliseconds kBusyPause{100};
using BusyWait = std::function<void(std::chrono::milliseconds)>;
void setBusyWait(BusyWait wait);
void busyWait(std::chrono::milliseconds pause);

}  // namespace talkgate::config
