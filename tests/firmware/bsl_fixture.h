#pragma once
// A simulated loader on a virtual bus behind a recording port, a manual clock, and helpers
// for files and progress logs.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <unistd.h>

#include "device/clock.h"
#include "device/hid_port.h"
#include "firmware/bsl430.h"
#include "firmware/programming_sequence.h"
#include "firmware/ti_txt.h"
#include "sim/sim_bsl_device.h"
#include "sim/sim_world.h"
#include "sim/virtual_bus.h"
#include "tests/device/recording_port.h"

namespace talkgate::firmware::test {

using Bytes = std::vector<std::uint8_t>;

using talkgate::testing::RecordingPort;
using talkgate::testing::WriteLog;

using PortGuard = hid::ScopedPort;

inline std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::string demoImagePath(const std::string& version) {
  return sim::demoImagesDir() + "/talkgate_fw_" + version + ".txt";
}

struct Step {
  int percent;
  std::string message;
  bool operator==(const Step&) const = default;
};

inline std::ostream& operator<<(std::ostream& os, const Step& s) {
  std::string shown;
  for (char c : s.message)
    shown += c == '\r' ? std::string("\\r") : c == '\n' ? std::string("\\n") : std::string(1, c);
  return os << "(" << s.percent << ", \"" << shown << "\")";
}

// A manual clock that tells the test after every sleep (a device that arrives late).
class HookedClock : public ManualClock {
 public:
  void sleepFor(std::chrono::milliseconds duration) override {
    ManualClock::sleepFor(duration);
    if (onSleep) onSleep();
  }
  std::function<void()> onSleep;
};

class BslTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "." + info->name();
    std::replace(name.begin(), name.end(), '/', '_');
    dir = std::filesystem::temp_directory_path() /
          ("tg_fw_" + std::to_string(::getpid()) + "_" + name);
    std::filesystem::create_directories(dir);
  }
  void TearDown() override {
    BSL_close_BSL();
    BSL_closeTI_Text();
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
  }

  std::string writeTemp(const std::string& name, const std::string& text) {
    const std::string path = (dir / name).string();
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }

  // Connects the library to the first loader, as the sequence does.
  int connect() {
    BSL_setFamily(kFamilyF5xxUsb);
    BSL_setCom(kComUsbHid);
    return BSL_initialize_BSL("PID=0x0200,VID=0x2047,DEVICEINDEX=0");
  }
  int sendFilePassword() {
    return BSL_RX_Password(BSL_readTI_Text(firmwareResources().passwordText, 32));
  }
  // The password the part holds now: its vector table.
  int sendCurrentPassword() {
    DataBlock_ block = BSL_getDefaultPass();
    const auto vectors = loader.readMemory(0xFFE0, 32);
    std::copy(vectors.begin(), vectors.end(), block.data);
    return BSL_RX_Password(block);
  }
  // From the ROM loader to a connected, unlocked RAM loader.
  void startRamLoader() {
    ASSERT_EQ(connect(), kBslOk);
    ASSERT_EQ(sendCurrentPassword(), kBslOk);
    ASSERT_EQ(BSL_RX_TXT(firmwareResources().ramBslText, kRxFast), kBslOk);
    ASSERT_EQ(BSL_LoadPC(0x2504), kBslOk);
    ASSERT_TRUE(loader.ramLoaderRunning());
    ASSERT_EQ(connect(), kBslOk);
    ASSERT_EQ(sendCurrentPassword(), kBslOk);
  }
  // Written reports whose core command is command.
  std::vector<Bytes> written(std::uint8_t command) const {
    std::vector<Bytes> out;
    for (const auto& r : port.log->attempts) {
      if (r.size() > 2 && r[2] == command) out.push_back(r);
    }
    return out;
  }

  HookedClock clock;
  ScopedClock scopedClock{clock};
  sim::VirtualBus bus;
  RecordingPort port{bus};
  PortGuard portGuard{port};
  sim::SimBslDevice loader{bus};
  std::filesystem::path dir;
};

// Runs the whole upgrade and keeps its progress.
class UpgradeTest : public BslTest {
 protected:
  void SetUp() override {
    BslTest::SetUp();
    oldImage = readFile(demoImagePath("1.0.4"));
    newImagePath = demoImagePath("1.1.0");
    newImage = readFile(newImagePath);
    TiTxtError error;
    ASSERT_TRUE(parseTiTxt(newImage, newSections, error)) << error.text();
    ASSERT_TRUE(loader.loadFlashImage(oldImage));
    loader.plugIn();
  }

  bool run(const std::string& path) {
    steps.clear();
    return programmer.CustomSelectedFirmware(path, [this](int percent, const std::string& message) {
      steps.push_back({percent, message});
      if (onStep) onStep(percent, message);
    });
  }
  std::vector<int> percents() const {
    std::vector<int> out;
    for (const auto& s : steps) out.push_back(s.percent);
    return out;
  }
  bool hasMessage(const std::string& message) const {
    for (const auto& s : steps) {
      if (s.message == message) return true;
    }
    return false;
  }
  // True when flash holds every byte of the TI-TXT image.
  ::testing::AssertionResult flashHolds(const std::string& text,
                                        std::uint32_t skipFrom = 0x100000) const {
    TiTxtImage image;
    TiTxtError error;
    if (!parseTiTxt(text, image, error)) return ::testing::AssertionFailure() << error.text();
    for (const auto& s : image.sections) {
      auto memory = loader.readMemory(s.address, s.data.size());
      auto wanted = s.data;
      // Bytes from skipFrom on are not compared (a reset vector nothing could prove).
      for (std::size_t i = 0; i < wanted.size(); ++i) {
        if (s.address + i >= skipFrom) memory[i] = wanted[i];
      }
      if (memory != wanted) {
        return ::testing::AssertionFailure()
               << "section at " << std::hex << s.address << " differs";
      }
    }
    return ::testing::AssertionSuccess();
  }

  FirmwareProgrammer programmer;
  std::vector<Step> steps;
  std::function<void(int, const std::string&)> onStep;
  std::string oldImage;
  std::string newImage;
  std::string newImagePath;
  TiTxtImage newSections;  // newImage parsed
};

}  // namespace talkgate::firmware::test
