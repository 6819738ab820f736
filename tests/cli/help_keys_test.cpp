// talkgatectl for people: each command's own help, the version, the key name list and the
// suggestions for a mistyped key or modifier name.

#include <gtest/gtest.h>

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "cli/command.h"
#include "cli_fixture.h"
#include "keycodes/key_catalogue.h"

using namespace talkgate;
using namespace talkgate::cli;
using talkgate::cli::testing::CliTest;
using talkgate::cli::testing::RunResult;

namespace {

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

QJsonObject jsonObject(const std::string& text) {
  return QJsonDocument::fromJson(QByteArray::fromStdString(text)).object();
}

}  // namespace

using CommandHelp = CliTest;

TEST_F(CommandHelp, EachCommandShowsOnlyItsOwnFormsExamplesAndExitStatus) {
  const std::string overview = run({"--help"}).out;
  for (const auto& command : commandRegistry().all()) {
    const RunResult viaHelp = run({"help", command.name});
    const RunResult viaOption = run({command.name, "--help"});
    ASSERT_EQ(viaHelp.code, kExitOk) << command.name << viaHelp.err;
    EXPECT_EQ(viaOption.code, kExitOk) << command.name;
    EXPECT_EQ(viaHelp.out, viaOption.out) << command.name;
    const std::string& help = viaHelp.out;
    EXPECT_TRUE(contains(help, "Usage: talkgatectl [OPTIONS] " + command.help.front().usage))
        << help;
    for (const auto& entry : command.help) EXPECT_TRUE(contains(help, entry.usage)) << help;
    for (const auto& example : command.examples) EXPECT_TRUE(contains(help, example)) << help;
    EXPECT_TRUE(contains(help, "\nExit status:\n  0  Success.\n")) << help;
    EXPECT_EQ(contains(help, "\n  1  "), !command.failureMeaning.empty()) << help;
    EXPECT_TRUE(contains(help, "\n  2  Bad input")) << help;
    // Nothing of the other commands, and much less than the overview.
    for (const auto& other : commandRegistry().all()) {
      if (other.name == command.name) continue;
      for (const auto& entry : other.help) {
        EXPECT_FALSE(contains(help, "  " + entry.usage + " "))
            << command.name << ": " << entry.usage;
      }
    }
    EXPECT_LT(help.size() * 2, overview.size()) << command.name;
  }
}

TEST_F(CommandHelp, PlainHelpIsTheOverviewAndAnUnknownTopicIsBadInput) {
  const RunResult overview = run({"--help"});
  ASSERT_EQ(overview.code, kExitOk);
  EXPECT_EQ(run({"help"}).out, overview.out);
  EXPECT_EQ(run({"help", "help"}).out, overview.out);
  for (const auto& command : commandRegistry().all()) {
    EXPECT_TRUE(contains(overview.out, "\n  " + command.help.front().usage)) << command.name;
  }
  const RunResult unknown = run({"help", "frobnicate"});
  EXPECT_EQ(unknown.code, kExitBadInput);
  EXPECT_TRUE(contains(unknown.err, "Unknown command 'frobnicate'.")) << unknown.err;
  EXPECT_EQ(run({"frobnicate", "--help"}).code, kExitBadInput);
}

TEST_F(CommandHelp, VersionComesFromTheBuildInTextAndJson) {
  RunResult r = run({"--version"});
  ASSERT_EQ(r.code, kExitOk) << r.err;
  EXPECT_EQ(r.out, "talkgatectl " TALKGATECTL_VERSION "\n");
  r = run({"--json", "--version"});
  ASSERT_EQ(r.code, kExitOk) << r.err;
  const QJsonObject version = jsonObject(r.out);
  EXPECT_EQ(version.value("program").toString(), "talkgatectl");
  EXPECT_EQ(version.value("version").toString(), TALKGATECTL_VERSION);
  EXPECT_TRUE(run({"status", "--version"}).err.empty()) << "--version touches no device";
}

using KeyNames = CliTest;

TEST_F(KeyNames, ListsEveryNameTableSetTakesWithItsCodeAndTheModifiers) {
  RunResult r = run({"keys"});
  ASSERT_EQ(r.code, kExitOk) << r.err;
  EXPECT_EQ(r.out.rfind("KEY ", 0), 0u) << r.out;
  EXPECT_TRUE(contains(r.out, "\nSpacebar        0x2C\n")) << r.out;
  EXPECT_TRUE(contains(r.out, "\nLeftShift   0xE1\n")) << r.out;
  EXPECT_FALSE(contains(r.out, "N/A")) << "a name that selects no single code";

  r = run({"keys", "--json"});
  ASSERT_EQ(r.code, kExitOk) << r.err;
  const QJsonObject list = jsonObject(r.out);
  const QJsonArray keys = list.value("keys").toArray();
  ASSERT_EQ(keys.size(), 119);
  for (const auto& key : keys) {
    // Every listed name is understood by the name lookup and gives the listed code.
    const std::string name = key.toObject().value("name").toString().toStdString();
    EXPECT_EQ(keycodes::parseKeyCode(name), key.toObject().value("code").toInt()) << name;
  }
  const QJsonArray modifiers = list.value("modifiers").toArray();
  ASSERT_EQ(modifiers.size(), 9);
  EXPECT_EQ(modifiers[0].toObject().value("name").toString(), "None");
  EXPECT_EQ(modifiers[2].toObject().value("name").toString(), "LeftShift");
  EXPECT_EQ(modifiers[2].toObject().value("byte").toInt(), 0xE1);
  EXPECT_EQ(run({"keys", "extra"}).code, kExitBadInput);
}

TEST_F(KeyNames, TableSetSuggestsCloseNamesAndSendsNothing) {
  sim::SimTalkgate talkgate(bus_);
  talkgate.clearRequests();
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"detected=Space",
       "Unknown key code 'Space' for detected. Did you mean \"Spacebar\"? "
       "'talkgatectl keys' lists the names."},
      {"day=f2x", "Did you mean \"F2\", \"F20\" or \"F21\"?"},
      {"night=F20+leftshit", "Unknown modifier 'leftshit' for night. Did you mean \"LeftShift\"?"},
      {"day=Hyperdrive", "Give a catalogue name such as F20, a or Enter, or a code such as 0x6F."},
  };
  for (const auto& [assignment, message] : cases) {
    const RunResult r = run({"table", "set", assignment});
    EXPECT_EQ(r.code, kExitBadInput) << assignment;
    EXPECT_TRUE(contains(r.err, message)) << r.err;
  }
  EXPECT_TRUE(talkgate.requests().empty());
}
