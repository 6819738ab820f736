// talkgatectl: the command-line tool for the Talkgate.

#include <unistd.h>

#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "cli/program_arguments.h"
#include "cli/standard_output.h"
#include "cli/talkgatectl.h"

int main(int argc, char** argv) {
  // First of all: a file opened later must never become standard output.
  talkgate::cli::reserveStandardDescriptors();
  const std::vector<std::string> args = talkgate::cli::programArguments(argc, argv);
  talkgate::cli::DescriptorBuffer outBuffer(STDOUT_FILENO);
  std::ostream out(&outBuffer);
  talkgate::cli::Environment environment;
  environment.outputProblem = [&outBuffer] { return outBuffer.problem(); };
  environment.input = &std::cin;
  environment.inputIsTerminal = ::isatty(STDIN_FILENO) == 1;
  environment.outputIsTerminal = ::isatty(STDOUT_FILENO) == 1;
  // For scripts that run many simulated upgrades, such as the test of the README's examples.
  const char* instant = std::getenv("TALKGATE_SIM_INSTANT");
  environment.instantSimulatedTime = instant != nullptr && std::string(instant) == "1";
  return talkgate::cli::runTalkgatectl(args, out, std::cerr, environment);
}
