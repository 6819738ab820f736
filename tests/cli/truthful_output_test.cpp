// Messages that name the real cause, on every command line a new user tried; and output that
// cannot be written (a reader gone, a full disk, a closed descriptor) reported without ever
// cutting an upgrade short.

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <optional>
#include <streambuf>

#include "cli/text.h"
#include "sim/world_state.h"
#include "upgrade_fixture.h"

namespace talkgate::cli::testing {
namespace {

struct MessageCase {
  const char* name;
  std::vector<std::string> before;  // run first, on the same state file
  std::vector<std::string> args;    // "@IMG", "@STATE" and "@DIR" are replaced
  int code;
  // "out:TEXT" or "err:TEXT" must be in that stream, "!out:TEXT" or "!err:TEXT" must not.
  std::vector<std::string> expected;
  const char* home = "/home/someone";  // HOME for the run; nullptr: unset
};

void PrintTo(const MessageCase& c, std::ostream* out) {
  *out << c.name;
}

const std::vector<std::string> kFleetFailure = {
    "--simulate", "--sim-devices", "3", "--sim-state", "@STATE", "--sim-fault", "unplug@70",
    "--all",      "upgrade",       "@IMG", "--yes"};
const std::vector<std::string> kSim = {"--simulate", "--sim-state", "@STATE"};

const MessageCase kMessageCases[] = {
    {"option for command", {}, {"--STATUS"}, 2,
     {"err:Unknown option '--STATUS', and no command given; commands are written without "
      "dashes: did you mean 'status'?", "!err:No command given."}},
    {"JSON error", {}, {"--json", "--STATUS"}, 2,
     {"out:{\n  \"ok\": false,\n  \"exit_status\": 2,\n  \"error\": \"Unknown option"}},
    {"line break in a path", {}, {"--simulate", "--device", "a\nb", "status"}, 1,
     {"err:No Talkgate is connected at a\\x0Ab.\n", "!err:a\nb"}},
    {"UTF-8 file name in JSON", {}, {"--json", "image", "check", "@DIR/\xC3\xBC.txt"}, 2,
     {"out:\"image\": \"@DIR/\xC3\xBC.txt\""}},
    {"part in its loader", {"--simulate", "--sim-state", "@STATE", "enter-loader"},
     {"--simulate", "--sim-state", "@STATE", "status"}, 1,
     {"err:a Talkgate waits in its bootstrap loader (2047:0200)"}},
    {"loader silent at the password", {},
     {"--simulate", "--sim-fault", "stop-answering@1", "upgrade", "@IMG", "--yes"}, 1,
     {"err:The firmware upgrade failed: the bootstrap loader stopped answering.",
      "!err:Password FAILED"}},
    {"loader silent while programmed", {},
     {"--simulate", "--sim-fault", "stop-answering@20", "upgrade", "@IMG", "--yes"}, 1,
     {"err:the bootstrap loader stopped answering", "!err:verification error"}},
    {"last byte of the address space", {}, {"image", "check", "@DIR/top.txt"}, 2,
     {"out:Refused: line 1: byte at 0xFFFFF lies outside the part's flash."}},
    {"image that cannot be read", {}, {"image", "check", "@DIR/none.txt"}, 2,
     {"out:Refused: cannot open", "!out:Reset vector"}},
    {"empty HOME", {}, {"--simulate", "doctor"}, 1,
     {"out:configuration folder is unknown (HOME is empty)"}, ""},
    {"fleet upgrade stops at the first failure", {}, kFleetFailure, 1,
     {"out:sim:4 TG260002: not upgraded: the fleet upgrade stopped at the failure above.\n",
      "!out:TG260003: ok"}},
    {"fleet recovery command", kFleetFailure,
     {"--simulate", "--sim-state", "@STATE", "upgrade", "@IMG", "--yes"}, 0, {}},
    {"fleet status with a waiting loader", kFleetFailure,
     {"--simulate", "--sim-state", "@STATE", "--all", "status"}, 1,
     {"out:3 Talkgates: 2 succeeded, 0 failed, 1 not reached.\n"}},
};

class TruthfulMessages : public CliTest, public ::testing::WithParamInterface<MessageCase> {
 protected:
  std::vector<std::string> expand(std::vector<std::string> texts) {
    const std::pair<std::string, std::string> names[] = {
        {"@IMG", demoImage("1.1.0")}, {"@STATE", path("s.json")}, {"@DIR", path("d")}};
    for (auto& text : texts) {
      for (const auto& [name, value] : names) {
        for (std::size_t at; (at = text.find(name)) != std::string::npos;) {
          text.replace(at, name.size(), value);
        }
      }
    }
    return texts;
  }
};

TEST_P(TruthfulMessages, EachCommandLineGetsItsMessageAndExitStatus) {
  const MessageCase& c = GetParam();
  std::filesystem::create_directories(path("d"));
  std::ofstream(path("d/top.txt")) << "@FFFFF\n01\nq\n";
  const std::optional<std::string> home =
      std::getenv("HOME") ? std::optional<std::string>(std::getenv("HOME")) : std::nullopt;
  c.home ? ::setenv("HOME", c.home, 1) : ::unsetenv("HOME");
  if (!c.before.empty()) run(expand(c.before));
  const RunResult r = run(expand(c.args));
  home ? ::setenv("HOME", home->c_str(), 1) : ::unsetenv("HOME");
  EXPECT_EQ(r.code, c.code) << r.err;
  for (const auto& expected : expand(c.expected)) {
    const bool lacks = expected[0] == '!';
    const std::string& stream = expected.compare(lacks, 4, "out:") == 0 ? r.out : r.err;
    EXPECT_NE(contains(stream, expected.substr(lacks + 4)), lacks) << expected << "\n" << stream;
  }
}

INSTANTIATE_TEST_SUITE_P(Sweep, TruthfulMessages, ::testing::ValuesIn(kMessageCases));

// A device text cannot stretch a table: a 3000-character serial number is cut in 'list' and
// 'status', and a UTF-8 character takes one column, not its bytes.
TEST_F(CliTest, DeviceTextsKeepTheColumnsInPlace) {
  sim::TalkgateState state = sim::SimTalkgate::factoryState();
  state.serialNumber = std::string(3000, '9');
  sim::SimTalkgate talkgate(bus_, state);
  EXPECT_TRUE(contains(run({"list"}).out, std::string(29, '9') + "...  sim:1\n"));
  EXPECT_TRUE(
      contains(run({"status"}).out, "Serial number          " + std::string(29, '9') + "...\n"));
  std::ostringstream table;
  printColumns(table, {"SERIAL", "PATH"}, {{"TG\xC3\xA9", "sim:1"}, {"TG", "sim:2"}});
  EXPECT_EQ(table.str(), "SERIAL  PATH\nTG\xC3\xA9     sim:1\nTG      sim:2\n");
}

enum class Stdout { ReaderGone, Closed, DiskFull };

// The built program as a shell starts it (SIGPIPE at its default), stdout as the case sets it
// up, stderr into errFile; returns the wait status.
int runChild(Stdout how, const std::vector<std::string>& args, const std::string& errFile) {
  int ends[2] = {-1, -1};
  if (how == Stdout::ReaderGone && ::pipe(ends) != 0) return -1;
  const int err = ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(err, STDERR_FILENO);
    if (how == Stdout::ReaderGone) ::dup2(ends[1], STDOUT_FILENO);  // its reader is closed below
    if (how == Stdout::DiskFull) ::dup2(::open("/dev/full", O_WRONLY), STDOUT_FILENO);
    if (how == Stdout::Closed) ::close(STDOUT_FILENO);
    for (int end : ends) ::close(end);
    ::signal(SIGPIPE, SIG_DFL);
    ::setenv("TALKGATE_SIM_INSTANT", "1", 1);
    std::vector<char*> argv{const_cast<char*>(TALKGATECTL_PROGRAM)};
    for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    ::execv(TALKGATECTL_PROGRAM, argv.data());
    ::_exit(127);
  }
  for (int descriptor : {ends[0], ends[1], err}) ::close(descriptor);
  int status = 0;
  ::waitpid(pid, &status, 0);
  return status;
}

using UnwritableOutput = CliTest;

TEST_F(UnwritableOutput, AnUpgradeOutlivesItsReaderAndEveryFailedOutputIsReported) {
  const std::string state = path("s.json");
  const std::pair<Stdout, std::string> cases[] = {{Stdout::ReaderGone, "(Broken pipe)"},
                                                  {Stdout::Closed, "(Bad file descriptor)"},
                                                  {Stdout::DiskFull, "(No space left on device)"}};
  for (const auto& [how, reason] : cases) {
    std::filesystem::remove(state);
    const int status = runChild(
        how, {"--simulate", "--sim-state", state, "upgrade", demoImage("1.1.0"), "--yes"},
        path("err.txt"));
    const std::string err = readFile(path("err.txt"));
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), kExitFailure) << err;
    EXPECT_TRUE(contains(err, "Standard output could not be written " + reason +
                                  ", so the output is incomplete; the command itself succeeded."))
        << err;
    // The upgrade went to its end and was saved; no file took the place of standard output.
    sim::WorldState saved;
    std::string error;
    ASSERT_TRUE(sim::loadWorldState(state, saved, error)) << error;
    EXPECT_EQ(saved.talkgate.firmwareVersion, "1.1.0");
    for (const auto& entry : std::filesystem::directory_iterator(dir_)) {
      const bool log = contains(readFile(entry.path().string()), "Waiting for");
      EXPECT_TRUE(entry.path().filename() == "err.txt" || !log) << entry.path();
    }
  }
}

// The first Ctrl-C only warns, and the upgrade carries on although its reader (| tee) is gone.
class GoneReader : public std::streambuf {
 protected:
  int_type overflow(int_type) override { return traits_type::eof(); }
};

TEST_F(UpgradeTest, AnInterruptAndAGoneReaderStillFinishTheUpgrade) {
  GoneReader gone;
  std::ostream out(&gone);
  std::ostringstream err;
  Environment environment;
  environment.usbPort = &bus_;
  environment.interrupts = [] { return 1; };
  environment.outputProblem = [] { return std::string("Broken pipe"); };
  EXPECT_EQ(runTalkgatectl({"upgrade", demoImage("1.1.0"), "--yes"}, out, err, environment),
            kExitFailure);
  EXPECT_TRUE(contains(err.str(), "Interrupt received")) << err.str();
  EXPECT_TRUE(contains(err.str(), "(Broken pipe), so the output is incomplete; the command "
                                  "itself succeeded.\n"));
  EXPECT_EQ(world_.talkgate().state().firmwareVersion, "1.1.0");
}

}  // namespace
}  // namespace talkgate::cli::testing
