// The exact reports, both directions, of a whole upgrade of a small fixed image, compared byte
// for byte with golden_upgrade.txt. The file's comment lines say what each report is; they
// were checked by hand against the loader guide's command and reply tables. After a deliberate
// change, rewrite the file with TALKGATE_UPDATE_GOLDEN=1 and check the difference by hand.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "device/tracing_port.h"
#include "tests/firmware/bsl_fixture.h"

namespace talkgate::firmware::test {
namespace {

const char* const kGoldenFile = TALKGATE_FIRMWARE_TEST_DIR "/golden_upgrade.txt";

// Code, word aligned and not; an odd start; the reset vector alone in its segment.
const char* const kImage = "@4400\n31 40 00 44 B0 12\n@4421\n5A\n@FFFE\n00 44\nq\n";

std::vector<std::uint8_t> bytesOf(const std::string& line) {
  std::vector<std::uint8_t> bytes;
  std::istringstream in(line.substr(1));
  for (unsigned value = 0; in >> std::hex >> value;)
    bytes.push_back(static_cast<std::uint8_t>(value));
  return bytes;
}

std::string hex(std::uint32_t value, int digits) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%0*X", digits, value);
  return buf;
}

// What a report is, from the loader guide's tables (written here on their own, not taken from
// the code under test).
std::string describe(const std::string& line) {
  const auto r = bytesOf(line);
  if (r.size() < 3) return "short report";
  const std::size_t core = r[1];
  auto address = [&r] { return hex(r[3] | (r[4] << 8) | (r[5] << 16), 6); };
  if (line[0] == '<') {
    if (r[2] == 0x3B) return "reply 3B message " + hex(r[3], 2) + (r[3] == 0 ? " (success)" : "");
    if (r[2] == 0x3A) {
      std::string data;
      for (std::size_t i = 3; i < 2 + core; ++i) data.append(" ").append(hex(r[i], 2).substr(2));
      return "reply 3A data" + data;
    }
    return "unknown reply";
  }
  switch (r[2]) {
    case 0x11:
      return "RX Password (11), 32 bytes for 0xFFE0-0xFFFF";
    case 0x1B:
      return "RX Data Block Fast (1B) at " + address() + ", " + std::to_string(core - 4) + " bytes";
    case 0x10:
      return "RX Data Block (10) at " + address() + ", " + std::to_string(core - 4) + " bytes";
    case 0x12:
      return "Erase Segment (12) holding " + address();
    case 0x15:
      return "Mass Erase (15)";
    case 0x16:
      return "CRC Check (16) at " + address() + ", length " + std::to_string(r[6] | (r[7] << 8));
    case 0x17:
      return "Load PC (17) " + address();
    case 0x19:
      return "TX BSL Version (19)";
    default:
      return "command " + hex(r[2], 2);
  }
}

std::vector<std::string> reportLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && (line[0] == '>' || line[0] == '<')) lines.push_back(line);
  }
  return lines;
}

using GoldenTranscript = UpgradeTest;

TEST_F(GoldenTranscript, WholeUpgradeOfASmallImageIsExactlyTheRecordedReports) {
  const std::string path = writeTemp("small.txt", kImage);
  std::ostringstream trace;
  hid::TracingPort tracing(port, trace);
  PortGuard tracingActive(tracing);
  ASSERT_TRUE(run(path));
  const std::vector<std::string> recorded = reportLines(trace.str());
  ASSERT_GT(recorded.size(), 20u);

  if (std::getenv("TALKGATE_UPDATE_GOLDEN")) {
    std::ofstream out(kGoldenFile, std::ios::binary);
    out << "# Reports of a whole upgrade of this image, 64 bytes each in hex; '>' host to "
           "loader, '<' loader to host:\n";
    std::istringstream image(kImage);
    for (std::string line; std::getline(image, line);) out << "#   " << line << "\n";
    for (const auto& line : recorded) out << "# " << describe(line) << "\n" << line << "\n";
    GTEST_SKIP() << "rewrote " << kGoldenFile;
  }
  const std::vector<std::string> golden = reportLines(readFile(kGoldenFile));
  ASSERT_FALSE(golden.empty()) << "cannot read " << kGoldenFile;
  for (std::size_t i = 0; i < std::min(golden.size(), recorded.size()); ++i) {
    ASSERT_EQ(recorded[i], golden[i]) << "report " << i + 1 << ": " << describe(golden[i]);
  }
  EXPECT_EQ(recorded.size(), golden.size());
}

}  // namespace
}  // namespace talkgate::firmware::test
