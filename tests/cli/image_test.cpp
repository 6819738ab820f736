// talkgatectl image check: the sections, CRCs and reset vector of an image, whether an upgrade
// would accept it, and that no device is ever touched.

#include "tests/cli/cli_fixture.h"
#include "tests/cli/json_reader.h"

namespace talkgate::cli::testing {
namespace {

// A bus that must stay unused: it counts every attempt to start or open it.
class UntouchedPort : public hid::Port {
 public:
  int init() override { return ++uses, -1; }
  std::vector<hid::DeviceInfo> enumerate(std::uint16_t, std::uint16_t) override {
    return ++uses, std::vector<hid::DeviceInfo>{};
  }
  std::unique_ptr<hid::Device> open(const std::string&, hid::OpenError*) override {
    return ++uses, nullptr;
  }
  int exit() override { return 0; }
  int uses = 0;
};

class ImageCheckCli : public CliTest {
 protected:
  RunResult check(const std::string& text, std::vector<std::string> extra = {}) {
    const std::string file = path("image.txt");
    std::ofstream(file, std::ios::binary) << text;
    std::vector<std::string> args{"image", "check", file};
    args.insert(args.end(), extra.begin(), extra.end());
    Environment environment;
    environment.usbPort = &port;
    return run(args, environment);
  }
  static testing::Json json(const RunResult& r) { return testing::parseObject(r.out); }
  UntouchedPort port;
};

// "123456789" is the standard check string of CRC-16/CCITT-FALSE: 0x29B1.
const std::string kGoodImage = "@4400\n31 32 33 34 35 36 37 38 39\n@FFFE\n00 44\nq\n";

TEST_F(ImageCheckCli, ListsSectionsWithTheLoadersCrcAndAcceptsAGoodImage) {
  const RunResult r = check(kGoodImage);
  EXPECT_EQ(r.code, kExitOk) << r.err;
  EXPECT_NE(r.out.find("0x04400-0x04408  9      0x29B1"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("0x0FFFE-0x0FFFF  2"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Reset vector: 0x4400\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Accepted: an upgrade would send this image.\n"), std::string::npos);

  const testing::Json doc = json(check(kGoodImage, {"--json"}));
  EXPECT_TRUE(testing::jsonTrue(testing::jsonAt(doc, {"accepted"})));
  EXPECT_TRUE(testing::jsonNull(doc, "reason"));
  EXPECT_EQ(testing::jsonAt(doc, {"reset_vector"}).integer, 0x4400);
  const std::vector<testing::Json>& sections = testing::jsonAt(doc, {"sections"}).items;
  ASSERT_EQ(sections.size(), 2u);
  EXPECT_EQ(testing::jsonAt(sections[0], {"start"}).integer, 0x4400);
  EXPECT_EQ(testing::jsonAt(sections[0], {"end"}).integer, 0x4408);
  EXPECT_EQ(testing::jsonAt(sections[0], {"bytes"}).integer, 9);
  EXPECT_EQ(testing::jsonAt(sections[0], {"crc16"}).integer, 0x29B1);
  EXPECT_EQ(port.uses, 0);
}

TEST_F(ImageCheckCli, RefusesWithTheReasonAndExitTwoWithoutTouchingTheBus) {
  // Segment A: still listed (an odd start shows with its padding), then refused naming the
  // image's own first byte, not the padding.
  RunResult r = check("@1981\n01 02\n@FFFE\n00 44\nq\n");
  EXPECT_EQ(r.code, kExitBadInput);
  EXPECT_NE(r.out.find("0x01980-0x01982  3"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Refused: line 1: byte at 0x01981 lies in information segment A "
                       "0x1980-0x19FF, which the loader keeps locked.\n"),
            std::string::npos)
      << r.out;

  r = check("@4400\n01 02\nq\n", {"--json"});
  EXPECT_EQ(r.code, kExitBadInput);
  testing::Json doc = json(r);
  EXPECT_TRUE(testing::jsonFalse(testing::jsonAt(doc, {"accepted"})));
  EXPECT_EQ(testing::jsonAt(doc, {"reason"}).text, "no reset vector at 0xFFFE");
  EXPECT_TRUE(testing::jsonNull(doc, "reset_vector"));
  EXPECT_EQ(testing::jsonAt(doc, {"sections"}).items.size(), 1u);

  r = check("@4400\n01 G2\nq\n", {"--json"});
  EXPECT_EQ(r.code, kExitBadInput);
  doc = json(r);
  EXPECT_EQ(testing::jsonAt(doc, {"reason"}).text, "line 2: bad hex digit 'G'");
  EXPECT_EQ(testing::jsonAt(doc, {"sections"}).kind, testing::Json::Kind::Array);
  EXPECT_TRUE(testing::jsonAt(doc, {"sections"}).items.empty());

  Environment environment;
  environment.usbPort = &port;
  r = run({"image", "check", path("missing.txt")}, environment);
  EXPECT_EQ(r.code, kExitBadInput);
  EXPECT_EQ(r.out, "Refused: cannot open " + path("missing.txt") +
                       ": it does not exist.\n");
  EXPECT_EQ(run({"image", "show", path("missing.txt")}, environment).code, kExitBadInput);
  EXPECT_EQ(port.uses, 0) << "image check never opens the bus";
}

}  // namespace
}  // namespace talkgate::cli::testing
