#pragma once
// The command line of talkgatectl: global options (accepted before or after the command), the
// command words, and the command's own options, which the command itself checks.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace talkgate::cli {

struct GlobalOptions {
  bool simulate = false;
  std::optional<std::string> simStateFile;
  std::vector<std::string> simFaults;  // KIND[@N] each, checked by the tool before it runs
  std::optional<unsigned> simDevices;   // how many simulated Talkgates
  bool json = false;
  bool trace = false;
  bool help = false;
  bool version = false;
  bool all = false;
  std::optional<std::string> devicePath;
  std::optional<std::string> configFile;
  std::optional<std::string> loaderDir;  // looked in first for the product's loader images
};

struct Invocation {
  GlobalOptions options;
  std::vector<std::string> words;         // the command and its arguments, in order
  std::vector<std::string> commandFlags;  // options that are not global, for the command to judge
};

// One global option as the parser and the help text know it.
struct GlobalOptionSpec {
  std::string_view name;       // "--sim-state"
  std::string_view valueName;  // "FILE", or empty for a switch
  std::string_view description;
};

// Every global option, in the order the help text lists them.
const std::vector<GlobalOptionSpec>& globalOptionSpecs();

// Splits the arguments (without the program name). "--" ends option parsing. A lone "-" and
// words such as "-1" are arguments, not options. Returns false with a message on bad input.
bool parseInvocation(const std::vector<std::string>& args, Invocation& out, std::string& error);

}  // namespace talkgate::cli
