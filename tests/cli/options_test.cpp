// The command-line parser of talkgatectl.

#include <gtest/gtest.h>

#include "cli/options.h"

using namespace talkgate::cli;

namespace {

Invocation parseOk(const std::vector<std::string>& args) {
  Invocation invocation;
  std::string error;
  EXPECT_TRUE(parseInvocation(args, invocation, error)) << error;
  return invocation;
}

std::string parseError(const std::vector<std::string>& args) {
  Invocation invocation;
  std::string error;
  EXPECT_FALSE(parseInvocation(args, invocation, error));
  return error;
}

}  // namespace

TEST(Options, GlobalOptionsMayFollowTheCommand) {
  const Invocation inv =
      parseOk({"--simulate", "status", "--json", "--sim-state", "s.json", "--trace"});
  EXPECT_TRUE(inv.options.simulate);
  EXPECT_TRUE(inv.options.json);
  EXPECT_TRUE(inv.options.trace);
  EXPECT_EQ(inv.options.simStateFile, "s.json");
  EXPECT_EQ(inv.words, std::vector<std::string>{"status"});
  EXPECT_TRUE(inv.commandFlags.empty());
}

TEST(Options, ValuesInlineAndAfterDoubleDash) {
  const Invocation inv =
      parseOk({"--simulate", "--sim-state=a=b.json", "set", "serial", "--", "--json", "-x"});
  EXPECT_EQ(inv.options.simStateFile, "a=b.json");
  EXPECT_FALSE(inv.options.json);
  EXPECT_EQ(inv.words, (std::vector<std::string>{"set", "serial", "--json", "-x"}));
}

TEST(Options, NegativeNumbersAndDashAreArgumentsUnknownOptionsGoToTheCommand) {
  const Invocation inv = parseOk({"set", "brightness", "-1", "-", "--quiet-real", "-q"});
  EXPECT_EQ(inv.words, (std::vector<std::string>{"set", "brightness", "-1", "-"}));
  EXPECT_EQ(inv.commandFlags, (std::vector<std::string>{"--quiet-real", "-q"}));
  EXPECT_TRUE(parseOk({"-h"}).options.help);
  EXPECT_EQ(parseOk({"--device", "/dev/hidraw3", "status"}).options.devicePath, "/dev/hidraw3");
}

TEST(Options, MalformedOptionsAreRefused) {
  EXPECT_NE(parseError({"--simulate", "--sim-state"}).find("--sim-state needs a value"),
            std::string::npos);
  EXPECT_NE(parseError({"--simulate", "--sim-state="}).find("non-empty"), std::string::npos);
  EXPECT_NE(
      parseError({"--simulate", "--sim-state", "a", "--sim-state", "b"}).find("more than once"),
      std::string::npos);
  EXPECT_NE(parseError({"--sim-state", "a", "status"}).find("needs --simulate"), std::string::npos);
  EXPECT_NE(parseError({"--json=yes", "status"}).find("takes no value"), std::string::npos);
  EXPECT_NE(parseError({"status", "--device"}).find("--device needs a value"), std::string::npos);
}
