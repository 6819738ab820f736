#pragma once
// Whole-file replacement that never leaves a partial file behind: the bytes go to a temporary
// file beside the target, which is flushed, synced and renamed over the target.

#include <string>
#include <string_view>

namespace talkgate::config {

// Replaces (or creates) the file at path with bytes. Returns false, leaving any existing file
// untouched and no temporary file behind, when any step fails. A symbolic link is followed, so
// the file it names is replaced rather than the link. An existing file that cannot be opened for
// writing (read-only) is left alone: false.
bool writeFileAtomically(const std::string& path, std::string_view bytes);

// Copies source over target through writeFileAtomically. False when source cannot be read
// completely or the target cannot be written.
bool copyFileAtomically(const std::string& source, const std::string& target);

}  // namespace talkgate::config
