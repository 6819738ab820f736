// talkgate-gadget's command line and its choice of USB device controllers.

#include <gtest/gtest.h>

#include "gadget/gadget_options.h"

namespace talkgate::gadget {
namespace {

struct UdcCase {
  std::vector<std::string> present;
  std::optional<std::string> requested;
  std::size_t count;
  std::vector<std::string> chosen;  // empty: refused
  std::string messagePart;          // in the refusal
};

TEST(GadgetOptions, ChoosesControllersOrSaysWhichThereAre) {
  const std::vector<UdcCase> cases = {
      {{"dummy_udc.0"}, std::nullopt, 1, {"dummy_udc.0"}, ""},
      {{}, std::nullopt, 1, {}, "No USB device controller in /sys/class/udc"},
      {{"b.1", "a.0"}, std::nullopt, 1, {}, "--udc NAME (there are: a.0, b.1)"},
      {{"b.1", "a.0"}, "b.1", 1, {"b.1"}, ""},
      {{"a.0"}, "c.2", 1, {}, "No USB device controller 'c.2' in /sys/class/udc; there are: a.0"},
      {{"b.1", "a.0", "c.2"}, std::nullopt, 2, {"a.0", "b.1"}, ""},
      {{"a.0"}, std::nullopt, 2, {}, "2 Talkgates need 2 USB device controllers, one each, but there are: a.0"},
      {{"a.0", "b.1"}, "a.0", 2, {}, "--udc names one controller"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> chosen;
    std::string error;
    const bool ok = chooseUdcs(c.present, c.requested, c.count, chosen, error);
    EXPECT_EQ(ok, !c.chosen.empty()) << error;
    EXPECT_EQ(chosen, c.chosen);
    EXPECT_NE(error.find(c.messagePart), std::string::npos) << error;
  }
}

TEST(GadgetOptions, ParsesWorldFaultsAndRefusesTheRest) {
  GadgetOptions options;
  std::string error;
  ASSERT_TRUE(parseGadgetOptions({"--sim-state", "w.json", "--udc", "u", "--sim-devices", "2",
                                  "--sim-fault", "unplug@70", "--verbose"},
                                 options, error));
  EXPECT_TRUE(options.verbose);
  EXPECT_EQ(options.world.simStateFile, "w.json");
  EXPECT_EQ(options.udc, "u");
  EXPECT_EQ(options.world.simDevices, 2u);
  EXPECT_EQ(options.world.simFaults, std::vector<std::string>{"unplug@70"});
  ASSERT_TRUE(parseGadgetOptions({"--sim-fault", "no-reply"}, options, error));
  EXPECT_EQ(options.talkgateFault, TalkgateFault::NoReply);
  EXPECT_TRUE(options.world.simFaults.empty());

  const std::vector<std::pair<std::vector<std::string>, std::string>> refused = {
      {{"--simulate"}, "Unknown option '--simulate'"},
      {{"--udc"}, "--udc needs a value"},
      {{"--sim-devices", "0"}, "from 1 to 16"},
      {{"--sim-devices", "17"}, "from 1 to 16"},
      {{"--sim-fault", "melt"}, "Unknown --sim-fault kind 'melt'"},
  };
  for (const auto& [args, message] : refused) {
    EXPECT_FALSE(parseGadgetOptions(args, options, error));
    EXPECT_NE(error.find(message), std::string::npos) << error;
  }
}

}  // namespace
}  // namespace talkgate::gadget
