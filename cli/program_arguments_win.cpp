#include <windows.h>
#include <shellapi.h>

#include "cli/program_arguments.h"
#include "files/win_error.h"

namespace talkgate::cli {

std::vector<std::string> programArguments(int argc, char** argv) {
  // What the program prints is UTF-8.
  ::SetConsoleOutputCP(CP_UTF8);
  int count = 0;
  LPWSTR* words = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (words == nullptr) return std::vector<std::string>(argv + 1, argv + argc);
  std::vector<std::string> result;
  for (int i = 1; i < count; ++i) result.push_back(files::utf8FromWide(words[i]));
  ::LocalFree(words);
  return result;
}

}  // namespace talkgate::cli
