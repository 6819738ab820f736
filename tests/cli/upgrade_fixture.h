#pragma once
// talkgatectl upgrade against a simulated Talkgate on firmware 1.0.4 with its loader, on the
// test's bus, and the helpers its tests share.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli_fixture.h"
#include "json_reader.h"
#include "sim/sim_world.h"

namespace talkgate::cli::testing {

inline std::string demoImage(const std::string& version) {
  return sim::demoImagesDir() + "/talkgate_fw_" + version + ".txt";
}

// A Talkgate on firmware 1.0.4 whose settings all differ from the factory ones, with its loader.
class UpgradeTest : public CliTest {
 protected:
  static sim::SimWorldOptions worldOptions() {
    sim::SimWorldOptions o;
    o.initialImage = CliTest::readFile(demoImage("1.0.4"));
    o.talkgate.serialNumber = "TG990042";
    o.talkgate.working.symbolBrightness = 8;
    o.talkgate.working.ambientConfig = 1;
    o.talkgate.working.keypadType = 1;
    o.talkgate.working.keyTable = {0x02, 0x04, 0x00, 0x05, 0x00, 0x06,
                                   0x00, 0x07, 0x00, 0x52, 0x00, 0x28};
    return o;
  }

  RunResult upgrade(std::vector<std::string> extra = {}, const std::string& version = "1.1.0") {
    std::vector<std::string> args = {"upgrade", demoImage(version), "--yes"};
    args.insert(args.end(), extra.begin(), extra.end());
    return run(args);
  }

  sim::SimWorld world_{bus_, worldOptions()};
};

}  // namespace talkgate::cli::testing
