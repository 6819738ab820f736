#pragma once
// The command line as UTF-8 words, one file per system (program_arguments_posix.cpp,
// program_arguments_win.cpp): on Windows from the wide command line, never through the code
// page, with the console set to show UTF-8.

#include <string>
#include <vector>

namespace talkgate::cli {

// The words after the program's name.
std::vector<std::string> programArguments(int argc, char** argv);

}  // namespace talkgate::cli
