// The README's examples work as written: every command of a ```sh block that uses --simulate
// is run by bash from the top of the source tree, with the built programs on PATH and a home
// folder of its own, and must end with the status its "# exit N" comment names (0 without one).

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include "readme_commands.h"

using talkgate::cli::testing::ReadmeCommand;
using talkgate::cli::testing::readmeCommands;
namespace fs = std::filesystem;

namespace {

// Single quotes for bash.
std::string quoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// The commands worth running: in blocks that show the simulated Talkgate, those that use it and
// those that only prepare (folders, variables); commands for a real Talkgate are left out.
std::vector<ReadmeCommand> simulatedExamples(const std::vector<ReadmeCommand>& all) {
  std::set<int> simulatedBlocks;
  for (const auto& command : all) {
    if (command.simulated()) simulatedBlocks.insert(command.block);
  }
  std::vector<ReadmeCommand> chosen;
  for (const auto& command : all) {
    if (simulatedBlocks.count(command.block) && (command.simulated() || !command.runsTool())) {
      chosen.push_back(command);
    }
  }
  return chosen;
}

}  // namespace

TEST(ReadmeCommands, JoinsContinuedLinesAndLoopsAndReadsTheExpectedStatus) {
  const auto commands = readmeCommands(
      "Text\n```sh\n"
      "a --simulate x   # exit 1\n"
      "# a comment line\n\n"
      "b \\\n  --c && \n  d\n"
      "for p in 1 2; do\n  e \"$p\" # still the loop\ndone # exits 3\n"
      "```\nmore text\n```\nnot shell\n```\n```sh\nf\n```\n");
  ASSERT_EQ(commands.size(), 4u);
  EXPECT_EQ(commands[0].text, "a --simulate x   # exit 1");
  EXPECT_EQ(commands[0].expectedStatus, 1);
  EXPECT_TRUE(commands[0].simulated());
  EXPECT_EQ(commands[1].text, "b \\\n  --c && \n  d");
  EXPECT_EQ(commands[1].line, 6);
  EXPECT_EQ(commands[1].expectedStatus, 0);
  EXPECT_EQ(commands[2].text, "for p in 1 2; do\n  e \"$p\" # still the loop\ndone # exits 3");
  EXPECT_EQ(commands[2].expectedStatus, 3);
  EXPECT_EQ(commands[3].text, "f");
  EXPECT_EQ(commands[3].block, 1);
}

TEST(ReadmeExamples, EverySimulatedCommandRunsAsWrittenFromTheSourceTree) {
  std::ifstream readme(TALKGATE_SOURCE_DIR "/README.md");
  ASSERT_TRUE(readme);
  const auto commands = simulatedExamples(readmeCommands(readme));
  ASSERT_FALSE(commands.empty()) << "the README shows no command on the simulated Talkgate";

  // A tree of links to the sources stands for the top of the source tree, so that relative
  // paths resolve as there while files the examples write stay out of the sources.
  const fs::path base =
      fs::temp_directory_path() / ("talkgate-readme-" + std::to_string(::getpid()));
  fs::remove_all(base);
  const fs::path root = base / "tree";
  const fs::path home = base / "home";
  fs::create_directories(root);
  fs::create_directories(home);
  for (const auto& entry : fs::directory_iterator(TALKGATE_SOURCE_DIR)) {
    fs::create_directory_symlink(entry.path(), root / entry.path().filename());
  }

  const fs::path statuses = base / "statuses";
  std::ofstream script(base / "run.sh");
  script << "cd " << quoted(root.string()) << " || exit 99\n"
         << "export PATH=" << quoted(TALKGATE_BIN_DIR)
         << ":\"$PATH\" HOME=" << quoted(home.string())
         << " XDG_DATA_HOME=" << quoted((home / "data").string())
         << " XDG_CONFIG_HOME=" << quoted((home / "config").string()) << " TALKGATE_SIM_INSTANT=1\n"
         << "exec 3>" << quoted(statuses.string()) << '\n';
  for (std::size_t i = 0; i < commands.size(); ++i) {
    script << "echo \"\\$ " << i << "\"\n" << commands[i].text << "\necho \"" << i << " $?\" >&3\n";
  }
  script.close();
  const fs::path log = base / "log";
  const std::string shell = "timeout 600 bash --norc --noprofile " +
                            quoted((base / "run.sh").string()) + " >" + quoted(log.string()) +
                            " 2>&1 </dev/null";
  std::system(shell.c_str());

  std::map<std::size_t, int> ended;
  std::ifstream in(statuses);
  for (std::size_t index; in >> index;) in >> ended[index];
  std::ifstream logIn(log);
  const std::string output(std::istreambuf_iterator<char>(logIn), {});
  for (std::size_t i = 0; i < commands.size(); ++i) {
    const auto it = ended.find(i);
    ASSERT_NE(it, ended.end()) << "README line " << commands[i].line << " never finished:\n"
                               << commands[i].text << "\n"
                               << output;
    EXPECT_EQ(it->second, commands[i].expectedStatus) << "README line " << commands[i].line << ":\n"
                                                      << commands[i].text;
  }
  if (::testing::Test::HasFailure()) std::cerr << "What the examples printed:\n" << output;
  fs::remove_all(base);
}
