#pragma once
// The one check before any file the program reads or replaces: only a regular file will do. A
// directory, FIFO, device node or socket is named for what it is, and nothing here ever blocks
// (a FIFO without a writer, a terminal) or reads without end (a character device).

#include <cstddef>
#include <string>

namespace talkgate::files {

// Unreachable: something may be there, but the way to it is barred (a folder without search
// permission, a loop of links, an I/O error); never to be taken for a missing file.
enum class FileKind { Missing, Regular, Directory, Fifo, DeviceNode, Socket, Other, Unreachable };

// What path names, following symbolic links; Missing when nothing (or a dangling link) is there.
// For Unreachable, *error (when given) receives the system's error number.
FileKind kindOf(const std::string& path, int* error = nullptr);

// "" for a regular file or a missing one; otherwise why it cannot be used as a file
// ("it is a directory", "it is a FIFO (named pipe)", "it is a device node", "it is a socket",
// "it cannot be reached (Permission denied)").
std::string notRegularReason(const std::string& path);

// The reason for a kind that is not a file, "" for Regular and Missing; error: the system's
// error number behind Unreachable.
std::string notRegularReason(FileKind kind, int error = 0);

// Reads the whole regular file at path, at most maxBytes of it. False with the reason when the
// file is missing ("it does not exist"), is not a regular file, is larger than maxBytes or cannot
// be read; bytes is then left empty.
bool readRegularFile(const std::string& path, std::size_t maxBytes, std::string& bytes,
                     std::string& reason);

// True when a and b name the same file (links followed), whether it exists yet or not.
bool sameFile(const std::string& a, const std::string& b);

// "1 MiB", "4 MiB" or "512 bytes": a size cap as a message shows it.
std::string sizeText(std::size_t bytes);

}  // namespace talkgate::files
