// talkgatectl: the command-line tool for the Talkgate.

#include <iostream>
#include <string>
#include <vector>

#include "cli/talkgatectl.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return talkgate::cli::runTalkgatectl(args, std::cout, std::cerr);
}
