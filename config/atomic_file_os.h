#pragma once
// What the atomic writer asks of the system (atomic_file_posix.cpp, atomic_file_win.cpp); the
// naming of temporaries and the checks before a write are shared (atomic_file.cpp).

#include <filesystem>
#include <string>
#include <string_view>

namespace talkgate::config::detail {

bool fail(std::string* reason, const std::string& text);

// This process's id, and whether the process with that id has ended.
long currentProcessId();
bool processGone(long pid);

// A fresh temporary name beside target: <name> + kTemporaryMarker + "<pid>-<unique>".
std::filesystem::path temporaryNameFor(const std::filesystem::path& target);

// Writes bytes whole into a fresh temporary file beside target (given target's permissions
// when exists is true; synced to the disk when sync is true) and returns its path; an empty
// path with the reason on failure, leaving no temporary file behind. A target whose folder
// takes no new file is refused: it is never rewritten in place.
std::filesystem::path writeTemporary(const std::filesystem::path& target, bool exists,
                                     std::string_view bytes, bool sync, std::string* reason);

// Puts the temporary file in target's place (then syncs the folder when sync is true). False
// with the reason, the temporary file removed and target as it was.
bool putInPlace(const std::filesystem::path& temporary, const std::filesystem::path& target,
                bool sync, std::string* reason);

// Removes a temporary file that is not to be put in place.
void removeTemporary(const std::filesystem::path& temporary);

}  // namespace talkgate::config::detail
