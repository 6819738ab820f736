// The TI-TXT reader: what it accepts, and every kind of malformed image with its line.

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "firmware/block_reader.h"
#include "firmware/image_check.h"
#include "firmware/image_split.h"
#include "firmware/ti_txt.h"

namespace talkgate::firmware {
namespace {

TiTxtImage parseOk(std::string_view text) {
  TiTxtImage image;
  TiTxtError error;
  EXPECT_TRUE(parseTiTxt(text, image, error)) << error.text();
  return image;
}

TiTxtError parseBad(std::string_view text) {
  TiTxtImage image;
  image.sections.push_back(TiTxtSection{0x4400, {1, 2}, 1});
  TiTxtError error;
  EXPECT_FALSE(parseTiTxt(text, image, error)) << "accepted: " << text;
  EXPECT_TRUE(image.sections.empty()) << "a refused image must leave nothing behind";
  return error;
}

TEST(TiTxtParse, ReadsSectionsInAnyLayoutTheFormatAllows) {
  // CR LF, lower case, a BOM, tabs, blank lines, more than 16 bytes a line, short tokens,
  // "Q", and junk after the end marker.
  const auto image = parseOk(
      "\xEF\xBB\xBF@4400\r\n"
      "01 02\t03  a 0b\r\n"
      "\r\n"
      "  @10000  \n"
      "ff FF 00 11 22 33 44 55 66 77 88 99 aa bb cc dd ee ff 10\n"
      "Q\n"
      "this is ignored @@@\n");
  ASSERT_EQ(image.sections.size(), 2u);
  EXPECT_EQ(image.sections[0].address, 0x4400u);
  EXPECT_EQ(image.sections[0].data, (std::vector<std::uint8_t>{1, 2, 3, 0x0A, 0x0B}));
  EXPECT_EQ(image.sections[1].address, 0x10000u);
  EXPECT_EQ(image.sections[1].data.size(), 19u);
  EXPECT_EQ(image.sections[1].data.back(), 0x10);
  EXPECT_EQ(image.sections[1].line, 4);
  EXPECT_EQ(image.byteCount(), 24u);
}

TEST(TiTxtParse, SortsAndMergesTouchingSectionsAndDropsEmptyOnes) {
  const auto image = parseOk("@4404\n05 06\n@4400\n01 02 03 04\n@5000\n@4406\n07\nq\n");
  ASSERT_EQ(image.sections.size(), 1u);
  EXPECT_EQ(image.sections[0].address, 0x4400u);
  EXPECT_EQ(image.sections[0].data, (std::vector<std::uint8_t>{1, 2, 3, 4, 5, 6, 7}));
  EXPECT_EQ(image.sections[0].line, 3);
}

TEST(TiTxtParse, AnImageOfOnlyTheEndMarkerIsEmpty) {
  EXPECT_TRUE(parseOk("q").sections.empty());
  EXPECT_TRUE(parseOk("@4400\nq\n").sections.empty());
}

TEST(TiTxtParse, TheHighestAddressIsAccepted) {
  const auto image = parseOk("@FFFFE\n01 02\nq");
  ASSERT_EQ(image.sections.size(), 1u);
  EXPECT_EQ(image.sections[0].end(), 0x100000u);
}

struct BadCase {
  const char* name;
  const char* text;
  int line;
  const char* reason;
};

class TiTxtMalformed : public ::testing::TestWithParam<BadCase> {};

TEST_P(TiTxtMalformed, IsRefusedWithItsLineAndReason) {
  const BadCase& c = GetParam();
  const TiTxtError error = parseBad(c.text);
  EXPECT_EQ(error.line, c.line);
  EXPECT_EQ(error.reason, c.reason);
  EXPECT_EQ(error.text(), "line " + std::to_string(c.line) + ": " + c.reason);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, TiTxtMalformed,
    ::testing::Values(
        BadCase{"BadHexDigit", "@4400\n01 02\n03 G4\nq\n", 3, "bad hex digit 'G'"},
        BadCase{"BadControlCharacter", "@4400\n01 0\x01\nq\n", 2, "bad hex digit 0x01"},
        BadCase{"BadDigitInAddress", "@44Z0\n01 02\nq\n", 1, "bad hex digit 'Z' in address"},
        BadCase{"OddAddressOverARealByte", "@4400\n01 02\n@4401\n03 04\nq\n", 3,
                "address 0x04401 written twice"},
        BadCase{"DataBeforeFirstAt", "\n01 02\n@4400\n03\nq\n", 2, "data before the first '@'"},
        BadCase{"MissingEnd", "@4400\n01 02\n03 04\n", 3, "missing end marker 'q'"},
        BadCase{"MissingEndOnEmptyText", "", 1, "missing end marker 'q'"},
        BadCase{"AddressBeyond20Bits", "@100000\n01\nq\n", 1, "address 0x100000 beyond 0xFFFFF"},
        BadCase{"ByteBeyond20Bits", "@FFFFC\n01 02 03 04\n05\nq\n", 3, "byte beyond 0xFFFFF"},
        BadCase{"TooManyDigits", "@4400\n01 123\nq\n", 2, "too many digits in '123'"},
        BadCase{"AddressTooLong", "@000004400\n01\nq\n", 1, "address has too many digits"},
        BadCase{"AtWithoutAddress", "@\n01\nq\n", 1, "'@' without an address"},
        BadCase{"TextAfterAddress", "@4400 01 02\nq\n", 1, "unexpected text after the address"},
        BadCase{"Overlap", "@4400\n01 02 03 04\n@4402\n05\nq\n", 3,
                "address 0x04402 written twice"},
        BadCase{"OverlapReportedAtLaterLine", "@4402\n05 06\n@4400\n01 02 03\nq\n", 3,
                "address 0x04402 written twice"}),
    [](const ::testing::TestParamInfo<BadCase>& info) { return std::string(info.param.name); });

TEST(TiTxtParse, EndMarkerWithTrailingTextIsNotAnEndMarker) {
  // "qx" is neither the end marker nor data: the reader must not stop there.
  const TiTxtError error = parseBad("@4400\n01\nq2\n");
  EXPECT_EQ(error.line, 3);
  EXPECT_EQ(error.reason, "bad hex digit 'q'");
}

TEST(TiTxtFormat, RoundTripsThroughTheReader) {
  TiTxtImage image;
  image.sections.push_back(TiTxtSection{0x4400, std::vector<std::uint8_t>(37, 0x5A), 0});
  image.sections.back().data[36] = 0xC3;
  image.sections.push_back(TiTxtSection{0x1FF00, {0x00, 0xFF, 0x10}, 0});
  const std::string text = formatTiTxt(image);
  EXPECT_EQ(text.substr(0, 7), "@4400\r\n");
  EXPECT_NE(text.find("@1FF00\r\n00 FF 10 \r\nq"), std::string::npos);
  const TiTxtImage back = parseOk(text);
  ASSERT_EQ(back.sections.size(), 2u);
  EXPECT_EQ(back.sections[0].data, image.sections[0].data);
  EXPECT_EQ(back.sections[1].address, 0x1FF00u);
  EXPECT_EQ(back.sections[1].data, image.sections[1].data);
}

TEST(TiTxtFile, UnreadableFileIsRefusedWithoutALine) {
  TiTxtImage image;
  TiTxtError error;
  EXPECT_FALSE(readTiTxtFile("/nonexistent/dir/image.txt", image, error));
  EXPECT_EQ(error.line, 0);
  EXPECT_EQ(error.text(), "cannot open /nonexistent/dir/image.txt: it does not exist");
  // A folder is not an image (it once made the reader ask for an impossible amount of memory).
  EXPECT_FALSE(readTiTxtFile("/", image, error));
  EXPECT_EQ(error.text(), "cannot open /: it is a directory");
}

TEST(TiTxtImageLookup, ContainsFindsBytesOnlyInsideSections) {
  const auto image = parseOk("@4400\n01 02\n@FFFE\n00 44\nq");
  std::uint8_t v = 0;
  EXPECT_TRUE(image.contains(0x4401, &v));
  EXPECT_EQ(v, 2);
  EXPECT_FALSE(image.contains(0x4402));
  EXPECT_FALSE(image.contains(0x43FF));
  EXPECT_TRUE(image.contains(0xFFFF, &v));
  EXPECT_EQ(v, 0x44);
}

TEST(TiTxtBlocks, BlocksNeverCrossSectionsAndHonourTheLimit) {
  const auto image = parseOk("@4400\n01 02 03 04 05\n@5000\n06 07\nq");
  TiTxtBlockReader reader(image);
  DataBlock_ block;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> seen;
  while (reader.more()) {
    reader.read(2, block);
    seen.emplace_back(block.startAddress, block.numberOfBytes);
  }
  const std::vector<std::pair<std::uint32_t, std::uint32_t>> expected{
      {0x4400, 2}, {0x4402, 2}, {0x4404, 1}, {0x5000, 2}};
  EXPECT_EQ(seen, expected);
  reader.read(2, block);
  EXPECT_EQ(block.numberOfBytes, 0u);
}

TEST(ImageSplit, CutsSectionsAtBothBoundsAndKeepsTheirLines) {
  // Below the range, then one section from 0xFDFE to 0x10001 that crosses both of its bounds.
  std::string crossing;
  for (int i = 0; i < 0x204; ++i) crossing += std::to_string(i % 10) + "0 ";
  const auto image = parseOk("@4400\n01 02\n@FDFE\n" + crossing + "\nq");
  const SplitImage split = splitImage(image, 0xFE00, 0x10000);
  ASSERT_EQ(split.inside.sections.size(), 1u);
  EXPECT_EQ(split.inside.sections[0].address, 0xFE00u);
  EXPECT_EQ(split.inside.sections[0].data.size(), 0x200u);
  EXPECT_EQ(split.inside.sections[0].data[0], 0x20) << "byte 2 of the crossing section";
  EXPECT_EQ(split.inside.sections[0].line, 3);
  ASSERT_EQ(split.outside.sections.size(), 3u);
  EXPECT_EQ(split.outside.sections[0].address, 0x4400u);
  EXPECT_EQ(split.outside.sections[1].address, 0xFDFEu);
  EXPECT_EQ(split.outside.sections[1].data, (std::vector<std::uint8_t>{0x00, 0x10}));
  EXPECT_EQ(split.outside.sections[2].address, 0x10000u);
  EXPECT_EQ(split.outside.sections[2].data, (std::vector<std::uint8_t>{0x40, 0x50}));
  EXPECT_EQ(split.inside.byteCount() + split.outside.byteCount(), image.byteCount());
}

class ImageCheckTest : public ::testing::Test {
 protected:
  TiTxtError check(std::string_view text) {
    TiTxtImage image;
    TiTxtError error;
    EXPECT_TRUE(parseTiTxt(text, image, error)) << error.text();
    ok = checkFirmwareImage(image, FlashLayout{}, error);
    return error;
  }
  bool ok = false;
};

TEST_F(ImageCheckTest, AcceptsFlashWithResetVectorIncludingInfoAndHighFlash) {
  check("@1800\n01 02\n@4400\n01 02\n@243FE\nAA BB\n@FFFE\n00 44\nq");
  EXPECT_TRUE(ok);
}

TEST_F(ImageCheckTest, RefusesEachKindOfUnprogrammableImage) {
  EXPECT_EQ(check("q").text(), "the image holds no data");
  EXPECT_FALSE(ok);
  EXPECT_EQ(check("@4400\n01 02\nq").text(), "no reset vector at 0xFFFE");
  EXPECT_FALSE(ok);
  EXPECT_EQ(check("@FFFE\nFF FF\nq").text(), "the reset vector at 0xFFFE is erased");
  EXPECT_FALSE(ok);
  EXPECT_EQ(check("@FFFE\n00 44\n@17FE\n01 02 03 04\nq").text(),
            "line 3: byte at 0x017FE lies in the loader's own area 0x1000-0x17FF");
  EXPECT_EQ(
      check("@FFFE\n00 44\n@0FF0\n00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00\nq").text(),
      "line 3: byte at 0x01000 lies in the loader's own area 0x1000-0x17FF");
  EXPECT_EQ(check("@FFFE\n00 44\n@2400\n01 02\nq").text(),
            "line 3: byte at 0x02400 lies outside the part's flash");
  EXPECT_EQ(check("@FFFE\n00 44\n@243FE\n01 02 03\nq").text(),
            "line 3: byte at 0x24400 lies outside the part's flash");
  EXPECT_FALSE(ok);  // A reset vector must start code the image itself puts into main flash: not erased flash,
  // RAM, a peripheral, the loader or information memory.
  for (const auto& [vector, target] :
       {std::pair{"00 50", "0x05000"}, std::pair{"00 24", "0x02400"}, std::pair{"00 02", "0x00200"},
        std::pair{"00 10", "0x01000"}, std::pair{"00 18", "0x01800"}}) {
    EXPECT_EQ(check(std::string("@1800\n01 02\n@4400\n01 02\n@FFFE\n") + vector + "\nq").text(),
              std::string("the reset vector at 0xFFFE points to ") + target +
                  ", which is not in main flash that this image programs");
    EXPECT_FALSE(ok);
  }
}

TEST_F(ImageCheckTest, RefusesInformationSegmentANamingItsFirstByte) {
  const std::string segmentA =
      " lies in information segment A 0x1980-0x19FF, which the loader "
      "keeps locked";
  // Segments B to D below it are fine; A is refused from a section starting below it, one
  // inside it, and one starting on its last byte.
  std::string belowA;
  for (int i = 0; i < 0x180; ++i) belowA += "00 ";
  check("@1800\n" + belowA + "\n@4400\n01 02\n@FFFE\n00 44\nq");
  EXPECT_TRUE(ok) << "0x1800-0x197F holds segments B to D";
  EXPECT_EQ(check("@FFFE\n00 44\n@197E\n01 02 03\nq").text(), "line 3: byte at 0x01980" + segmentA);
  EXPECT_FALSE(ok);
  // An odd start names the image's own byte, not the padding put in front of it.
  EXPECT_EQ(check("@19C1\n01\n@FFFE\n00 44\nq").text(), "line 1: byte at 0x019C1" + segmentA);
  EXPECT_EQ(check("@19FF\n01 02\n@FFFE\n00 44\nq").text(), "line 1: byte at 0x019FF" + segmentA);
  EXPECT_FALSE(ok);
}

// srec_cat and other converters start sections at odd addresses: the run is padded with the
// erased value down to the word, and padding never competes with a neighbour's real bytes.
TEST(TiTxtParse, OddStartIsPaddedToTheWordAndJoinsANeighbourItNowTouches) {
  auto image = parseOk("@4401\n01 02\n@4404\n03 04\n@4407\n05\n@4409\n06\nq");
  ASSERT_EQ(image.sections.size(), 2u);
  EXPECT_EQ(image.sections[0].address, 0x4400u);
  EXPECT_EQ(image.sections[0].data, (std::vector<std::uint8_t>{0xFF, 1, 2}));
  EXPECT_EQ(image.sections[0].line, 1);
  // 0x4404-0x4405 and 0x4407 meet once 0x4406 is padded; 0x4409 pads 0x4408 and joins too.
  EXPECT_EQ(image.sections[1].address, 0x4404u);
  EXPECT_EQ(image.sections[1].data, (std::vector<std::uint8_t>{3, 4, 0xFF, 5, 0xFF, 6}));
  // A real byte just below an odd start wins over the padding: the two runs simply merge.
  image = parseOk("@4403\n07 08\n@4402\n06\nq");
  ASSERT_EQ(image.sections.size(), 1u);
  EXPECT_EQ(image.sections[0].address, 0x4402u);
  EXPECT_EQ(image.sections[0].data, (std::vector<std::uint8_t>{6, 7, 8}));
  // The highest odd address pads down to 0xFFFFE.
  image = parseOk("@FFFFF\nA5\nq");
  ASSERT_EQ(image.sections.size(), 1u);
  EXPECT_EQ(image.sections[0].address, 0xFFFFEu);
  EXPECT_EQ(image.sections[0].data, (std::vector<std::uint8_t>{0xFF, 0xA5}));
}

}  // namespace
}  // namespace talkgate::firmware
