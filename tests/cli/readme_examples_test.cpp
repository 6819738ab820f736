// The README's examples work as written: every command of a ```sh block that uses --simulate
// is run by bash from the top of the source tree, with the built programs on PATH and a home
// folder of its own, and must end with the status a trailing "# exit N" comment names (0
// without one). Simulated upgrades run in instant time (TALKGATE_SIM_INSTANT=1).

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>

#include "tests/support/platform.h"

namespace fs = std::filesystem;

namespace {

struct Command {
  int line = 0;   // where it starts in the README
  int block = 0;  // which ```sh block
  std::string text;
  int expectedStatus = 0;
  bool simulated() const { return text.find("--simulate") != std::string::npos; }
  bool runsTool() const { return text.find("talkgatectl") != std::string::npos; }
};

// The commands of the ```sh blocks as a reader types them: continued lines ("\", "&&", "|")
// and loops or conditionals kept whole.
std::vector<Command> shellCommands(std::istream& readme) {
  static const std::regex opener(R"(\b(do|then|case)\b|\{\s*$)");
  static const std::regex closer(R"(\b(done|fi|esac)\b|^\s*\})");
  static const std::regex continued(R"((\\|\||&&)\s*$)");
  static const std::regex exitComment(R"(#.*\bexit(?:s| status| code)?:? *([0-9]+)\b)");
  std::vector<Command> commands;
  int block = -1;
  bool inBlock = false;
  bool open = false;
  int depth = 0;
  int number = 0;
  for (std::string line; std::getline(readme, line);) {
    ++number;
    if (line.rfind("```", 0) == 0) {
      inBlock = !inBlock && line == "```sh";
      block += inBlock ? 1 : 0;
      open = false;
      depth = 0;
      continue;
    }
    const std::size_t first = line.find_first_not_of(" \t");
    if (!inBlock || (!open && (first == std::string::npos || line[first] == '#'))) continue;
    if (open) {
      commands.back().text += '\n' + line;
    } else {
      commands.push_back({number, block, line, 0});
    }
    const std::string code = line.substr(0, line.find(" #"));
    depth += std::distance(std::sregex_iterator(code.begin(), code.end(), opener), {}) -
             std::distance(std::sregex_iterator(code.begin(), code.end(), closer), {});
    open = depth > 0 || std::regex_search(code, continued);
    std::smatch match;
    if (!open && std::regex_search(line, match, exitComment)) {
      commands.back().expectedStatus = std::stoi(match[1].str());
    }
  }
  return commands;
}

std::string quoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

}  // namespace

TEST(ReadmeCommands, JoinsContinuedLinesAndLoopsAndReadsTheExpectedStatus) {
  std::istringstream readme(
      "Text\n```sh\na --simulate x   # exit 1\n# a comment\n\nb \\\n  --c &&\n  d\n"
      "for p in 1 2; do\n  e \"$p\"\ndone # exits 3\n```\n```\nnot shell\n```\n```sh\nf\n```\n");
  const auto commands = shellCommands(readme);
  ASSERT_EQ(commands.size(), 4u);
  EXPECT_EQ(commands[0].expectedStatus, 1);
  EXPECT_EQ(commands[1].text, "b \\\n  --c &&\n  d");
  EXPECT_EQ(commands[1].line, 6);
  EXPECT_EQ(commands[2].text, "for p in 1 2; do\n  e \"$p\"\ndone # exits 3");
  EXPECT_EQ(commands[2].expectedStatus, 3);
  EXPECT_EQ(commands[3].block, 1);
}

TEST(ReadmeExamples, EverySimulatedCommandRunsAsWrittenFromTheSourceTree) {
  if (talkgate::faults::kTestsOnWindows) {
    GTEST_SKIP() << "the examples are bash commands; on Windows scripts/windows-examples runs "
                    "them with talkgatectl.exe under wine";
  }
  std::ifstream readme(TALKGATE_SOURCE_DIR "/README.md");
  ASSERT_TRUE(readme);
  const auto all = shellCommands(readme);
  // In blocks that show the simulated Talkgate: the commands that use it and those that only
  // prepare (folders, variables); commands for a real Talkgate are left out.
  std::set<int> simulatedBlocks;
  for (const auto& c : all) {
    if (c.simulated()) simulatedBlocks.insert(c.block);
  }
  std::vector<Command> commands;
  for (const auto& c : all) {
    if (simulatedBlocks.count(c.block) && (c.simulated() || !c.runsTool())) commands.push_back(c);
  }
  ASSERT_FALSE(commands.empty()) << "the README shows no command on the simulated Talkgate";

  // Links to the sources stand for the top of the source tree: relative paths resolve as
  // there, while the files the examples write stay out of the sources.
  const fs::path base = fs::temp_directory_path() / ("talkgate-readme-" + std::to_string(getpid()));
  fs::remove_all(base);
  fs::create_directories(base / "tree");
  fs::create_directories(base / "home");
  for (const auto& entry : fs::directory_iterator(TALKGATE_SOURCE_DIR)) {
    fs::create_directory_symlink(entry.path(), base / "tree" / entry.path().filename());
  }
  std::ofstream script(base / "run.sh");
  const std::string home = quoted((base / "home").string());
  script << "cd " << quoted((base / "tree").string())
         << " || exit 99\nexport PATH=" << quoted(TALKGATE_BIN_DIR) << ":\"$PATH\" HOME=" << home
         << " XDG_DATA_HOME=" << home << "/data XDG_CONFIG_HOME=" << home
         << "/config TALKGATE_SIM_INSTANT=1\nexec 3>" << quoted((base / "statuses").string())
         << '\n';
  for (std::size_t i = 0; i < commands.size(); ++i) {
    script << commands[i].text << "\necho \"" << i << " $?\" >&3\n";
  }
  script.close();
  const std::string log = (base / "log").string();
  std::system(("timeout 600 bash --norc --noprofile " + quoted((base / "run.sh").string()) + " >" +
               quoted(log) + " 2>&1 </dev/null")
                  .c_str());

  std::map<std::size_t, int> ended;
  std::ifstream statuses(base / "statuses");
  for (std::size_t index; statuses >> index;) statuses >> ended[index];
  for (std::size_t i = 0; i < commands.size(); ++i) {
    EXPECT_EQ(ended.count(i) ? ended[i] : -1, commands[i].expectedStatus)
        << "README line " << commands[i].line << ":\n"
        << commands[i].text;
  }
  if (::testing::Test::HasFailure()) {
    std::ifstream in(log);
    std::cerr << "What the examples printed:\n"
              << std::string(std::istreambuf_iterator<char>(in), {});
  }
  fs::remove_all(base);
}
