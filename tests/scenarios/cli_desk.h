#pragma once
// talkgatectl run in-process on a simulated Talkgate with firmware 1.0.4 and its loader, for
// the fault scenarios of the command-line tool.

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "sim/sim_world.h"
#include "tests/cli/cli_fixture.h"

namespace talkgate::scenarios {

using talkgate::cli::testing::contains;

using cli::kExitBadInput;
using cli::kExitFailure;
using cli::kExitOk;
using cli::testing::CliTest;
using cli::testing::RunResult;

inline std::string demoImage(const std::string& version) {
  return sim::demoImagesDir() + "/talkgate_fw_" + version + ".txt";
}

inline std::string fileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline sim::SimWorldOptions talkgateOn104() {
  sim::SimWorldOptions o;
  o.initialImage = fileBytes(demoImage("1.0.4"));
  o.talkgate.serialNumber = "TG990042";
  auto& w = o.talkgate.working;
  w.symbolBrightness = 5;
  w.ambientConfig = 0;
  w.keypadType = 0;
  w.keyTable = {0x02, 0x04, 0x00, 0x05, 0x00, 0x06, 0x00, 0x07, 0x00, 0x52, 0x00, 0x28};
  o.talkgate.defaults = w;
  return o;
}

class CliFaults : public CliTest {
 protected:
  sim::SimTalkgate& talkgate() { return world_.talkgate(); }
  std::vector<int> commands() const { return world_.talkgate().commandCodes(); }
  mutable sim::SimWorld world_{bus_, talkgateOn104()};
};

// A configuration file as the utility writes it, with settings unlike the device's.
inline const std::string kRestoreFile =
    " [appSettings]\r\n LEDBrightness=2\r\n SerialNumber=TG000001\r\n FirmwareVersion=1.0.4\r\n"
    " CodeTableValues=0,30,0,31,0,32,0,33,0,34,0,35,\r\n Ambient_cfg=1\r\n KeypadLayout=1\r\n";
inline const KeyTable kRestoreTable{0, 30, 0, 31, 0, 32, 0, 33, 0, 34, 0, 35};

}  // namespace talkgate::scenarios
