#pragma once
// The one routine through which the program replaces any file it writes (the configuration file,
// exports, the simulated Talkgate's state). The bytes go to a temporary file created exclusively
// beside the target, which is flushed, synced and renamed over the target, so a crash or a kill
// leaves the old file or the new one, never a mix and never an empty file.

#include <chrono>
#include <functional>
#include <string>
#include <string_view>

namespace talkgate::config {

// Every temporary file is named <target's name> + this + "<pid>-<unique>", so the next run can
// tell (and remove) the ones a killed run left behind.
inline constexpr char kTemporaryMarker[] = ".talkgate-tmp-";

// Replaces (or creates) the file at path with bytes. A symbolic link is followed, so the file
// it names is replaced and the link stays. Refused, leaving everything as it was, when the
// target is not a regular file or is read-only. Permissions of an existing file are kept. When
// the folder cannot take a temporary file but the file itself is writable, the file is
// rewritten in place. False with the reason in *reason (when given) on any failure; no
// temporary file is left behind.
bool writeFileAtomically(const std::string& path, std::string_view bytes,
                         std::string* reason = nullptr);

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
