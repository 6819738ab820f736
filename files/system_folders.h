#pragma once
// The folders the system gives the program, as UTF-8 text, one file per system
// (system_folders_posix.cpp, system_folders_win.cpp). "" when the environment does not say.

#include <string>

namespace talkgate::files {

// Where the windows' QStandardPaths::GenericDataLocation points: $XDG_DATA_HOME (absolute) or
// ~/.local/share; %LOCALAPPDATA% on Windows.
std::string userDataFolder();

// The user's configuration folder: $XDG_CONFIG_HOME (absolute) or ~/.config; %APPDATA% on
// Windows.
std::string userConfigFolder();

// The machine's configuration folder: /etc; %ProgramData% on Windows.
std::string systemConfigFolder();

// The environment variable the user's folders come from ("HOME"; "LOCALAPPDATA" on Windows),
// for a message when it is not set.
const char* userFolderVariable();

// The folder the running program's file is in.
std::string programFolder();

}  // namespace talkgate::files
