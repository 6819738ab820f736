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

// Writes bytes to a temporary file beside target and puts it in target's place (target exists
// as a regular file when exists is true). False with the reason on failure, leaving no
// temporary file behind.
bool replaceFile(const std::filesystem::path& target, bool exists, std::string_view bytes,
                 std::string* reason);

}  // namespace talkgate::config::detail
