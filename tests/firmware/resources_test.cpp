// The built-in resource set and the demo images that go with it.

#include <gtest/gtest.h>

#include "firmware/firmware_resources.h"
#include "firmware/image_check.h"
#include "firmware/ti_txt.h"
#include "sim/sim_bsl_device.h"
#include "tests/firmware/bsl_fixture.h"

namespace talkgate::firmware::test {
namespace {

TiTxtImage parsed(const std::string& text) {
  TiTxtImage image;
  TiTxtError error;
  EXPECT_TRUE(parseTiTxt(text, image, error)) << error.text();
  return image;
}

TEST(FirmwareResources, KeysGiveTheLoaderIdentifiersAndImages) {
  EXPECT_EQ(firmwareResource("VID"), "0x2047");
  EXPECT_EQ(firmwareResource("PID"), "0x200");
  EXPECT_EQ(firmwareResource("RAM_BSL_VERSION"), "00.06.05.34");
  EXPECT_EQ(firmwareResource("Forced_BOR.Text"), "@0120\r\n04 A5 \r\nq");
  EXPECT_EQ(firmwareResource("password.Text"), firmwareResources().passwordText);
  EXPECT_EQ(firmwareResource("RAM_BSL.Text"), firmwareResources().ramBslText);
  EXPECT_EQ(firmwareResource("Password.Text"), std::nullopt);
}

TEST(FirmwareResources, PasswordImageIs32BytesAt0xFFE0InTheProductsForm) {
  const std::string& text = firmwareResources().passwordText;
  EXPECT_EQ(text.size(), 108u);
  const TiTxtImage image = parsed(text);
  ASSERT_EQ(image.sections.size(), 1u);
  EXPECT_EQ(image.sections[0].address, 0xFFE0u);
  EXPECT_EQ(image.sections[0].data.size(), 32u);
}

TEST(FirmwareResources, RamLoaderStartsWithItsVersionAt0x2500AndFitsItsBuffer) {
  const std::string& text = firmwareResources().ramBslText;
  EXPECT_LT(text.size(), 20000u);
  const TiTxtImage image = parsed(text);
  ASSERT_FALSE(image.sections.empty());
  EXPECT_EQ(image.sections[0].address, 0x2500u);
  EXPECT_EQ(Bytes(image.sections[0].data.begin(), image.sections[0].data.begin() + 4),
            (Bytes{0x00, 0x06, 0x05, 0x34}));
  for (const auto& s : image.sections) {
    EXPECT_GE(s.address, 0x2400u);
    EXPECT_LE(s.end(), 0x4400u) << "the RAM loader lives in RAM";
  }
}

TEST(FirmwareResources, PadHexStringValueWidensToFourDigits) {
  EXPECT_EQ(padHexStringValue("0x200"), "0x0200");
  EXPECT_EQ(padHexStringValue("0x2047"), "0x2047");
  EXPECT_EQ(padHexStringValue("0x20"), "0x0020");
  EXPECT_EQ(padHexStringValue("0x2"), "0x0002");
  EXPECT_EQ(padHexStringValue("0x12345"), "0x12345");
  EXPECT_EQ(padHexStringValue(""), "000");
}

TEST(DemoImages, AreValidCarryTheirVersionAndTheProductsPassword) {
  const TiTxtImage password = parsed(firmwareResources().passwordText);
  for (const std::string version : {"1.0.4", "1.1.0"}) {
    SCOPED_TRACE(version);
    const std::string text = readFile(demoImagePath(version));
    const TiTxtImage image = parsed(text);
    TiTxtError error;
    EXPECT_TRUE(checkFirmwareImage(image, FlashLayout{}, error)) << error.text();
    EXPECT_EQ(sim::SimBslDevice::firmwareVersionOfImage(text), version);
    bool above64k = false;
    for (const auto& s : image.sections) above64k |= s.end() > 0x10000;
    EXPECT_TRUE(above64k) << "exercises 20-bit addresses";
    for (std::uint32_t i = 0; i < 32; ++i) {
      std::uint8_t v = 0;
      ASSERT_TRUE(image.contains(0xFFE0 + i, &v));
      EXPECT_EQ(v, password.sections[0].data[i]) << "vector byte " << i;
    }
  }
}

}  // namespace
}  // namespace talkgate::firmware::test
