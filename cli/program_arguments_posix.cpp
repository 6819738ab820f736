#include "cli/program_arguments.h"

namespace talkgate::cli {

std::vector<std::string> programArguments(int argc, char** argv) {
  return std::vector<std::string>(argv + 1, argv + argc);
}

}  // namespace talkgate::cli
