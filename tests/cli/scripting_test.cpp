// talkgatectl for scripts: --json on every command, the bash completion and the manual page
// kept in step with the commands and options the tool really has.

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <map>
#include <set>

#include "cli/command.h"
#include "cli/options.h"
#include "cli_fixture.h"
#include "json_reader.h"
#include "tests/support/platform.h"
#include "sim/sim_world.h"

using namespace talkgate;
using namespace talkgate::cli;
using talkgate::cli::testing::CliTest;
using talkgate::cli::testing::isJsonDocument;
using talkgate::cli::testing::RunResult;

namespace {

// Runs a shell command and returns what it printed (standard output only).
std::string shellOutput(const std::string& command) {
  std::string out;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return out;
  std::array<char, 512> buffer{};
  for (std::size_t n; (n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0;) {
    out.append(buffer.data(), n);
  }
  ::pclose(pipe);
  return out;
}

// The words bash offers after "talkgatectl WORDS... CURRENT", with our completion loaded.
std::set<std::string> completions(const std::vector<std::string>& words) {
  std::string array = "talkgatectl";
  for (const auto& w : words) array += " '" + w + "'";
  const std::string script = "source '" TALKGATECTL_COMPLETION "' && COMP_WORDS=(" + array +
                             ") && COMP_CWORD=" + std::to_string(words.size()) +
                             " && _talkgatectl && printf '%s\\n' \"${COMPREPLY[@]}\"";
  std::string quoted;
  for (char c : script) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  std::set<std::string> offered;
  std::istringstream lines(shellOutput("bash --norc --noprofile -c '" + quoted + "'"));
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty()) offered.insert(line);
  }
  return offered;
}

using JsonEverywhere = CliTest;

// Upgrade reports its progress as it happens, one object per line, before its result.
TEST_F(JsonEverywhere, EveryCommandPrintsOneJsonDocumentAndNothingElse) {
  sim::SimWorldOptions options;
  options.initialImage = readFile(sim::demoImagesDir() + "/talkgate_fw_1.0.4.txt");
  options.talkgate.working.keypadType = 1;
  sim::SimWorld world(bus_, options);
  const std::string configFile = path("cfg/USBTalkgateUtilityCfg.ini");
  std::filesystem::create_directories(path("cfg"));
  std::filesystem::create_directories(path("export"));
  const std::string image = sim::demoImagesDir() + "/talkgate_fw_1.1.0.txt";

  // One invocation or more per command, run in this order; enter-loader last but one, since
  // the Talkgate then waits in its loader, which the upgrade programs.
  const std::vector<std::pair<std::string, std::vector<std::string>>> runs = {
      {"status", {"status"}},
      {"set", {"set", "brightness", "3"}},
      {"set", {"set", "ambient", "enable"}},
      {"set", {"set", "keypad", "custom"}},
      {"set", {"set", "serial", "TG123456"}},
      {"save", {"save"}},
      {"ambient-value", {"ambient-value"}},
      {"table", {"table", "show"}},
      {"table", {"table", "set", "day=F20"}},
      {"table", {"table", "reset"}},
      {"factory-reset", {"factory-reset"}},
      {"config", {"--config", configFile, "config", "save"}},
      {"config", {"--config", configFile, "config", "restore"}},
      {"config", {"--config", configFile, "config", "export", path("export")}},
      {"config",
       {"--config", configFile, "config", "import", path("export/USBTalkgateUtilityCfg.ini")}},
      {"list", {"list"}},
      {"image", {"image", "check", image}},
      {"keys", {"keys"}},
      {"doctor", {"doctor"}},
      {"enter-loader", {"enter-loader"}},
      {"upgrade", {"upgrade", image, "--yes"}},
  };
  std::set<std::string> covered;
  for (const auto& [command, args] : runs) {
    std::vector<std::string> withJson = args;
    withJson.push_back("--json");
    const RunResult r = run(withJson);
    SCOPED_TRACE(args.back());
    // The doctor finds this computer's real udev rules, whatever they are.
    if (command != "doctor") {
      EXPECT_EQ(r.code, kExitOk) << r.err;
    }
    EXPECT_TRUE(isJsonDocument(r.result())) << r.out;
    EXPECT_EQ(r.progressLines().empty(), command != "upgrade") << r.out;
    for (const auto& line : r.progressLines()) EXPECT_TRUE(isJsonDocument(line)) << line;
    covered.insert(command);
  }
  EXPECT_EQ(world.talkgate().state().firmwareVersion, "1.1.0");
  for (const auto& command : commandRegistry().all()) {
    EXPECT_EQ(covered.count(command.name), 1u) << command.name << " has no --json case here";
  }
}

// The completion is bash's; Windows has no bash to load it into.
class Completion : public CliTest {
 protected:
  void SetUp() override {
    if (faults::kTestsOnWindows) GTEST_SKIP() << "bash completion: Windows has no bash";
    CliTest::SetUp();
  }
};

TEST_F(Completion, OffersEveryCommandAndEveryOptionTheToolKnows) {
  const std::set<std::string> commands = completions({""});
  for (const auto& command : commandRegistry().all()) {
    EXPECT_EQ(commands.count(command.name), 1u) << command.name;
    // The command's own options, and the global ones, after the command.
    const std::set<std::string> options = completions({command.name, "--"});
    for (const auto& flag : command.flags) EXPECT_EQ(options.count(flag), 1u) << flag;
    for (const auto& global : globalOptionSpecs()) {
      EXPECT_EQ(options.count(std::string(global.name)), 1u) << command.name << " " << global.name;
    }
  }
  EXPECT_EQ(commands.count("help"), 1u);
  // Nothing offered that the tool would refuse.
  EXPECT_EQ(completions({"list", "--"}).count("--force"), 0u);
  EXPECT_EQ(completions({"upgrade", "--y"}), std::set<std::string>{"--yes"});
}

TEST_F(Completion, ArgumentsFollowTheCommandAndSkipOptionValues) {
  EXPECT_EQ(completions({"--sim-state", "s.json", "set", ""}),
            (std::set<std::string>{"brightness", "ambient", "keypad", "serial"}));
  EXPECT_EQ(completions({"set", "ambient", ""}), (std::set<std::string>{"enable", "disable"}));
  EXPECT_TRUE(completions({"set", "ambient", "enable", ""}).empty());
  EXPECT_EQ(completions({"--json", "table", "set", "n"}),
            (std::set<std::string>{"night=", "not-detected="}));
  EXPECT_EQ(completions({"config", "ex"}), std::set<std::string>{"export"});
  EXPECT_EQ(completions({"--sim-fault", "re"}), std::set<std::string>{"refuse-password"});
  EXPECT_EQ(completions({"--sim-fault", "unplug@9", "upgrade", "--y"}),
            std::set<std::string>{"--yes"});

  // Firmware images: TI-TXT files and the folders that lead to them.
  { std::ofstream(path("fw.txt")) << "q\n"; }
  { std::ofstream(path("notes.md")) << "x\n"; }
  std::filesystem::create_directories(path("images"));
  EXPECT_EQ(completions({"upgrade", path("")}),
            (std::set<std::string>{path("fw.txt"), path("images")}));
  EXPECT_EQ(completions({"image", ""}), std::set<std::string>{"check"});
  EXPECT_EQ(completions({"image", "check", path("")}),
            (std::set<std::string>{path("fw.txt"), path("images")}));
  EXPECT_EQ(completions({"help", "k"}), std::set<std::string>{"keys"});
}

TEST_F(Completion, FileNamesWithBlanksStayWholeHoweverTheyAreTyped) {
  std::filesystem::create_directories(path("my images"));
  { std::ofstream(path("my images/fw 1.1.txt")) << "q\n"; }
  { std::ofstream(path("my settings.ini")) << "x\n"; }
  EXPECT_EQ(completions({"upgrade", path("my")}), std::set<std::string>{path("my images")});
  EXPECT_EQ(completions({"upgrade", path("my images/")}),
            std::set<std::string>{path("my images/fw 1.1.txt")});
  const std::string escaped = dir_.string() + "/my\\ s";
  EXPECT_EQ(completions({"--config", escaped}), std::set<std::string>{path("my settings.ini")});
  EXPECT_EQ(completions({"config", "export", std::string("\"").append(path("my"))}),
            std::set<std::string>{path("my images")});
}

TEST(ManualPage, IsMadeFromTheHelpAndDocumentsEveryCommandAndOption) {
  if (std::string(TALKGATECTL_MAN_PAGE).empty()) {
    GTEST_SKIP() << "a cross build makes no manual page: it cannot run the program it builds";
  }
  std::ifstream in(TALKGATECTL_MAN_PAGE);
  ASSERT_TRUE(in) << TALKGATECTL_MAN_PAGE;
  const std::string page(std::istreambuf_iterator<char>(in), {});
  EXPECT_EQ(page.rfind(".TH TALKGATECTL 1 ", 0), 0u);
  for (const char* section : {".SH NAME\n", ".SH SYNOPSIS\n", ".SH DESCRIPTION\n",
                              ".SH \"COMMANDS\"\n", ".SH \"OPTIONS\"\n", ".SH \"EXIT STATUS\"\n"}) {
    EXPECT_NE(page.find(section), std::string::npos) << section;
  }
  auto roff = [](std::string text) {
    std::string out;
    for (char c : text) out += c == '-' ? std::string("\\-") : std::string(1, c);
    return out;
  };
  for (const auto& command : commandRegistry().all()) {
    for (const auto& entry : command.help) {
      EXPECT_NE(page.find(".TP\n.B " + roff(entry.usage) + "\n"), std::string::npos) << entry.usage;
    }
  }
  for (const auto& option : globalOptionSpecs()) {
    std::string usage(option.name);
    if (!option.valueName.empty()) usage.append(" ").append(option.valueName);
    EXPECT_NE(page.find(".B " + roff(usage) + "\n"), std::string::npos) << usage;
  }
  // No text line may start a roff request by accident.
  std::istringstream lines(page);
  for (std::string line; std::getline(lines, line);) {
    if (line.empty() || line[0] != '\'') continue;
    ADD_FAILURE() << "line read as a request: " << line;
  }
}

}  // namespace
