// talkgatectl doctor on a healthy set-up and on each broken one: the udev rule, the devices on
// the bus, their permissions and the configuration file.

#include <gtest/gtest.h>

#include <functional>

#include "cli/command.h"
#include "cli/json.h"
#include "cli_fixture.h"
#include "config/utility_config.h"
#include "json_reader.h"
#include "tests/firmware/loader_images_fixture.h"

using namespace talkgate;
using namespace talkgate::cli;
using talkgate::cli::testing::CliTest;
using talkgate::cli::testing::RunResult;
namespace json = talkgate::cli::testing;

namespace {

// A computer set up as it should be: the rule installed, one Talkgate, the product's loader
// images (made-up ones) in the system folder, a saved configuration.
class Doctor : public CliTest {
 protected:
  void SetUp() override {
    CliTest::SetUp();
    std::filesystem::create_directories(path("etc-rules"));
    std::filesystem::create_directories(path("lib-rules"));
    std::filesystem::copy_file(TALKGATE_UDEV_RULE, rulePath());
    environment_.usbPort = &bus_;
    environment_.userDataFolder = path("data");
    environment_.udevRuleFolders = {path("etc-rules"), path("lib-rules")};
    images_.emplace(std::vector<std::string>{path("user-loader"), path("loader")});
    writeImages();
    sim::SimTalkgate model(bus_);
    ASSERT_EQ(run({"config", "save"}, environment_).code, kExitOk);
  }

  void writeImages() {
    firmware::test::writeLoaderImages(path("loader"), firmware::test::madeUpPassword(),
                                      firmware::test::kMadeUpRamLoader);
  }
  std::string rulePath() const { return path("lib-rules/70-talkgate.rules"); }
  std::string configPath() const { return path("data/VelkorInterface/USBTalkgateUtilityCfg.ini"); }
  RunResult doctor(bool json = false) {
    return run(
        json ? std::vector<std::string>{"doctor", "--json"} : std::vector<std::string>{"doctor"},
        environment_);
  }
  // The names of the checks that failed, from the JSON report.
  std::vector<std::string> failedChecks(const RunResult& r) {
    std::vector<std::string> failed;
    const json::Json report = json::parseJson(r.out);
    for (const auto& check : json::jsonAt(report, {"checks"}).items) {
      if (!json::jsonTrue(json::jsonAt(check, {"ok"}))) {
        failed.push_back(json::jsonAt(check, {"check"}).text);
        EXPECT_FALSE(json::jsonAt(check, {"fix"}).text.empty()) << "a problem without its fix";
      }
    }
    EXPECT_EQ(json::jsonTrue(json::jsonAt(report, {"ok"})), failed.empty());
    return failed;
  }

  Environment environment_;
  std::optional<firmware::test::ScopedLoaderImageSources> images_;
};

}  // namespace

TEST_F(Doctor, AHealthySetUpIsAllOkInOrderAndNothingChanges) {
  sim::SimTalkgate talkgate(bus_);
  talkgate.clearRequests();
  const std::string config = readFile(configPath());
  RunResult r = doctor();
  EXPECT_EQ(r.code, kExitOk) << r.out;
  EXPECT_EQ(r.out, "udev rule: ok (" + rulePath() +
                       ")\n"
                       "devices on the bus: ok (1 Talkgate (TG260001), 0 bootstrap loaders)\n"
                       "open " +
                       talkgate.configPath() +
                       ": ok (Talkgate TG260001)\n"
                       "loader images: ok (in " +
                       path("loader") +
                       "; password.txt: 32 bytes at 0xFFE0; RAM_BSL.txt: version 00.06.05.34 at "
                       "0x2500, code from 0x2504, 12 bytes inside RAM 0x2400-0x33FF, the version "
                       "expected)\n"
                       "configuration file: ok (" +
                       configPath() + ")\nAll is well.\n");
  EXPECT_TRUE(failedChecks(doctor(true)).empty());
  EXPECT_TRUE(talkgate.requests().empty()) << "the doctor sends no request";
  EXPECT_EQ(readFile(configPath()), config);

  // The file as the utility first creates it holds no settings yet, which is in order.
  std::filesystem::remove(configPath());
  ASSERT_TRUE(config::createConfigFile(configPath()));
  r = doctor();
  EXPECT_EQ(r.code, kExitOk) << r.out;
  EXPECT_NE(r.out.find(configPath() + ", no settings saved in it yet)"), std::string::npos);
}

TEST_F(Doctor, EachBrokenSetUpFailsItsOwnCheckWithAFix) {
  struct Case {
    std::string name;
    std::function<void(sim::SimTalkgate&)> breakIt;
    std::string failed;  // the one check that fails (the start of its name)
    std::string message;
  };
  const std::vector<Case> cases = {
      {"no rule", [&](sim::SimTalkgate&) { std::filesystem::remove(rulePath()); }, "udev rule",
       "Copy packaging/70-talkgate.rules to " + path("etc-rules")},
      {"unopenable device",
       [&](sim::SimTalkgate& talkgate) {
         bus_.setOpenError(talkgate.configPath(), hid::OpenError::PermissionDenied);
       },
       "open ", "Install the udev rule 70-talkgate.rules"},
      {"no device", [](sim::SimTalkgate& talkgate) { talkgate.unplug(); }, "devices on the bus",
       "No Talkgate and no bootstrap loader is connected."},
      {"bad value",
       [&](sim::SimTalkgate&) {
         std::string text = readFile(configPath());
         text.replace(text.find("LEDBrightness="), 14, "LEDBrightness=x");
         std::ofstream(configPath()) << text;
       },
       "configuration file", "The value of LEDBrightness in " + configPath()},
      {"missing images",
       [&](sim::SimTalkgate&) {
         std::filesystem::remove(path("loader") + "/" + firmware::kRamLoaderFileName);
       },
       "loader images", "Copy the product's password.txt and RAM_BSL.txt into " + path("loader")},
  };
  const std::string rule = readFile(rulePath());
  const std::string config = readFile(configPath());
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    sim::SimTalkgate talkgate(bus_);
    c.breakIt(talkgate);
    const RunResult r = doctor(true);
    EXPECT_EQ(r.code, kExitFailure);
    // As JSON writes it: a Windows path's backslashes escaped.
    const std::string message = jsonString(std::string_view(c.message));
    EXPECT_NE(r.out.find(message.substr(1, message.size() - 2)), std::string::npos) << r.out;
    const auto failed = failedChecks(r);
    ASSERT_EQ(failed.size(), 1u) << r.out;
    EXPECT_EQ(failed[0].rfind(c.failed, 0), 0u) << failed[0];
    // Put the set-up right again for the next case.
    bus_.setOpenError(talkgate.configPath(), hid::OpenError::None);
    writeImages();
    std::ofstream(rulePath()) << rule;
    std::ofstream(configPath()) << config;
  }
}
