#pragma once
// The shell commands of a README's ```sh blocks, as a reader would type them: continued lines
// joined, loops and conditionals kept whole, and the exit status a trailing "# exit N" comment
// expects (0 when there is none).

#include <istream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace talkgate::cli::testing {

struct ReadmeCommand {
  int line = 0;            // where it starts in the README, from 1
  int block = 0;           // which ```sh block, from 0
  std::string text;        // the command, lines joined with '\n'
  int expectedStatus = 0;  // from "# exit N"
  bool simulated() const { return text.find("--simulate") != std::string::npos; }
  bool runsTool() const { return text.find("talkgatectl") != std::string::npos; }
};

namespace readme_detail {

// The words that open and close compound commands, counted to know when one is complete.
inline int openCompounds(const std::string& line) {
  static const std::regex word(R"([A-Za-z_{}]+)");
  std::string code = line.substr(0, line.find(" #"));
  int depth = 0;
  for (auto it = std::sregex_iterator(code.begin(), code.end(), word); it != std::sregex_iterator();
       ++it) {
    const std::string w = it->str();
    if (w == "do" || w == "then" || w == "case" || w == "{") ++depth;
    if (w == "done" || w == "fi" || w == "esac" || w == "}") --depth;
  }
  return depth;
}

inline bool continues(const std::string& line) {
  static const std::regex tail(R"((\\|\||&&|\|\|)\s*$)");
  return std::regex_search(line.substr(0, line.find(" #")), tail);
}

inline int expectedStatus(const std::string& line) {
  static const std::regex exitComment(R"(#.*\bexit(?:s| status| code)?:? *([0-9]+)\b)");
  std::smatch match;
  return std::regex_search(line, match, exitComment) ? std::stoi(match[1].str()) : 0;
}

}  // namespace readme_detail

inline std::vector<ReadmeCommand> readmeCommands(std::istream& readme) {
  std::vector<ReadmeCommand> commands;
  bool inBlock = false;
  int block = -1;
  int depth = 0;
  bool open = false;  // the last command goes on
  int number = 0;
  for (std::string line; std::getline(readme, line);) {
    ++number;
    if (!inBlock) {
      if (line == "```sh" || line == "```bash" || line == "```shell") {
        inBlock = true;
        ++block;
      }
      continue;
    }
    if (line.rfind("```", 0) == 0) {
      inBlock = false;
      open = false;
      depth = 0;
      continue;
    }
    const bool blank = line.find_first_not_of(" \t") == std::string::npos;
    if (!open && (blank || line.find_first_not_of(" \t") == line.find('#'))) continue;
    if (open) {
      commands.back().text += '\n' + line;
    } else {
      commands.push_back({number, block, line, 0});
    }
    depth += readme_detail::openCompounds(line);
    open = depth > 0 || readme_detail::continues(line);
    if (!open) commands.back().expectedStatus = readme_detail::expectedStatus(line);
  }
  return commands;
}

inline std::vector<ReadmeCommand> readmeCommands(const std::string& text) {
  std::istringstream in(text);
  return readmeCommands(in);
}

}  // namespace talkgate::cli::testing
