// talkgatectl for people: each command's own help, the version, the key name list and the
// suggestions for a mistyped key or modifier name.

#include <gtest/gtest.h>

#include "cli/command.h"
#include "cli_fixture.h"
#include "json_reader.h"
#include "keycodes/key_catalogue.h"

using namespace talkgate;
using namespace talkgate::cli;
using talkgate::cli::testing::CliTest;
using talkgate::cli::testing::contains;
using talkgate::cli::testing::Json;
using talkgate::cli::testing::jsonAt;
using talkgate::cli::testing::parseJson;
using talkgate::cli::testing::RunResult;

using CommandHelp = CliTest;

TEST_F(CommandHelp, EachCommandShowsOnlyItsOwnFormsExamplesAndExitStatus) {
  const std::string overview = run({"help"}).out;
  for (const auto& command : commandRegistry().all()) {
    SCOPED_TRACE(command.name);
    const RunResult r = run({"help", command.name});
    ASSERT_EQ(r.code, kExitOk) << r.err;
    EXPECT_EQ(run({command.name, "--help"}).out, r.out);
    EXPECT_TRUE(contains(r.out, "Usage: talkgatectl [OPTIONS] " + command.help.front().usage));
    for (const auto& example : command.examples) EXPECT_TRUE(contains(r.out, example));
    EXPECT_TRUE(contains(r.out, "\nExit status:\n  0  Success.\n"));
    EXPECT_EQ(contains(r.out, "\n  1  "), !command.failureMeaning.empty());
    for (const auto& other : commandRegistry().all()) {
      if (other.name == command.name) continue;
      EXPECT_FALSE(contains(r.out, "  " + other.help[0].usage + " ")) << other.name;
    }
    EXPECT_TRUE(contains(overview, "\n  " + command.help.front().usage));
  }
  EXPECT_EQ(run({"--help"}).out, overview);
  const RunResult unknown = run({"help", "frobnicate"});
  EXPECT_EQ(unknown.code, kExitBadInput);
  EXPECT_TRUE(contains(unknown.err, "Unknown command 'frobnicate'.")) << unknown.err;

  EXPECT_EQ(run({"--version"}).out, "talkgatectl " TALKGATECTL_VERSION "\n");
  EXPECT_EQ(jsonAt(parseJson(run({"--json", "--version"}).out), {"version"}).text,
            TALKGATECTL_VERSION);
}

using KeyNames = CliTest;

TEST_F(KeyNames, ListsEveryNameTableSetTakesWithItsCodeAndTheModifiers) {
  RunResult r = run({"keys"});
  ASSERT_EQ(r.code, kExitOk) << r.err;
  EXPECT_TRUE(contains(r.out, "\nSpacebar        0x2C\n")) << r.out;
  EXPECT_TRUE(contains(r.out, "\nLeftShift   0xE1\n")) << r.out;
  EXPECT_FALSE(contains(r.out, "N/A")) << "a name that selects no single code";

  const Json list = parseJson(run({"keys", "--json"}).out);
  const std::vector<Json>& keys = jsonAt(list, {"keys"}).items;
  EXPECT_EQ(keys.size(), 119u);  // 130 codes, 11 of them without a name of their own
  for (const auto& key : keys) {
    const std::string& name = jsonAt(key, {"name"}).text;
    EXPECT_EQ(keycodes::parseKeyCode(name), jsonAt(key, {"code"}).integer) << name;
  }
  const std::vector<Json>& modifiers = jsonAt(list, {"modifiers"}).items;
  ASSERT_EQ(modifiers.size(), 9u);
  EXPECT_EQ(jsonAt(modifiers[2], {"byte"}).integer, 0xE1);
}

TEST_F(KeyNames, TableSetSuggestsCloseNamesAndSendsNothing) {
  sim::SimTalkgate talkgate(bus_);
  talkgate.clearRequests();
  for (const auto& [assignment, message] : std::vector<std::pair<std::string, std::string>>{
           {"detected=Space",
            "Unknown key code 'Space' for detected. Did you mean "
            "\"Spacebar\"? 'talkgatectl keys' lists the names."},
           {"day=f2x", "Did you mean \"F2\", \"F20\" or \"F21\"?"},
           {"night=F20+leftshit",
            "Unknown modifier 'leftshit' for night. Did you mean "
            "\"LeftShift\"?"},
           {"day=Hyperdrive", "Give a catalogue name such as F20, a or Enter"}}) {
    const RunResult r = run({"table", "set", assignment});
    EXPECT_EQ(r.code, kExitBadInput) << assignment;
    EXPECT_TRUE(contains(r.err, message)) << r.err;
  }
  EXPECT_TRUE(talkgate.requests().empty());
}
