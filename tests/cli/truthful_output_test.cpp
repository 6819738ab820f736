// Messages that name the real cause, on every command line a new user tried; and output that
// cannot be written (a reader gone, a full disk, a closed descriptor) reported without ever
// cutting an upgrade short.

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <functional>
#include <optional>
#include <streambuf>

#include "cli/text.h"
#include "sim/world_state.h"
#include "upgrade_fixture.h"

namespace talkgate::cli::testing {
namespace {

// Sets an environment variable for one scope (nullptr: unset) and puts the old value back.
class ScopedVariable {
 public:
  ScopedVariable(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    value ? ::setenv(name, value, 1) : ::unsetenv(name);
  }
  ~ScopedVariable() { old_ ? ::setenv(name_, old_->c_str(), 1) : ::unsetenv(name_); }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

// A stream buffer whose reader went away: every write fails.
class GoneReader : public std::streambuf {
 protected:
  int_type overflow(int_type) override { return traits_type::eof(); }
};

struct MessageCase {
  const char* name;
  std::vector<std::string> before;  // run first, on the same state file
  std::vector<std::string> args;    // "@IMG", "@STATE" and "@DIR" are replaced
  int code;
  const char* outHas = "";
  const char* outLacks = nullptr;
  const char* errHas = "";
  const char* errLacks = nullptr;
  const char* home = "/home/someone";  // HOME for the run; nullptr: unset
};

const std::vector<std::string> kFleetFailure = {
    "--simulate", "--sim-devices", "3",     "--sim-state", "@STATE", "--sim-fault",
    "unplug@70",  "--all",         "upgrade", "@IMG",      "--yes"};

const MessageCase kMessageCases[] = {
    {"an option where the command belongs", {}, {"--STATUS"}, kExitBadInput, "", nullptr,
     "Unknown option '--STATUS', and no command given; commands are written without dashes: "
     "did you mean 'status'?",
     "No command given."},
    {"a JSON error document", {}, {"--json", "--STATUS"}, kExitBadInput,
     "{\n  \"ok\": false,\n  \"exit_status\": 2,\n  \"error\": \"Unknown option"},
    {"a JSON error of a refused image", {}, {"--json", "upgrade", "@DIR/none.txt", "--yes"},
     kExitBadInput, "\"error\": \"The firmware image @DIR/none.txt cannot be used"},
    {"a path with a line break", {}, {"--simulate", "--device", "a\nb", "status"}, kExitFailure,
     "", nullptr, "No Talkgate is connected at a\\x0Ab.\n", "a\nb"},
    {"a JSON file name in UTF-8", {}, {"--json", "image", "check", "@DIR/Pr\xC3\xBC" "fung.txt"},
     kExitBadInput, "\"image\": \"@DIR/Pr\xC3\xBC" "fung.txt\""},
    {"a part waiting in its loader", {"--simulate", "--sim-state", "@STATE", "enter-loader"},
     {"--simulate", "--sim-state", "@STATE", "status"}, kExitFailure, "", nullptr,
     "a Talkgate waits in its bootstrap loader (2047:0200)"},
    {"a loader silent from the password on", {},
     {"--simulate", "--sim-fault", "stop-answering@1", "upgrade", "@IMG", "--yes"}, kExitFailure,
     "", nullptr, "The firmware upgrade failed: the bootstrap loader stopped answering.",
     "Password FAILED"},
    {"a loader silent while programmed", {},
     {"--simulate", "--sim-fault", "stop-answering@20", "upgrade", "@IMG", "--yes"},
     kExitFailure, "", nullptr, "the bootstrap loader stopped answering", "verification error"},
    {"the last byte of the address space", {}, {"image", "check", "@DIR/top.txt"}, kExitBadInput,
     "Refused: line 1: byte at 0xFFFFF lies outside the part's flash."},
    {"an image that cannot be read", {}, {"image", "check", "@DIR/none.txt"}, kExitBadInput,
     "Refused: cannot open", "Reset vector"},
    {"an empty HOME", {}, {"--simulate", "doctor"}, kExitFailure,
     "configuration folder is unknown (HOME is empty)", nullptr, "", nullptr, ""},
    {"an unset HOME", {}, {"--simulate", "doctor"}, kExitFailure,
     "configuration folder is unknown (HOME is not set)", nullptr, "", nullptr, nullptr},
    {"a fleet upgrade stops at the first failure", {}, kFleetFailure, kExitFailure,
     "sim:4 TG260002: not upgraded: the fleet upgrade stopped at the failure above.\n", "TG260003: ok"},
    {"the fleet's recovery command works", kFleetFailure,
     {"--simulate", "--sim-state", "@STATE", "upgrade", "@IMG", "--yes"}, kExitOk},
    {"a fleet status reports the waiting loader", kFleetFailure,
     {"--simulate", "--sim-state", "@STATE", "--all", "status"}, kExitFailure,
     "3 Talkgates: 2 succeeded, 0 failed, 1 not reached.\n"},
};

void PrintTo(const MessageCase& c, std::ostream* out) {
  *out << c.name;
}

class TruthfulMessages : public CliTest, public ::testing::WithParamInterface<MessageCase> {};

TEST_P(TruthfulMessages, EachCommandLineGetsItsMessageAndExitStatus) {
  const MessageCase& c = GetParam();
  std::filesystem::create_directories(path("d"));
  std::ofstream(path("d/top.txt")) << "@FFFFF\n01\nq\n";
  const auto expand = [this](std::string text) {
    const std::pair<std::string, std::string> names[] = {
        {"@IMG", demoImage("1.1.0")}, {"@STATE", path("s.json")}, {"@DIR", path("d")}};
    for (const auto& [name, value] : names) {
      for (std::size_t at; (at = text.find(name)) != std::string::npos;) {
        text.replace(at, name.size(), value);
      }
    }
    return text;
  };
  const auto expandAll = [&expand](std::vector<std::string> args) {
    for (auto& arg : args) arg = expand(arg);
    return args;
  };
  ScopedVariable home("HOME", c.home);
  ScopedVariable xdg("XDG_DATA_HOME", nullptr);
  if (!c.before.empty()) run(expandAll(c.before));
  const RunResult r = run(expandAll(c.args));
  EXPECT_EQ(r.code, c.code) << r.err;
  EXPECT_TRUE(contains(r.out, expand(c.outHas))) << r.out;
  EXPECT_TRUE(contains(r.err, expand(c.errHas))) << r.err;
  if (c.outLacks) {
    EXPECT_FALSE(contains(r.out, expand(c.outLacks))) << r.out;
  }
  if (c.errLacks) {
    EXPECT_FALSE(contains(r.err, expand(c.errLacks))) << r.err;
  }
}

INSTANTIATE_TEST_SUITE_P(Sweep, TruthfulMessages, ::testing::ValuesIn(kMessageCases),
                         [](const auto& info) {
                           std::string name;
                           for (const char* p = info.param.name; *p; ++p) {
                             if (std::isalnum(static_cast<unsigned char>(*p))) name += *p;
                           }
                           return name;
                         });

// A device text cannot stretch a table: a serial number of 3000 characters is cut in 'list'
// and 'status', and a UTF-8 character takes one column, not its bytes.
TEST_F(CliTest, DeviceTextsKeepTheColumnsInPlace) {
  sim::TalkgateState state = sim::SimTalkgate::factoryState();
  state.serialNumber = std::string(3000, '9');
  sim::SimTalkgate talkgate(bus_, state);
  RunResult r = run({"list"});
  EXPECT_TRUE(contains(r.out, std::string(29, '9') + "...  ")) << r.out;
  EXPECT_FALSE(contains(r.out, std::string(30, '9'))) << r.out;
  r = run({"status"});
  EXPECT_TRUE(contains(r.out, "Serial number          " + std::string(29, '9') + "...\n")) << r.out;

  std::ostringstream table;
  printColumns(table, {"SERIAL", "PATH"}, {{"TG\xC3\xA9", "sim:1"}, {"TG", "sim:2"}});
  EXPECT_EQ(table.str(), "SERIAL  PATH\nTG\xC3\xA9     sim:1\nTG      sim:2\n");
}

// talkgatectl as a shell starts it: the built program, stdout set up by the case, stderr in a
// file, the simulated world's time instant.
struct ChildRun {
  bool exited = false;  // false: ended by a signal
  int code = -1;
  std::string err;
};

enum class Stdout { ReaderGone, Closed, DiskFull };

ChildRun runChild(Stdout how, const std::vector<std::string>& args, const std::string& errFile) {
  std::ofstream(errFile).close();
  const int errDescriptor = ::open(errFile.c_str(), O_WRONLY | O_TRUNC);
  int pipeEnds[2] = {-1, -1};
  if (how == Stdout::ReaderGone && ::pipe(pipeEnds) != 0) return {};
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (how == Stdout::ReaderGone) {
      ::close(pipeEnds[0]);  // | head -c1 that has had its byte, | tee ended by Ctrl-C
      ::dup2(pipeEnds[1], STDOUT_FILENO);
      ::close(pipeEnds[1]);
    } else if (how == Stdout::Closed) {
      ::close(STDOUT_FILENO);
    } else {
      const int full = ::open("/dev/full", O_WRONLY);
      ::dup2(full, STDOUT_FILENO);
    }
    ::dup2(errDescriptor, STDERR_FILENO);
    ::signal(SIGPIPE, SIG_DFL);  // as a shell leaves it
    ::setenv("TALKGATE_SIM_INSTANT", "1", 1);
    std::vector<char*> argv{const_cast<char*>(TALKGATECTL_PROGRAM)};
    for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    ::execv(TALKGATECTL_PROGRAM, argv.data());
    ::_exit(127);
  }
  if (how == Stdout::ReaderGone) {
    ::close(pipeEnds[0]);
    ::close(pipeEnds[1]);
  }
  ::close(errDescriptor);
  int status = 0;
  ::waitpid(pid, &status, 0);
  ChildRun result;
  result.exited = WIFEXITED(status);
  result.code = result.exited ? WEXITSTATUS(status) : -WTERMSIG(status);
  std::ifstream in(errFile);
  result.err.assign(std::istreambuf_iterator<char>(in), {});
  return result;
}

using UnwritableOutput = CliTest;

TEST_F(UnwritableOutput, AnUpgradeOutlivesItsReaderAndEveryFailedOutputIsReported) {
  const std::string state = path("s.json");
  const std::vector<std::string> upgrade = {"--simulate", "--sim-state", state,   "upgrade",
                                            demoImage("1.1.0"), "--yes"};
  const struct {
    Stdout how;
    const char* reason;
  } cases[] = {{Stdout::ReaderGone, "(Broken pipe)"},
               {Stdout::Closed, "(Bad file descriptor)"},
               {Stdout::DiskFull, "(No space left on device)"}};
  for (const auto& c : cases) {
    std::filesystem::remove(state);
    const ChildRun child = runChild(c.how, upgrade, path("err.txt"));
    ASSERT_TRUE(child.exited) << "ended by signal " << -child.code;
    EXPECT_EQ(child.code, kExitFailure) << child.err;
    EXPECT_TRUE(contains(child.err, std::string("Standard output could not be written ") +
                                        c.reason + ", so the output is incomplete; the command "
                                                   "itself succeeded.\n"))
        << child.err;
    // The upgrade went to its end and was saved; no file took the place of standard output.
    sim::WorldState saved;
    std::string error;
    ASSERT_TRUE(sim::loadWorldState(state, saved, error)) << error;
    EXPECT_FALSE(saved.inLoader);
    EXPECT_EQ(saved.talkgate.firmwareVersion, "1.1.0");
    for (const auto& entry : std::filesystem::directory_iterator(dir_)) {
      if (entry.path().filename() == "err.txt") continue;
      EXPECT_FALSE(contains(readFile(entry.path().string()), "Waiting for")) << entry.path();
    }
  }
}

// The first Ctrl-C warns and the upgrade carries on although its reader (| tee) is gone.
TEST_F(UnwritableOutput, AnInterruptAndAGoneReaderStillFinishTheUpgrade) {
  sim::SimWorld world(bus_, [] {
    sim::SimWorldOptions o;
    o.initialImage = readFile(demoImage("1.0.4"));
    return o;
  }());
  GoneReader gone;
  std::ostream out(&gone);
  std::ostringstream err;
  Environment environment;
  environment.usbPort = &bus_;
  environment.interrupts = [] { return 1; };
  environment.outputProblem = [] { return std::string("Broken pipe"); };
  const int code =
      runTalkgatectl({"upgrade", demoImage("1.1.0"), "--yes"}, out, err, environment);
  EXPECT_EQ(code, kExitFailure);
  EXPECT_TRUE(contains(err.str(), "Interrupt received")) << err.str();
  EXPECT_TRUE(contains(err.str(), "(Broken pipe), so the output is incomplete; the command "
                                  "itself succeeded.\n"))
      << err.str();
  EXPECT_EQ(world.talkgate().state().firmwareVersion, "1.1.0");
}

}  // namespace
}  // namespace talkgate::cli::testing
