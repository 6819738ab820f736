#pragma once
// Runs talkgatectl in-process against simulated Talkgates, with time on a manual clock.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "cli/talkgatectl.h"
#include "device/clock.h"
#include "device/transport.h"
#include "sim/sim_talkgate.h"
#include "sim/virtual_bus.h"

namespace talkgate::cli::testing {

// True when text holds part.
inline bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

struct RunResult {
  int code = -1;
  std::string out;
  std::string err;
  // Report lines of --trace ("> ..." written, "< ..." read).
  std::vector<std::string> traceLines() const {
    std::vector<std::string> lines;
    std::istringstream stream(err);
    for (std::string line; std::getline(stream, line);) {
      if (line.rfind("> ", 0) == 0 || line.rfind("< ", 0) == 0) lines.push_back(line);
    }
    return lines;
  }
  // With --json, upgrade writes one progress object per line before its result: those lines.
  std::vector<std::string> progressLines() const { return split().first; }
  // What follows them: the result document.
  std::string result() const { return split().second; }

 private:
  std::pair<std::vector<std::string>, std::string> split() const {
    std::pair<std::vector<std::string>, std::string> parts;
    std::size_t at = 0;
    while (at < out.size() && out.compare(at, 13, "{\"progress\": ") == 0) {
      const std::size_t end = out.find('\n', at);
      parts.first.push_back(out.substr(at, end - at));
      at = end == std::string::npos ? out.size() : end + 1;
    }
    parts.second = out.substr(at);
    return parts;
  }
};

class CliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = std::filesystem::temp_directory_path() /
           ("talkgatectl-" + std::string(info->test_suite_name()) + "-" + info->name() + "-" +
            std::to_string(::getpid()));
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override {
    std::filesystem::remove_all(dir_);
    EXPECT_EQ(hid_handle, nullptr) << "a run left the device handle open";
    EXPECT_EQ(&hid::activePort(), &hid::systemPort()) << "a run left its port active";
  }

  // Runs with the given environment (by default the USB bus stands for the test's bus).
  RunResult run(const std::vector<std::string>& args, const Environment& environment) {
    std::ostringstream out;
    std::ostringstream err;
    RunResult result;
    result.code = runTalkgatectl(args, out, err, environment);
    result.out = out.str();
    result.err = err.str();
    return result;
  }
  // Runs with `bus_` as the USB bus.
  RunResult run(const std::vector<std::string>& args) {
    Environment environment;
    environment.usbPort = &bus_;
    return run(args, environment);
  }

  // With the system's own separators throughout, as the program shows paths it builds.
  std::string path(const std::string& name) const {
    return (dir_ / name).make_preferred().string();
  }

  // In binary: the bytes as written, CRLF included, on every system.
  static std::string readFile(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  ManualClock clock_;
  ScopedClock scopedClock_{clock_};
  sim::VirtualBus bus_;
  std::filesystem::path dir_;
};

}  // namespace talkgate::cli::testing
