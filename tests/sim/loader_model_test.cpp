// The simulated loader's own CRC and TI-TXT reader, checked against published values and
// hostile text: they are what make the simulator a check on the host code, not a copy of it.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/sim_crc.h"
#include "sim/sim_ti_txt.h"

namespace talkgate::sim {
namespace {

std::uint16_t crcOf(const std::vector<std::uint8_t>& bytes) {
  return simCrc16(bytes.data(), bytes.size());
}

TEST(SimCrc, MatchesCcittFalseCheckValueAndTheGuidesExampleChecksums) {
  const std::string check = "123456789";
  EXPECT_EQ(simCrc16(reinterpret_cast<const std::uint8_t*>(check.data()), check.size()), 0x29B1);
  EXPECT_EQ(crcOf({}), 0xFFFF);
  // Checksums of the UART example sequences in the loader guide.
  EXPECT_EQ(crcOf({0x52, 0x02}), 0x5590);
  EXPECT_EQ(crcOf({0x1A}), 0x528B);
  EXPECT_EQ(crcOf({0x3A, 0x04, 0x01}), 0x121D);
  EXPECT_EQ(crcOf({0x3B, 0x00}), 0xC460);
}

TEST(SimTiTxt, ReadsLenientTextAndWritesItBack) {
  std::vector<SimTextRun> runs;
  std::string error;
  ASSERT_TRUE(
      readSimTiTxt("\xEF\xBB\xBF@4400\r\n0a B\t  ff\r\n\n@10000\n01 02\nQ\ngarbage", runs, &error))
      << error;
  ASSERT_EQ(runs.size(), 2u);
  EXPECT_EQ(runs[0].address, 0x4400u);
  EXPECT_EQ(runs[0].bytes, (std::vector<std::uint8_t>{0x0A, 0x0B, 0xFF}));
  EXPECT_EQ(runs[1].address, 0x10000u);
  EXPECT_EQ(runs[1].line, 4);
  EXPECT_EQ(writeSimTiTxt(runs), "@4400\r\n0A 0B FF \r\n@10000\r\n01 02 \r\nq\r\n");
  std::vector<SimTextRun> again;
  ASSERT_TRUE(readSimTiTxt(writeSimTiTxt(runs), again, &error)) << error;
  EXPECT_EQ(again[1].bytes, runs[1].bytes);
}

TEST(SimTiTxt, RefusesMalformedTextWithTheLineAndKeepsNothing) {
  const struct {
    const char* text;
    const char* error;
  } cases[] = {
      {"01 02\nq", "line 1: data before the first address"},
      {"@4400\n01 2G\nq", "line 2: bad data byte"},
      {"@4400\n\n012\nq", "line 3: bad data byte"},
      {"@100000\n01\nq", "line 1: bad address"},
      {"@\nq", "line 1: bad address"},
      {"@FFFFF\n01 02\nq", "line 2: data beyond the address space"},
      {"@4400\n01 02\n", "line 2: missing end marker 'q'"},
  };
  for (const auto& c : cases) {
    std::vector<SimTextRun> runs;
    std::string error;
    EXPECT_FALSE(readSimTiTxt(c.text, runs, &error)) << c.text;
    EXPECT_EQ(error, c.error) << c.text;
    EXPECT_TRUE(runs.empty()) << c.text;
  }
}

}  // namespace
}  // namespace talkgate::sim
