// Files and paths met through talkgatectl, run in-process on the simulated Talkgate: what the
// configuration file, imported and exported files and firmware images may be, what a run
// leaves in them when it fails, is killed or meets another run, and what it says.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "config/atomic_file.h"
#include "config/file_lock.h"
#include "config/ini_file.h"
#include "firmware/ti_txt.h"
#include "sim/world_state.h"
#include "tests/config/test_files.h"
#include "tests/scenarios/cli_desk.h"
#include "tests/scenarios/file_faults.h"

namespace talkgate::scenarios {
namespace {

namespace fs = std::filesystem;
using config::CIniFile;

constexpr char kTryHelp[] = "Run 'talkgatectl --help' for the commands and their arguments.\n";
constexpr char kDefaultsKept[] = ". The Talkgate's defaults were left as they were.\n";

void writeFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

class CliFiles : public CliFaults {
 protected:
  void SetUp() override {
    CliFaults::SetUp();
    file = path("USBTalkgateUtilityCfg.ini");
  }
  void TearDown() override {
    config::setLockWait(config::kDefaultLockWait);
    CliFaults::TearDown();
  }
  std::string file;  // the configuration file given with --config

  // Runs the command in a child process (a run of its own) and returns the child's id.
  template <typename Body>
  pid_t inChild(Body body) {
    const pid_t child = ::fork();
    if (child == 0) ::_exit(body());
    return child;
  }
  // A run beside others: its waits for their lock pass in real time, as two programs' do.
  template <typename Body>
  pid_t inConcurrentChild(Body body) {
    return inChild([body] {
      const ScopedClock realTime(systemClock());
      return body();
    });
  }
  static int exitCodeOf(pid_t child) {
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  // Runs the command in a child that has become another user (nobody), as a second user of a
  // shared folder would; what it said comes back through a file in the shared folder.
  RunResult runAsOtherUser(const std::vector<std::string>& args) {
    const std::string said = path("shared/said");
    RunResult r;
    r.code = exitCodeOf(inChild([&] {
      if (::setgid(65534) != 0 || ::setuid(65534) != 0) return 99;
      const RunResult own = run(args);
      writeFile(said, own.err);
      return own.code;
    }));
    r.err = fileBytes(said);
    fs::remove(said);
    return r;
  }
};

// A file as the utility's first start creates it: the six keys without values.
const std::string kFreshConfig =
    " [appSettings]\r\n LEDBrightness=\r\n SerialNumber=\r\n FirmwareVersion=\r\n"
    " CodeTableValues=\r\n Ambient_cfg=\r\n KeypadLayout=\r\n";

// ---- Nothing but a regular file

class CliSpecialFile : public CliFiles, public ::testing::WithParamInterface<scen::SpecialKind> {};

// Each is refused at once with its name and what it is; it stays what it was and the device is
// not touched. A FIFO would hang a plain open, a directory once read as an image ran out of
// memory, and a device node given as --config was replaced by a regular file.
TEST_P(CliSpecialFile, IsRefusedByEveryCommandThatTakesAFile) {
  fs::create_directories(dir_ / "bad");
  const std::string special = path("bad/USBTalkgateUtilityCfg.ini");
  if (!scen::makeSpecial(GetParam().kind, special)) GTEST_SKIP() << "cannot make one here";
  writeFile(file, kRestoreFile);
  const std::string reason = GetParam().reason;
  const struct {
    std::vector<std::string> args;
    std::string error;
  } cases[] = {
      {{"--config", special, "config", "save"},
       "The configuration file " + special + " cannot be used: " + reason + ".\n" + kTryHelp},
      {{"--config", special, "config", "restore"},
       "The configuration file " + special + " cannot be used: " + reason + ".\n" + kTryHelp},
      {{"--config", file, "config", "import", special},
       "The file " + special + " cannot be used: " + reason + ".\n" + kTryHelp},
      {{"--config", file, "config", "export", path("bad"), "--force"},
       "The export target " + special + " cannot be used: " + reason + ".\n" + kTryHelp},
      {{"--simulate", "--sim-state", special, "status"},
       "Cannot read the simulated Talkgate from " + special + ": " + reason + ".\n" + kTryHelp},
      {{"upgrade", special, "--yes"},
       "The firmware image " + special + " cannot be used: cannot open " + special + ": " + reason +
           ". Nothing was sent to the device.\n" + kTryHelp},
  };
  for (const auto& c : cases) {
    const auto started = std::chrono::steady_clock::now();
    const RunResult r = run(c.args);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(1));
    EXPECT_EQ(r.code, kExitBadInput) << c.args[2];
    EXPECT_EQ(r.err, c.error);
    EXPECT_TRUE(scen::stillSpecial(GetParam(), special));
  }
  EXPECT_TRUE(commands().empty());
  EXPECT_EQ(fileBytes(file), kRestoreFile);
  EXPECT_EQ(scen::entryCount(dir_ / "bad"), 1);
}

INSTANTIATE_TEST_SUITE_P(Kinds, CliSpecialFile, ::testing::ValuesIn(scen::kSpecials),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(CliFiles, MissingOversizedOrHostileNamedFilesAreToldApart) {
  RunResult r = run({"--config", file, "config", "import", file + ".gone"});
  EXPECT_EQ(r.code, kExitBadInput);
  EXPECT_EQ(r.err, "The file " + file + ".gone does not exist.\n" + kTryHelp);

  const std::string malformed = path("in/USBTalkgateUtilityCfg.ini");
  fs::create_directories(dir_ / "in");
  writeFile(malformed, " [appSettings]\r\n [appSettings\r\n");
  r = run({"--config", file, "config", "import", malformed});
  EXPECT_EQ(r.code, kExitBadInput);
  EXPECT_EQ(r.err.rfind(malformed + " cannot be read (line 2: ", 0), 0u) << r.err;

  const std::string image = path("huge.txt");
  writeFile(image, "");
  fs::resize_file(image, firmware::kMaxImageTextBytes + 1);
  r = run({"upgrade", image, "--yes"});
  EXPECT_EQ(r.code, kExitBadInput);
  EXPECT_EQ(r.err, "The firmware image " + image + " cannot be used: cannot open " + image +
                       ": it is larger than 4 MiB. Nothing was sent to the device.\n" + kTryHelp);

  // A name with control characters is shown escaped, never written raw to the terminal.
  const std::string hostile = path("a\x1b[2Jb\nc.ini");
  r = run({"--config", hostile, "config", "restore"});
  EXPECT_EQ(r.code, kExitBadInput);
  EXPECT_EQ(r.err, "The configuration file " + path("a\\x1B[2Jb\\x0Ac.ini") + " does not exist.\n" +
                       kTryHelp);
  EXPECT_TRUE(commands().empty());
}

// ---- What a failed save leaves, and what it says once

TEST_F(CliFiles, FailedSaveNamesTheFileAndTheReasonOnceAndKeepsTheFile) {
  writeFile(file, kRestoreFile);
  const struct {
    const char* name;
    std::string reason;
  } faults[] = {{"disk full", "File too large"}, {"read-only file", "it is read-only"}};
  for (const auto& fault : faults) {
    RunResult r;
    {
      std::unique_ptr<scen::DiskFull> full;
      std::unique_ptr<scen::ReadOnly> readOnly;
      if (fault.reason == "File too large") {
        full = std::make_unique<scen::DiskFull>();
      } else {
        readOnly = std::make_unique<scen::ReadOnly>(file);
      }
      r = run({"--config", file, "config", "save"});
    }
    EXPECT_EQ(r.code, kExitFailure) << fault.name;
    EXPECT_EQ(r.err, "Failed to update " + file + ": " + fault.reason + kDefaultsKept)
        << fault.name;
    EXPECT_EQ(fileBytes(file), kRestoreFile) << fault.name;
    EXPECT_EQ(scen::entryCount(dir_), 1) << fault.name << ": temporary file left behind";
  }
  // The file was found unwritable before the device was asked to store anything.
  EXPECT_EQ(commands(), (std::vector<int>{kCmdStatus, kCmdStatus}));
}

TEST_F(CliFiles, SaveWithAFileWhereTheFolderBelongs) {
  cli::Environment environment;
  environment.usbPort = &bus_;
  environment.userDataFolder = dir_.string();
  const std::string inTheWay = path("VelkorInterface");
  writeFile(inTheWay, "keep me\n");
  RunResult r = run({"config", "save"}, environment);
  EXPECT_EQ(r.code, kExitFailure);
  EXPECT_EQ(r.err, "Cannot create the configuration file " + inTheWay +
                       "/USBTalkgateUtilityCfg.ini: Not a directory.\n");
  EXPECT_EQ(fileBytes(inTheWay), "keep me\n");

  // With the folder gone altogether, the tool makes it again, as the utility's start does.
  fs::remove(inTheWay);
  r = run({"config", "save"}, environment);
  EXPECT_EQ(r.code, kExitOk) << r.err;
  EXPECT_TRUE(contains(fileBytes(path("VelkorInterface/USBTalkgateUtilityCfg.ini")),
                       " SerialNumber=TG990042\r\n"));
}

TEST_F(CliFiles, ARunThatCannotGetTheFileSaysSo) {
  writeFile(file, kRestoreFile);
  config::setLockWait(std::chrono::milliseconds(0));
  config::FileLock otherRun(file);
  ASSERT_TRUE(otherRun.locked());
  const RunResult r = run({"--config", file, "config", "save"});
  EXPECT_EQ(r.code, kExitFailure);
  EXPECT_EQ(r.err, "Failed to update " + file +
                       ": another run of the program is using it (waited 0 ms)" + kDefaultsKept);
  EXPECT_EQ(fileBytes(file), kRestoreFile);
  EXPECT_EQ(commands(), (std::vector<int>{kCmdStatus}));
}

// ---- Reading a file the program did not write

TEST_F(CliFiles, MalformedOrTruncatedFileIsRefusedBeforeAnythingIsSent) {
  const std::string malformed = " [appSettings]\r\n LEDBrightness=3\r\n [appSettings\r\n";
  writeFile(file, malformed);
  RunResult r = run({"--config", file, "config", "restore"});
  EXPECT_EQ(r.code, kExitBadInput);
  EXPECT_EQ(r.err.rfind(file + " cannot be read (line 3", 0), 0u) << r.err;
  r = run({"--config", file, "config", "save"});
  EXPECT_EQ(r.code, kExitFailure);
  EXPECT_EQ(r.err.rfind(file + " cannot be read (line 3", 0), 0u) << r.err;
  EXPECT_EQ(fileBytes(file), malformed);
  EXPECT_EQ(commands(), (std::vector<int>{kCmdStatus})) << "nothing was stored or restored";

  const std::string truncated = kRestoreFile.substr(0, kRestoreFile.size() - 20);
  writeFile(file, truncated);
  talkgate().clearRequests();
  r = run({"--config", file, "config", "restore"});
  EXPECT_EQ(r.code, kExitBadInput);
  EXPECT_EQ(r.err, "Unable to restore: the value of KeypadLayout in " + file +
                       " is missing or not valid.\n");
  EXPECT_TRUE(commands().empty());
  EXPECT_EQ(fileBytes(file), truncated);
}

// Every value is checked, ranges included, before the first request.
TEST_F(CliFiles, RestoreWithAValueOutOfRangeSendsNothingAndNamesTheKey) {
  for (const auto& [key, bad] : {std::pair{"LEDBrightness", "42"}, {"Ambient_cfg", "7"}}) {
    std::string bytes = kRestoreFile;
    const std::string line = std::string(" ") + key + "=";
    const std::size_t at = bytes.find(line) + line.size();
    bytes.replace(at, 1, bad);
    writeFile(file, bytes);
    const RunResult r = run({"--config", file, "config", "restore"});
    EXPECT_EQ(r.code, kExitBadInput) << key;
    EXPECT_EQ(r.err, std::string("Unable to restore: the value of ") + key + " in " + file +
                         " is missing or not valid.\n");
    EXPECT_EQ(fileBytes(file), bytes);
  }
  EXPECT_TRUE(commands().empty());
  EXPECT_EQ(talkgate().state().working, talkgateOn104().talkgate.working);
}

// A text line and a last line without a line end are kept, and a device text cannot add lines.
TEST_F(CliFiles, HandEditedFileAndHostileDeviceTextSurviveASaveAndARestore) {
  writeFile(file, "just a note\r\n" + kRestoreFile.substr(0, kRestoreFile.size() - 2));
  auto state = talkgate().state();
  state.serialNumber = "TG\n LEDBrightness=9";
  talkgate().setState(state);
  RunResult r = run({"--config", file, "config", "save"});
  ASSERT_EQ(r.code, kExitOk) << r.err;
  EXPECT_EQ(
      fileBytes(file),
      "just a note\r\n [appSettings]\r\n LEDBrightness=5\r\n SerialNumber=TG LEDBrightness=9\r\n"
      " FirmwareVersion=1.0.4\r\n CodeTableValues=2,4,0,5,0,6,0,7,0,82,0,40,\r\n"
      " Ambient_cfg=0\r\n KeypadLayout=0\r\n");
  r = run({"--config", file, "config", "restore"});
  EXPECT_EQ(r.code, kExitOk) << r.err;
  EXPECT_EQ(talkgate().state().working.symbolBrightness, 5);

  // The same hand-edited file is accepted by an import.
  const std::string other = path("in/USBTalkgateUtilityCfg.ini");
  fs::create_directories(dir_ / "in");
  const std::string edited = "note\n" + kRestoreFile.substr(0, kRestoreFile.size() - 2);
  writeFile(other, edited);
  r = run({"--config", file, "config", "import", other});
  EXPECT_EQ(r.code, kExitOk) << r.err;
  EXPECT_EQ(fileBytes(file), edited);
}

// ---- Killed and concurrent runs

// The six keys go in one replacement: a run killed at any moment leaves the old file or the new
// one, never a mix and never an empty file; the next run clears what the killed one left.
TEST_F(CliFiles, SaveKilledAtAnyMomentLeavesTheOldFileOrTheNewOne) {
  writeFile(file, kRestoreFile);
  const auto save = [this] { return run({"--config", file, "config", "save"}).code; };
  auto started = std::chrono::steady_clock::now();
  ASSERT_EQ(exitCodeOf(inChild(save)), kExitOk);
  const auto oneRun = std::chrono::steady_clock::now() - started;
  const std::string saved = fileBytes(file);
  ASSERT_NE(saved, kRestoreFile);

  std::mt19937 random(14);
  std::uniform_int_distribution<long long> moment(0, oneRun.count());
  int oldSeen = 0;
  int newSeen = 0;
  for (int i = 0; i < 200; ++i) {
    writeFile(file, kRestoreFile);
    const pid_t child = inChild(save);
    const auto killAt = std::chrono::steady_clock::now() + decltype(oneRun)(moment(random));
    while (std::chrono::steady_clock::now() < killAt) {
    }
    ::kill(child, SIGKILL);
    exitCodeOf(child);
    const std::string bytes = fileBytes(file);
    ASSERT_TRUE(bytes == kRestoreFile || bytes == saved) << "run " << i << ":\n" << bytes;
    (bytes == saved ? newSeen : oldSeen)++;
  }
  EXPECT_GT(oldSeen, 0);
  EXPECT_GT(newSeen, 0);
  ASSERT_EQ(save(), kExitOk);
  EXPECT_EQ(scen::entryCount(dir_), 1) << "leftovers of the killed runs";
}

// Two devices saved into one file while two other runs count in it: every read finds a whole
// file holding one device's six values, and no run's change is lost (the count is complete).
TEST_F(CliFiles, ConcurrentRunsOnOneFileNeverMixAndLoseNothing) {
  constexpr int kRounds = 60;
  const auto saveAs = [this](int brightness, const char* serial, std::string target, int rounds) {
    return [=, this] {
      auto state = talkgate().state();
      state.working.symbolBrightness = static_cast<std::uint8_t>(brightness);
      state.serialNumber = serial;
      talkgate().setState(state);
      for (int i = 0; i < rounds; ++i) {
        if (run({"--config", target, "config", "save"}).code != kExitOk) return 1;
      }
      return 0;
    };
  };
  const auto count = [this] {
    for (int i = 0; i < kRounds; ++i) {
      const bool counted = CIniFile::Update(file, [](std::vector<CIniFile::Record>& records) {
        const std::string now = config::test::valueIn(records, "Count");
        return config::setValueIn(records, "Count", std::to_string(std::atoi(now.c_str()) + 1),
                                  "appSettings");
      });
      if (!counted) return 1;
    }
    return 0;
  };
  // What one save of each device makes of the file.
  std::vector<std::string> wholeFiles{kRestoreFile};
  for (const auto& [brightness, serial] : {std::pair{1, "TG-A"}, {9, "TG-B"}}) {
    const std::string scratch = path("scratch.ini");
    writeFile(scratch, kRestoreFile);
    ASSERT_EQ(exitCodeOf(inChild(saveAs(brightness, serial, scratch, 1))), 0);
    wholeFiles.push_back(fileBytes(scratch));
    fs::remove(scratch);
  }
  // The count is the one line the savers do not write.
  const auto withoutCount = [](std::string bytes) {
    const std::size_t at = bytes.find(" Count=");
    if (at != std::string::npos) bytes.erase(at, bytes.find("\r\n", at) + 2 - at);
    return bytes;
  };

  writeFile(file, kRestoreFile);
  const std::vector<pid_t> runs{inConcurrentChild(saveAs(1, "TG-A", file, kRounds)),
                                inConcurrentChild(saveAs(9, "TG-B", file, kRounds)),
                                inConcurrentChild(count), inConcurrentChild(count)};
  int reads = 0;
  int lastStatus = 0;
  while (::waitpid(runs.back(), &lastStatus, WNOHANG) == 0) {
    const std::string bytes = withoutCount(fileBytes(file));
    ASSERT_NE(std::find(wholeFiles.begin(), wholeFiles.end(), bytes), wholeFiles.end())
        << "read " << reads << ":\n"
        << bytes;
    ++reads;
  }
  EXPECT_TRUE(WIFEXITED(lastStatus) && WEXITSTATUS(lastStatus) == 0);
  for (std::size_t i = 0; i + 1 < runs.size(); ++i) EXPECT_EQ(exitCodeOf(runs[i]), 0) << i;
  EXPECT_GT(reads, 0);
  const std::string last = withoutCount(fileBytes(file));
  EXPECT_TRUE(last == wholeFiles[1] || last == wholeFiles[2]) << last;
  EXPECT_EQ(CIniFile::GetValue("Count", "appSettings", file), std::to_string(2 * kRounds));
  EXPECT_EQ(scen::entryCount(dir_), 1);
}

// ---- The simulated Talkgate's state file, kept between runs

// Two runs changing different settings at once: the file is never corrupt, and each run finds
// its own last change still there before its next one (no run's change is lost to another's).
TEST_F(CliFiles, ConcurrentRunsOnOneStateFileNeverCorruptItAndEveryChangeLands) {
  const std::string state = path("state.json");
  constexpr int kRounds = 100;
  using Setting = int (*)(const sim::WorldState&);
  const auto loop = [this, &state](const char* name, std::vector<std::string> values,
                                   std::vector<int> held, Setting setting) {
    return [=, this] {
      for (int i = 0; i < kRounds; ++i) {
        const std::size_t at = static_cast<std::size_t>(i) % values.size();
        if (run({"--simulate", "--sim-state", state, "set", name, values[at]}).code != kExitOk) {
          return 1;
        }
        sim::WorldState world;
        std::string error;
        if (!sim::loadWorldState(state, world, error) || setting(world) != held[at]) return 2;
      }
      return 0;
    };
  };
  const pid_t brightness = inConcurrentChild(
      loop("brightness", {"1", "2", "3", "4"}, {1, 2, 3, 4},
           [](const sim::WorldState& w) { return int{w.talkgate.working.symbolBrightness}; }));
  const pid_t ambient = inConcurrentChild(
      loop("ambient", {"enable", "disable"}, {1, 0},
           [](const sim::WorldState& w) { return int{w.talkgate.working.ambientConfig}; }));
  EXPECT_EQ(exitCodeOf(brightness), 0) << "1: a run failed; 2: its change was lost";
  EXPECT_EQ(exitCodeOf(ambient), 0) << "1: a run failed; 2: its change was lost";
  sim::WorldState world;
  std::string error;
  ASSERT_TRUE(sim::loadWorldState(state, world, error)) << error;
  EXPECT_EQ(world.talkgate.working.symbolBrightness, 4);
  EXPECT_EQ(world.talkgate.working.ambientConfig, 0);
  EXPECT_EQ(scen::entryCount(dir_), 1);
}

// The state file is written as the configuration file is: a link planted at the name the old
// writer used is never followed, a read-only file is refused, a linked one written through.
TEST_F(CliFiles, StateFileIsWrittenLikeTheConfigurationFile) {
  const std::string state = path("state.json");
  const std::string victim = path("victim");
  writeFile(victim, "keep");
  fs::create_symlink(victim, state + ".tmp");
  const auto setBrightness = [this](const std::string& file, const char* value) {
    return run({"--simulate", "--sim-state", file, "set", "brightness", value});
  };
  RunResult r = setBrightness(state, "3");
  ASSERT_EQ(r.code, kExitOk) << r.err;
  EXPECT_EQ(fileBytes(victim), "keep");
  EXPECT_EQ(fs::symlink_status(state).type(), fs::file_type::regular);
  const std::string saved = fileBytes(state);

  {
    scen::ReadOnly guard(state);
    r = setBrightness(state, "4");
  }
  EXPECT_EQ(r.code, kExitFailure);
  EXPECT_EQ(r.err, "Cannot save the simulated Talkgate to " + state + ": it is read-only.\n");
  EXPECT_EQ(fileBytes(state), saved);

  const std::string link = path("link.json");
  fs::create_symlink(state, link);
  r = setBrightness(link, "6");
  EXPECT_EQ(r.code, kExitOk) << r.err;
  EXPECT_TRUE(fs::is_symlink(link));
  r = run({"--simulate", "--sim-state", state, "--json", "status"});
  EXPECT_TRUE(contains(r.out, "\"symbol_led_brightness\": 6")) << r.out;

  // A larger file than any world writes is refused unread, and left as it is.
  const std::string large = saved + std::string(16 * 1024 * 1024, ' ');
  writeFile(state, large);
  r = setBrightness(state, "7");
  EXPECT_EQ(r.code, kExitBadInput);
  EXPECT_EQ(r.err, "Cannot read the simulated Talkgate from " + state +
                       ": it is larger than 16 MiB.\n" + kTryHelp);
  EXPECT_EQ(fileBytes(state), large);
}

// ---- What one run writes, the next run (or another user's) reads

// A world of three parts, each with all 128 KiB of main flash programmed.
std::string fullFleet() {
  std::string flash = "@4400\n";
  for (std::size_t i = 0; i < 128 * 1024; ++i) {
    flash += "0123456789ABCDEF"[(i * 7) % 16];
    flash += (i % 16 == 15) ? "1\n" : "1 ";
  }
  std::vector<sim::WorldState> fleet{sim::fleetMember(0), sim::fleetMember(1), sim::fleetMember(2)};
  for (auto& part : fleet) part.flash = flash + "q\n";
  return sim::worldStatesJson(fleet);
}

// Each case sets files up, runs one command and checks what it said and what the watched file
// holds then: a file is never cut nor replaced by one the next run refuses, and a lock keeps a
// second user out.
TEST_F(CliFiles, FilesAreNeverCutAndWhatIsWrittenIsReadBack) {
  const std::string state = path("shared/state.json");
  const std::string fleet = path("fleet.json");
  const std::string other = path("in/USBTalkgateUtilityCfg.ini");
  fs::create_directories(dir_ / "in");
  fs::create_directories(dir_ / "shared");
  fs::permissions(dir_ / "shared", fs::perms::all);  // 0777, no sticky bit: a shared folder
  // Text lines with LF ends, kept above the first record, grow when a save writes CR LF.
  std::string nearCap;
  while (nearCap.size() + 1024 + kRestoreFile.size() < config::kMaxIniFileBytes) {
    nearCap += std::string(1023, 'x') + "\n";
  }
  nearCap += kRestoreFile;
  const auto withValue = [](const std::string& key, const std::string& value) {
    std::string bytes = kRestoreFile;
    const std::size_t at = bytes.find(" " + key + "=") + key.size() + 2;
    return bytes.replace(at, bytes.find('\r', at) - at, value);
  };
  const std::vector<std::string> save{"--config", file, "config", "save"};
  const std::vector<std::string> import{"--config", file, "config", "import", other};
  const std::vector<std::string> setAsOther{"--simulate", "--sim-state", state,
                                            "set",        "brightness",  "7"};
  const auto badValue = [&](const std::string& key) {
    return "File is incorrect format. The value of " + key + " in " + other +
           " is missing or not valid.\n" + kTryHelp;
  };
  const std::string saved =
      " [appSettings]\r\n SerialNumber=TG990042\r\n FirmwareVersion=1.0.4\r\n CodeTableValues=2,4,"
      "0,5,0,6,0,7,0,82,0,40,\r\n Ambient_cfg=0\r\n KeypadLayout=0\r\n LEDBrightness=5\r\n";
  const std::string failed = "Failed to update " + file + ": ";
  const std::string busyState = "Cannot read the simulated Talkgate from " + state + ": ";
  std::optional<config::FileLock> firstUser;
  std::optional<scen::ReadOnly> readOnly;
  struct Case {
    const char* name;
    std::function<void()> setUp;
    std::vector<std::string> args;
    int code;
    std::string err;
    std::string watched, after;  // a file and what it must hold afterwards
    bool asOtherUser = false;
  };
  // clang-format off
  const Case cases[] = {
      {"folder takes no new file", [&] { readOnly.emplace(dir_); }, save, kExitFailure,
       failed + "its folder takes no new file (Permission denied)" + kDefaultsKept, file, kRestoreFile},
      {"save past the reader's cap", [&] { writeFile(file, nearCap); }, save, kExitFailure, failed +
       "it would be larger than 16 MiB, more than the program reads back" + kDefaultsKept, file, nearCap},
      {"byte-order mark", [&] { writeFile(file, "\xEF\xBB\xBF[appSettings]\r\nLEDBrightness=2\r\n"); },
       save, kExitOk, "", file, saved},
      {"import of empty values", [&] { writeFile(other, kFreshConfig); }, import, kExitBadInput,
       badValue("KeypadLayout"), file, kRestoreFile},
      {"import of 0x7", [&] { writeFile(other, withValue("LEDBrightness", "0x7")); }, import,
       kExitBadInput, badValue("LEDBrightness"), file, kRestoreFile},
      {"import of 11 table entries", [&] {
         writeFile(other, withValue("CodeTableValues", "0,30,0,31,0,32,0,33,0,34,0,")); },
       import, kExitBadInput, badValue("CodeTableValues"), file, kRestoreFile},
      {"export without saved settings", [&] { writeFile(file, kFreshConfig); },
       {"--config", file, "config", "export", path("in")}, kExitFailure,
       "Failed to export the file: the configuration file " + file + " cannot be exported: the value"
       " of KeypadLayout is missing or not valid ('talkgatectl config save' writes it).\n", other, ""},
      {"fleet of full parts", [&] { writeFile(fleet, fullFleet()); },
       {"--simulate", "--sim-state", fleet, "--all", "set", "brightness", "3"}, kExitOk, "", "", ""},
      {"the next run reads what the last one wrote", [] {},
       {"--simulate", "--sim-state", fleet, "--all", "status"}, kExitOk, "", "", ""},
      {"second user while the first holds the state file", [&] {
         ASSERT_EQ(run({"--simulate", "--sim-state", state, "set", "brightness", "2"}).code, 0);
         fs::permissions(state, static_cast<fs::perms>(0666));
         firstUser.emplace(state); },
       setAsOther, kExitFailure, busyState + "another run of the program is using it (waited 0 ms).\n",
       "", "", true},
      {"second user meets a private lock file of the first", [&] {
         writeFile(state + ".lock", "");
         fs::permissions(state + ".lock", static_cast<fs::perms>(0600)); },
       setAsOther, kExitFailure, busyState + "its lock file " + state +
       ".lock cannot be opened (Permission denied).\n", "", "", true},
  };
  // clang-format on
  config::setLockWait(std::chrono::milliseconds(0));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.asOtherUser && ::geteuid() != 0) {
      std::cout << "[  SKIPPED ] " << c.name << ": only root can become a second user\n";
      continue;
    }
    writeFile(file, kRestoreFile);
    fs::remove(other);
    c.setUp();
    const std::string stateBefore = fileBytes(state);
    const RunResult r = c.asOtherUser ? runAsOtherUser(c.args) : run(c.args);
    readOnly.reset();
    firstUser.reset();
    EXPECT_EQ(r.code, c.code) << r.err;
    EXPECT_EQ(r.err, c.err);
    const std::string after = c.watched.empty() ? "" : fileBytes(c.watched);
    EXPECT_TRUE(after == c.after) << after.substr(0, 300);
    EXPECT_EQ(fileBytes(state), stateBefore) << "the state file changed";
    fs::remove(state + ".lock");
    EXPECT_EQ(scen::entryCount(dir_ / "in"), fs::exists(other) ? 1 : 0) << "leftovers";
  }
}

// Killed (an _exit, no clean-up) before the n-th loader report, the state file shows the part
// as it was: in its loader once the upgrade began, every erase kept; only bytes programmed
// since the last keep may still read as erased, which leaves no part better off.
TEST_F(CliFiles, AKilledSimulatedUpgradeLeavesWhatThePartHeld) {
  const std::string state = path("world.json");
  const std::string truth = path("truth.json");
  const auto upgradeKilledAt = [&](int killAt) {
    writeFile(state, sim::worldStatesJson({sim::fleetMember(0)}));
    fs::remove(truth);
    return exitCodeOf(inChild([&] {
      cli::Environment environment;
      sim::SimWorld* world = nullptr;
      environment.onSimulatedWorld = [&world](sim::SimWorld& w) { world = &w; };
      environment.interrupts = [&, asked = 0]() mutable {
        if (++asked == killAt) {
          writeFile(truth, sim::worldStatesJson({world->state()}));
          ::_exit(0);
        }
        return 0;
      };
      return run({"--simulate", "--sim-state", state, "upgrade", demoImage("1.1.0"), "--yes"},
                 environment)
          .code;
    }));
  };
  const auto partIn = [](const std::string& file) {
    sim::WorldState world;
    std::string error;
    EXPECT_TRUE(sim::loadWorldState(file, world, error)) << error;
    sim::VirtualBus bus;
    return std::pair{world,
                     sim::SimWorld(bus, sim::SimWorld::optionsFrom(world)).loader().memory()};
  };
  ASSERT_EQ(upgradeKilledAt(1 << 30), kExitOk);
  EXPECT_EQ(partIn(state).first.talkgate.firmwareVersion, "1.1.0");
  int killed = 0;
  for (int killAt = 1; upgradeKilledAt(killAt) == 0 && fs::exists(truth); killAt += 15) {
    SCOPED_TRACE("killed before loader report " + std::to_string(killAt));
    const auto [kept, keptMemory] = partIn(state);
    const auto [held, heldMemory] = partIn(truth);
    EXPECT_TRUE(kept.inLoader && held.inLoader);
    EXPECT_EQ(kept.talkgate, held.talkgate);
    std::size_t better = 0;
    for (std::size_t a = 0; a < heldMemory.size(); ++a) {
      better += keptMemory[a] != heldMemory[a] && keptMemory[a] != 0xFF;
    }
    EXPECT_EQ(better, 0u) << "bytes the part had already erased";
    ++killed;
  }
  EXPECT_GE(killed, 5);
}

// ---- Messages about files name the real cause

TEST_F(CliFiles, FileMessagesNameTheRealCause) {
  const std::string closed = path("closed");
  fs::create_directories(closed);
  const std::string hidden = closed + "/USBTalkgateUtilityCfg.ini";
  const std::string hiddenState = closed + "/state.json";
  writeFile(hidden, kRestoreFile);
  writeFile(hiddenState, sim::worldStatesJson({sim::fleetMember(0)}));
  const std::string large = path("large/USBTalkgateUtilityCfg.ini");
  fs::create_directories(dir_ / "large");
  fs::create_directories(dir_ / "out");
  const std::string home = path("home");
  const std::string state = path("state.json");
  using Guard = std::shared_ptr<void>;
  const auto unreachable = [&] { return std::make_shared<scen::Unreachable>(closed); };
  const auto none = [] { return Guard(); };
  const std::string cannotBeReached =
      " cannot be used: it cannot be reached (Permission denied).\n";
  const struct {
    const char* name;
    std::function<Guard()> setUp;  // what it returns is held while the command runs
    std::vector<std::string> args;
    int code;
    std::string err;
  } cases[] = {
      // clang-format off
      {"state file that cannot be reached", unreachable,
       {"--simulate", "--sim-state", hiddenState, "status"}, kExitFailure,
       "Cannot read the simulated Talkgate from " + hiddenState + ": it cannot be reached (Permission denied).\n"},
      {"configuration file that cannot be reached", unreachable, {"--config", hidden, "config", "restore"},
       kExitBadInput, "The configuration file " + hidden + cannotBeReached + kTryHelp},
      {"import of a file that cannot be reached", unreachable,
       {"--config", file, "config", "import", hidden}, kExitBadInput, "The file " + hidden + cannotBeReached + kTryHelp},
      {"full disk as the file is first made", [] { return std::make_shared<scen::DiskFull>(); },
       {"config", "save"}, kExitFailure,
       "Cannot create the configuration file " + home + "/VelkorInterface/USBTalkgateUtilityCfg.ini: File too large.\n"},
      {"export of a source too large", [&] {
         writeFile(large, kRestoreFile);
         fs::resize_file(large, config::kMaxIniFileBytes + 1);
         return Guard(); },
       {"--config", large, "config", "export", path("out")}, kExitFailure, "Failed to export the file: the "
       "configuration file " + large + " cannot be exported: it is larger than 16 MiB.\n"},
      {"state file given as the configuration file", none,
       {"--simulate", "--sim-state", state, "--config", state, "config", "save"}, kExitBadInput,
       "The configuration file " + state + " is also the simulated Talkgate's state file (--sim-state); "
       "give two different files.\n" + kTryHelp},
      {"byte-order mark before the first key", [&] { writeFile(file, "\xEF\xBB\xBF" + kRestoreFile); return Guard(); },
       {"--config", file, "config", "restore"}, kExitOk, ""},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    writeFile(file, kRestoreFile);
    cli::Environment environment;
    environment.usbPort = &bus_;
    environment.userDataFolder = home;
    const auto started = std::chrono::steady_clock::now();
    RunResult r;
    {
      const Guard guard = c.setUp();
      r = run(c.args, environment);
    }
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(1));
    EXPECT_EQ(r.code, c.code);
    EXPECT_EQ(r.err, c.err);
    if (c.code != kExitOk) {
      EXPECT_EQ(r.out, "") << "a command acted";
    }
  }
  EXPECT_EQ(fileBytes(hiddenState), sim::worldStatesJson({sim::fleetMember(0)}));
  EXPECT_EQ(scen::entryCount(dir_ / "out"), 0);
  EXPECT_EQ(commands(), (std::vector<int>{kCmdSetKeypadType, kCmdSetKeyTable, kCmdSetAmbientConfig,
                                          kCmdSetSymbolBrightness}))
      << "only the restore of the file with a byte-order mark reached the Talkgate";
}
}  // namespace
}  // namespace talkgate::scenarios
