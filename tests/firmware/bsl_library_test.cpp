// The loader library against the simulated loader: connecting, passwords, the wire format of
// what it sends, the RAM loader, CRC requests and the two block walks.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "firmware/bsl_wire.h"
#include "firmware/crc_check.h"
#include "tests/firmware/bsl_fixture.h"

namespace talkgate::firmware::test {
namespace {

TEST(BslWire, EncodesReportsWithIdLengthAndPadding) {
  bsl::Report r;
  const std::uint8_t data[4] = {0xDE, 0xAD, 0xBE, 0xEF};
  bsl::encodeAddressed(r, bsl::kCmdRxDataBlockFast, 0x012345, data, 4);
  EXPECT_EQ(r[0], 0x3F);
  EXPECT_EQ(r[1], 8);  // command, three address bytes, four data bytes
  EXPECT_EQ((Bytes(r.begin() + 2, r.begin() + 10)),
            (Bytes{0x1B, 0x45, 0x23, 0x01, 0xDE, 0xAD, 0xBE, 0xEF}));
  for (std::size_t i = 10; i < r.size(); ++i) EXPECT_EQ(r[i], 0xAC) << i;
  bsl::encodeRange(r, bsl::kCmdCrcCheck, 0x4400, 0x1388);
  EXPECT_EQ((Bytes(r.begin(), r.begin() + 8)),
            (Bytes{0x3F, 6, 0x16, 0x00, 0x44, 0x00, 0x88, 0x13}));
  bsl::encodePlain(r, bsl::kCmdTxVersion);
  EXPECT_EQ((Bytes(r.begin(), r.begin() + 4)), (Bytes{0x3F, 1, 0x19, 0xAC}));
}

TEST(BslWire, DecodesOnlyWellFormedReplies) {
  bsl::Reply reply;
  const std::uint8_t crc[64] = {0x3F, 3, 0x3A, 0xB1, 0x29};
  ASSERT_TRUE(bsl::decodeReply(crc, 64, reply));
  EXPECT_EQ(reply.code, 0x3A);
  ASSERT_EQ(reply.length, 2u);
  EXPECT_EQ(reply.data[0], 0xB1);
  const std::uint8_t wrongId[64] = {0x3E, 2, 0x3B, 0x00};
  EXPECT_FALSE(bsl::decodeReply(wrongId, 64, reply));
  const std::uint8_t tooLong[64] = {0x3F, 63, 0x3A};
  EXPECT_FALSE(bsl::decodeReply(tooLong, 64, reply));
  const std::uint8_t empty[64] = {0x3F, 0, 0x3A};
  EXPECT_FALSE(bsl::decodeReply(empty, 64, reply));
  const std::uint8_t unknownCode[64] = {0x3F, 2, 0x51, 0x00};
  EXPECT_FALSE(bsl::decodeReply(unknownCode, 64, reply));
  const std::uint8_t longMessage[64] = {0x3F, 3, 0x3B, 0x00, 0x00};
  EXPECT_FALSE(bsl::decodeReply(longMessage, 64, reply));
  const std::uint8_t truncated[4] = {0x3F, 5, 0x3A, 0x01};
  EXPECT_FALSE(bsl::decodeReply(truncated, 4, reply));
}

TEST_F(BslTest, InitializeFindsTheLoaderOrReportsItAbsent) {
  EXPECT_EQ(connect(), kBslDeviceAbsent);
  loader.plugIn();
  EXPECT_EQ(connect(), kBslOk);
  EXPECT_EQ(BSL_initialize_BSL("VID=0x2047,PID=0x200"), kBslOk) << "order and width are free";
  EXPECT_EQ(BSL_initialize_BSL("PID=0x0200,VID=0x2047,DEVICEINDEX=1"), kBslDeviceAbsent);
  EXPECT_EQ(BSL_initialize_BSL("PID=0x0922,VID=0x2047,DEVICEINDEX=0"), kBslDeviceAbsent);
  EXPECT_EQ(BSL_initialize_BSL("PID=0x0200"), kBslDeviceAbsent);
  EXPECT_EQ(BSL_initialize_BSL("PID=0x02G0,VID=0x2047"), kBslDeviceAbsent);
  EXPECT_NE(BSL_lastError().find("bad PID"), std::string::npos);
  EXPECT_EQ(BSL_setFamily(4), kBslInvalidArgument);
  EXPECT_EQ(BSL_initialize_BSL("PID=0x0200,VID=0x2047,DEVICEINDEX=0"), kBslDeviceAbsent);
  EXPECT_TRUE(port.log->attempts.empty());
}

TEST_F(BslTest, CountsLoaderDevicesOnTheActivePort) {
  EXPECT_EQ(BSL_NumOfUSBDevices(0x2047, 0x0200), 0u);
  loader.plugIn();
  sim::SimBslDevice second(bus);
  second.plugIn();
  EXPECT_EQ(BSL_NumOfUSBDevices(0x2047, 0x0200), 2u);
  EXPECT_EQ(BSL_NumOfUSBDevices(0x2047, 0x0922), 0u);
  loader.unplug();
  EXPECT_EQ(BSL_NumOfUSBDevices(0x2047, 0x0200), 1u);
}

TEST_F(BslTest, RightPasswordUnlocksWrongOneMassErasesThenTheDefaultFits) {
  ASSERT_TRUE(loader.loadFlashImage(readFile(demoImagePath("1.0.4"))));
  loader.plugIn();
  ASSERT_EQ(connect(), kBslOk);
  DataBlock_ wrong = BSL_getDefaultPass();
  EXPECT_EQ(BSL_RX_Password(wrong), bsl::kMsgPasswordError);
  EXPECT_EQ(loader.massErases(), 1);
  EXPECT_EQ(loader.readMemory(0x4400, 2), (Bytes{0xFF, 0xFF}));
  EXPECT_EQ(BSL_RX_Password(BSL_getDefaultPass()), kBslOk);
  EXPECT_TRUE(loader.unlocked());
  // Once erased, the product's password is the wrong one.
  EXPECT_EQ(sendFilePassword(), bsl::kMsgPasswordError);
}

TEST_F(BslTest, FilePasswordIsTheVectorTableOfTheFirmware) {
  ASSERT_TRUE(loader.loadFlashImage(readFile(demoImagePath("1.1.0"))));
  loader.plugIn();
  ASSERT_EQ(connect(), kBslOk);
  EXPECT_EQ(sendFilePassword(), kBslOk);
  EXPECT_EQ(loader.massErases(), 0);
  const auto sent = written(bsl::kCmdRxPassword);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0][1], 33);
  EXPECT_EQ(Bytes(sent[0].begin() + 3, sent[0].begin() + 35), loader.readMemory(0xFFE0, 32));
}

TEST_F(BslTest, PasswordBlockOtherThan32BytesAt0xFFE0IsNeverSent) {
  loader.plugIn();
  ASSERT_EQ(connect(), kBslOk);
  DataBlock_ block = BSL_getDefaultPass();
  block.numberOfBytes = 31;
  EXPECT_EQ(BSL_RX_Password(block), kBslInvalidArgument);
  block = BSL_getDefaultPass();
  block.startAddress = 0xFFE2;
  EXPECT_EQ(BSL_RX_Password(block), kBslInvalidArgument);
  EXPECT_EQ(BSL_RX_Password(BSL_readTI_Text("@FFE0\n01 0G\nq", 32)), kBslInvalidArgument);
  EXPECT_EQ(BSL_lastError(), "the password must be 32 bytes at 0xFFE0");
  EXPECT_TRUE(port.log->attempts.empty());
  EXPECT_EQ(loader.massErases(), 0);
}

TEST_F(BslTest, ReadTiTextGivesTheFirstBlockOrNothingWithTheReason) {
  const DataBlock_ block = BSL_readTI_Text(firmwareResources().passwordText, 32);
  EXPECT_EQ(block.numberOfBytes, 32u);
  EXPECT_EQ(block.startAddress, 0xFFE0u);
  EXPECT_EQ(block.data[30], 0x00);
  EXPECT_EQ(block.data[31], 0x44);
  EXPECT_EQ(BSL_readTI_Text("@4400\n01 02 03\nq", 2).numberOfBytes, 2u);
  const DataBlock_ bad = BSL_readTI_Text("@4400\n01 02\n", 32);
  EXPECT_EQ(bad.numberOfBytes, 0u);
  EXPECT_EQ(BSL_lastError(), "line 2: missing end marker 'q'");
}

TEST_F(BslTest, RomLoaderTakesOnlyPasswordRamDataAndLoadPc) {
  loader.plugIn();
  ASSERT_EQ(connect(), kBslOk);
  ASSERT_EQ(BSL_RX_Password(BSL_getDefaultPass()), kBslOk);
  EXPECT_EQ(BSL_eraseSegment(0x4400), bsl::kMsgUnknownCommand);
  EXPECT_EQ(BSL_massErase(), bsl::kMsgUnknownCommand);
  EXPECT_EQ(BSL_TX_BSL_Version_String(), "ERROR");
  EXPECT_EQ(CRC_Check(0x4400, 2, 0), kCrcRequestFailed);
  // Fast data to flash is dropped by the ROM loader, without an answer.
  EXPECT_EQ(BSL_RX_TXT("@4400\n00 00\nq", kRxFast), kBslOk);
  EXPECT_EQ(loader.readMemory(0x4400, 2), (Bytes{0xFF, 0xFF}));
}

TEST_F(BslTest, RamLoaderStartsAfterLoadPcReenumeratesAndAnswersItsVersion) {
  loader.plugIn();
  loader.writeMemory(0x2575, Bytes{0x00});
  const std::string romPath = loader.path();
  ASSERT_NO_FATAL_FAILURE(startRamLoader());
  EXPECT_NE(loader.path(), romPath) << "the RAM loader is a new interface";
  const std::string version = BSL_TX_BSL_Version_String();
  EXPECT_EQ(version, "Vendor 00, CI 0x06 API 0x05 PI 0x34");
  ASSERT_GE(version.size(), 35u);
  EXPECT_EQ(version.substr(16, 2) + version.substr(25, 2) + version.substr(33, 2), "060534");
  // Our RAM loader image has an odd first section: it is padded to a word, not cut.
  EXPECT_EQ(loader.readMemory(0x2575, 1), (Bytes{0xFF}));
}

TEST_F(BslTest, LoadPcWithoutALoaderImageLosesTheDevice) {
  loader.plugIn();
  ASSERT_EQ(connect(), kBslOk);
  ASSERT_EQ(sendFilePassword(), bsl::kMsgPasswordError);
  ASSERT_EQ(BSL_RX_Password(BSL_getDefaultPass()), kBslOk);
  EXPECT_EQ(BSL_LoadPC(0x2504), kBslOk);
  EXPECT_FALSE(loader.pluggedIn());
  EXPECT_EQ(connect(), kBslDeviceAbsent);
}

TEST_F(BslTest, ImagesGoOutInFiftyTwoByteWordAlignedBlocksWithOddTailsPadded) {
  loader.plugIn();
  ASSERT_NO_FATAL_FAILURE(startRamLoader());
  ASSERT_EQ(BSL_massErase(), kBslOk);
  port.log->attempts.clear();
  std::string text = "@4400\n";
  for (int i = 0; i < 120; ++i) text += "5A ";
  text += "\n@8000\n01 02 03 04 05\nq\n";
  ASSERT_EQ(BSL_RX_TXT(text, kRxFast), kBslOk);
  const auto blocks = written(bsl::kCmdRxDataBlockFast);
  ASSERT_EQ(blocks.size(), 4u);
  const std::vector<std::pair<std::uint32_t, int>> expected{
      {0x4400, 52}, {0x4434, 52}, {0x4468, 16}, {0x8000, 6}};
  for (std::size_t i = 0; i < blocks.size(); ++i) {
    const std::uint32_t address = blocks[i][3] | (blocks[i][4] << 8) | (blocks[i][5] << 16);
    EXPECT_EQ(address, expected[i].first);
    EXPECT_EQ(blocks[i][1], expected[i].second + 4);
  }
  EXPECT_EQ(loader.readMemory(0x4400 + 118, 4), (Bytes{0x5A, 0x5A, 0xFF, 0xFF}));
  EXPECT_EQ(loader.readMemory(0x8000, 6), (Bytes{1, 2, 3, 4, 5, 0xFF}));
}

TEST_F(BslTest, AcknowledgedBlocksReportTheLoadersRefusal) {
  loader.plugIn();
  ASSERT_NO_FATAL_FAILURE(startRamLoader());
  ASSERT_EQ(BSL_RX_TXT("@4400\n0F 0F\nq", kRxAcknowledged), kBslOk);
  // Programming cannot set bits again: the loader's write check fails.
  EXPECT_EQ(BSL_RX_TXT("@4400\nF0 F0\nq", kRxAcknowledged), bsl::kMsgWriteCheckFailed);
  EXPECT_EQ(BSL_RX_TXT("@4400\n0F 0F\n", kRxAcknowledged), kBslBadImage);
  EXPECT_EQ(BSL_RX_TXT("@4400\n00 00\nq", 7), kBslInvalidArgument);
}

TEST_F(BslTest, CrcCheckReadsTheDevicesCrcFromBytesFiveAndSix) {
  loader.plugIn();
  ASSERT_NO_FATAL_FAILURE(startRamLoader());
  loader.writeMemory(0x2400, Bytes{'1', '2', '3', '4', '5', '6', '7', '8', '9'});
  ASSERT_EQ(BSL_CRC_Check(0x2400, 9), kBslOk);
  const dataBuffer reply = BSL_get_RX_Buffer();
  EXPECT_EQ(reply[4], 0x3A);
  EXPECT_EQ(reply[5], 0xB1);
  EXPECT_EQ(reply[6], 0x29);
  EXPECT_EQ(CRC_Check(0x2400, 9, 0), 0x29B1u);
  EXPECT_EQ(CRC_Check(0x2400, 9, 0x29B1), 0u);
  EXPECT_EQ(CRC_Check(0x2400, 9, 0x29B2), 1u);
  EXPECT_EQ(CRC_Check(0x2400, 0, 0), kCrcRequestFailed);
  EXPECT_EQ(CRC_Check(0x2400, 0x10000, 0), kCrcRequestFailed);
  BSL_close_BSL();
  EXPECT_EQ(CRC_Check(0x2400, 9, 0), kCrcRequestFailed);
}

TEST_F(BslTest, VerifyWalkMatchesStopsAtTheFirstMismatchAndRefusesBadFiles) {
  const std::string image = readFile(demoImagePath("1.1.0"));
  ASSERT_TRUE(loader.loadFlashImage(image));
  loader.plugIn();
  ASSERT_NO_FATAL_FAILURE(startRamLoader());
  const std::string path = writeTemp("image.txt", image);
  loader.clearCommands();
  EXPECT_EQ(CRC_Check_File(path), kWalkMatched);
  const auto countCrc = [&] {
    int n = 0;
    for (const auto& c : loader.commands()) n += c.command == bsl::kCmdCrcCheck;
    return n;
  };
  // 3072 bytes at 0x4400; 128 at 0xFF80 run on into 640 at 0x10000: two blocks.
  EXPECT_EQ(countCrc(), 2);
  auto byte = loader.readMemory(0x4400 + 100, 1);
  loader.writeMemory(0x4400 + 100, Bytes{static_cast<std::uint8_t>(byte[0] ^ 0x04)});
  loader.clearCommands();
  EXPECT_EQ(CRC_Check_File(path), kWalkMismatch);
  EXPECT_EQ(countCrc(), 1) << "later blocks are not asked for";
  EXPECT_EQ(BSL_moreDataToRead_TextFile(), 0) << "the file is closed";
  EXPECT_EQ(CRC_Check_File((dir / "missing.txt").string()), kWalkCannotOpen);
  EXPECT_EQ(CRC_Check_File(writeTemp("bad.txt", "@4400\n01\nGG\nq")), kWalkCannotOpen);
  loader.clearCommands();
  EXPECT_EQ(CRC_Check_File(writeTemp("empty.txt", "q\n")), kWalkMatched);
  EXPECT_EQ(EraseDataSegment_File(writeTemp("empty2.txt", "q\n")), 0u);
  EXPECT_TRUE(loader.commands().empty());
}

TEST_F(BslTest, EraseWalkErasesEverySegmentABlockTouchesAndNoOther) {
  loader.plugIn();
  ASSERT_NO_FATAL_FAILURE(startRamLoader());
  loader.writeMemory(0x4200, Bytes(0x1000, 0x00));  // 0x4200-0x51FF programmed
  loader.writeMemory(0x1880, Bytes(0x100, 0x00));   // info C and B
  // 0x4410-0x480F: three main segments; 0x18F0-0x190F: two info segments.
  std::string text = "@4410\n";
  for (int i = 0; i < 1024; ++i) text += "11 ";
  text += "\n@18F0\n";
  for (int i = 0; i < 32; ++i) text += "22 ";
  text += "\nq\n";
  loader.clearCommands();
  EXPECT_EQ(EraseDataSegment_File(writeTemp("image.txt", text)), 0u);
  std::vector<std::uint32_t> erased;
  for (const auto& c : loader.commands()) {
    if (c.command == bsl::kCmdEraseSegment) erased.push_back(c.address & ~0x7Fu);
  }
  EXPECT_EQ(erased.size(), 5u);
  EXPECT_EQ(loader.readMemory(0x4400, 0x600), Bytes(0x600, 0xFF));
  EXPECT_EQ(loader.readMemory(0x4200, 0x200), Bytes(0x200, 0x00));
  EXPECT_EQ(loader.readMemory(0x4A00, 0x10), Bytes(0x10, 0x00));
  EXPECT_EQ(loader.readMemory(0x1880, 0x100), Bytes(0x100, 0xFF));
  EXPECT_EQ(loader.readMemory(0x1980, 0x10), Bytes(0x10, 0xFF)) << "info A was never written";
  EXPECT_EQ(loader.readMemory(0x1800, 0x80), Bytes(0x80, 0xFF));
  EXPECT_EQ(EraseDataSegment_File((dir / "missing.txt").string()), kWalkCannotOpen);
}

TEST_F(BslTest, FileReaderHandsOutBlocksUntilTheFileIsDone) {
  const std::string path = writeTemp("image.txt", "@4400\n01 02 03\n@5000\n04\nq\n");
  ASSERT_EQ(BSL_openTI_TextForRead(path), kBslOk);
  ASSERT_NE(BSL_moreDataToRead_TextFile(), 0);
  DataBlock_ block = BSL_readTI_TextFile(2);
  EXPECT_EQ(block.startAddress, 0x4400u);
  EXPECT_EQ(block.numberOfBytes, 2u);
  block = BSL_readTI_TextFile(5000);
  EXPECT_EQ(block.startAddress, 0x4402u);
  EXPECT_EQ(block.numberOfBytes, 1u);
  EXPECT_EQ(block.data[0], 3);
  block = BSL_readTI_TextFile(5000);
  EXPECT_EQ(block.startAddress, 0x5000u);
  EXPECT_EQ(BSL_moreDataToRead_TextFile(), 0);
  EXPECT_EQ(BSL_closeTI_Text(), kBslOk);
  EXPECT_EQ(BSL_openTI_TextForRead(writeTemp("bad.txt", "@4400\n01\n@4400\n02\nq")), kBslBadImage);
  EXPECT_EQ(BSL_lastError(), "line 3: address 0x04400 written twice");
  EXPECT_EQ(BSL_moreDataToRead_TextFile(), 0);
  EXPECT_EQ(BSL_openTI_TextForRead((dir / "none.txt").string()), kBslCannotOpen);
}

TEST_F(BslTest, DeviceThatLeftGivesIoErrorsNotRefusals) {
  loader.plugIn();
  ASSERT_EQ(connect(), kBslOk);
  loader.unplug();
  EXPECT_EQ(BSL_RX_Password(BSL_getDefaultPass()), kBslIoError);
  EXPECT_EQ(BSL_RX_TXT("@2400\n01 02\nq", kRxFast), kBslIoError);
  BSL_close_BSL();
  EXPECT_EQ(BSL_RX_Password(BSL_getDefaultPass()), kBslNotConnected);
}

// A loader-shaped interface that answers only what the test queued.
class ScriptedLoader : public sim::Endpoint {
 public:
  bool hostWrite(const std::uint8_t*, std::size_t) override {
    ++writes;
    if (!afterWrite.empty()) {
      replies.push_back(afterWrite.front());
      afterWrite.erase(afterWrite.begin());
    }
    return true;
  }
  int hostRead(std::uint8_t* data, std::size_t length) override {
    if (replies.empty()) return 0;
    const Bytes r = replies.front();
    replies.erase(replies.begin());
    std::memcpy(data, r.data(), std::min(length, r.size()));
    return static_cast<int>(std::min(length, r.size()));
  }
  std::vector<Bytes> replies;     // waiting before the next write
  std::vector<Bytes> afterWrite;  // released one per write
  int writes = 0;
};

class ScriptedLoaderTest : public BslTest {
 protected:
  void SetUp() override {
    BslTest::SetUp();
    hid::DeviceInfo info;
    info.vendorId = 0x2047;
    info.productId = 0x0200;
    bus.attach(info, endpoint);
    ASSERT_EQ(connect(), kBslOk);
  }
  static Bytes report(Bytes core) {
    Bytes r(64, 0);
    r[0] = 0x3F;
    r[1] = static_cast<std::uint8_t>(core.size());
    std::copy_n(core.begin(), std::min<std::size_t>(core.size(), r.size() - 2), r.begin() + 2);
    return r;
  }
  std::shared_ptr<ScriptedLoader> endpoint = std::make_shared<ScriptedLoader>();
};

TEST_F(ScriptedLoaderTest, SilentLoaderTimesOutOnTheActiveClock) {
  const auto before = clock.now();
  EXPECT_EQ(BSL_RX_Password(BSL_getDefaultPass()), kBslTimeout);
  EXPECT_EQ(clock.now() - before, std::chrono::milliseconds(kPasswordReplyTimeoutMs));
  EXPECT_EQ(BSL_eraseSegment(0x4400), kBslTimeout);
  EXPECT_EQ(clock.now() - before,
            std::chrono::milliseconds(kPasswordReplyTimeoutMs + kReplyTimeoutMs));
  EXPECT_EQ(BSL_TX_BSL_Version_String(), "ERROR");
}

TEST_F(ScriptedLoaderTest, StaleReplyIsDiscardedBeforeTheNextRequest) {
  endpoint->replies.push_back(report({0x3A, 0x12, 0x34}));  // late answer to something earlier
  endpoint->afterWrite.push_back(report({0x3A, 0xB1, 0x29}));
  EXPECT_EQ(CRC_Check(0x4400, 9, 0), 0x29B1u);
}

TEST_F(ScriptedLoaderTest, BabblingDeviceIsRefusedInsteadOfDrainedForever) {
  for (int i = 0; i < 40; ++i) endpoint->replies.push_back(report({0x3B, 0x00}));
  EXPECT_EQ(BSL_massErase(), kBslBadReply);
  EXPECT_EQ(endpoint->writes, 0) << "nothing is sent while the line is not quiet";
}

TEST_F(ScriptedLoaderTest, MalformedRepliesAreRefused) {
  endpoint->afterWrite.push_back(report({0x3A, 0xB1}));  // a CRC needs two bytes
  EXPECT_EQ(BSL_CRC_Check(0x4400, 2), kBslBadReply);
  endpoint->afterWrite.push_back(report({0x3A, 0x00}));  // data where a message belongs
  EXPECT_EQ(BSL_eraseSegment(0x4400), kBslBadReply);
  endpoint->afterWrite.push_back(report({0x3A, 0x00, 0x06, 0x05}));  // three version bytes
  EXPECT_EQ(BSL_TX_BSL_Version_String(), "ERROR");
  Bytes badId = report({0x3B, 0x00});
  badId[0] = 0x3E;
  endpoint->afterWrite.push_back(badId);
  EXPECT_EQ(BSL_massErase(), kBslBadReply);
  endpoint->afterWrite.push_back(report({0x3B, 0x02}));
  EXPECT_EQ(BSL_eraseSegment(0x4400), bsl::kMsgFlashFail);
  endpoint->afterWrite.push_back(report({0x3B, 0x04}));
  EXPECT_EQ(BSL_CRC_Check(0x4400, 2), bsl::kMsgLocked);
}

}  // namespace
}  // namespace talkgate::firmware::test
