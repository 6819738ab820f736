// The configuration file without windows: creation, values, parsing, import and export.

#include "config/utility_config.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "config/ini_file.h"
#include "tests/config/test_files.h"

namespace talkgate::config {
namespace {

using test::entryCount;
using test::readBytes;
using test::TempDir;
using test::writeBytes;

constexpr char kFreshFile[] =
    " [appSettings]\r\n LEDBrightness=\r\n SerialNumber=\r\n FirmwareVersion=\r\n"
    " CodeTableValues=\r\n Ambient_cfg=\r\n KeypadLayout=\r\n";

DeviceStatus sampleStatus() {
  DeviceStatus s;
  s.symbolBrightness = 7;
  s.ambientConfig = 1;
  s.keypadType = 1;
  s.keyTable = {0, 111, 2, 112, 0, 113, 225, 4, 0, 82, 255, 40};
  s.firmwareVersion = "1.0.4";
  s.serialNumber = "TG260001";
  s.temperature = "23.5C";
  return s;
}

class ConfigFileTest : public ::testing::Test {
 protected:
  void SetUp() override { FileName.clear(); }
  void TearDown() override { FileName.clear(); }
  TempDir dir;
};

// ---- Location and first creation

TEST_F(ConfigFileTest, FirstStartCreatesFolderAndFileByteForByte) {
  locateAndCreate(dir.path().string());
  const std::filesystem::path expected =
      dir.path() / "VelkorInterface" / "USBTalkgateUtilityCfg.ini";
  EXPECT_EQ(FileName, expected.string());
  EXPECT_EQ(readBytes(FileName), kFreshFile);
}

TEST_F(ConfigFileTest, SecondStartLeavesTheFileUnchanged) {
  locateAndCreate(dir.path().string());
  const std::string edited = " [appSettings]\r\n LEDBrightness=3\r\n";  // incomplete on purpose
  writeBytes(FileName, edited);
  FileName.clear();
  locateAndCreate(dir.path().string());
  EXPECT_EQ(readBytes(FileName), edited);
}

TEST_F(ConfigFileTest, MissingDataFolderIsCreatedWithItsParents) {
  const std::string base = (dir.path() / "home" / ".local" / "share").string();
  locateAndCreate(base);
  EXPECT_EQ(readBytes(configPathUnder(base)), kFreshFile);
}

TEST_F(ConfigFileTest, NoUserFolderLeavesFileNameEmpty) {
  locateAndCreate("");
  EXPECT_TRUE(FileName.empty());
  EXPECT_EQ(entryCount(dir.path()), 0);
}

TEST_F(ConfigFileTest, FileInTheWayOfTheFolderStopsQuietly) {
  writeBytes(dir.file("VelkorInterface"), "not a folder");
  locateAndCreate(dir.path().string());
  EXPECT_FALSE(std::filesystem::exists(FileName));
  EXPECT_EQ(readBytes(dir.file("VelkorInterface")), "not a folder");
}

TEST_F(ConfigFileTest, FirmwareFileLandsDirectlyAfterTheHeader) {
  const std::string path = dir.file("USBTalkgateUtilityCfg.ini");
  ASSERT_TRUE(createConfigFile(path));
  ASSERT_TRUE(CIniFile::SetValue(kKeyFirmwareFile, "fw[2].txt", kSection, path));
  EXPECT_EQ(readBytes(path), std::string(" [appSettings]\r\n FirmwareFile=fw[2].txt\r\n") +
                                 (kFreshFile + std::string(" [appSettings]\r\n").size()));
  EXPECT_EQ(CIniFile::GetValue(kKeyFirmwareFile, kSection, path), "fw[2].txt");
  EXPECT_TRUE(hasConfigFormat(path));  // the bracket did not swallow the later keys
}

// ---- Save

TEST_F(ConfigFileTest, SaveWritesTheSixValuesInPlace) {
  const std::string path = dir.file("USBTalkgateUtilityCfg.ini");
  ASSERT_TRUE(createConfigFile(path));
  const SaveOutcome outcome = saveStatusToFile(path, sampleStatus());
  EXPECT_TRUE(outcome.ok());
  EXPECT_EQ(readBytes(path),
            " [appSettings]\r\n LEDBrightness=7\r\n SerialNumber=TG260001\r\n"
            " FirmwareVersion=1.0.4\r\n CodeTableValues=0,111,2,112,0,113,225,4,0,82,255,40,\r\n"
            " Ambient_cfg=1\r\n KeypadLayout=1\r\n");
}

TEST_F(ConfigFileTest, SaveToAMissingFileSaysSoOnceAndCreatesNothing) {
  const std::string path = dir.file("USBTalkgateUtilityCfg.ini");
  const SaveOutcome outcome = saveStatusToFile(path, sampleStatus());
  EXPECT_EQ(outcome.failure, "it does not exist");
  EXPECT_FALSE(std::filesystem::exists(path));
}

// One replacement must leave exactly the bytes the six single writes of the same values leave,
// whatever the file held before.
TEST_F(ConfigFileTest, WholeSaveEqualsTheSixSingleWritesByteForByte) {
  const std::string starts[] = {
      kFreshFile,
      std::string(" [appSettings]\r\n FirmwareFile=fw[2].txt\r\n") + (kFreshFile + 16),
      "; mine\r\n [other]\r\n LEDBrightness=1\r\n [appSettings]\r\n;KeypadLayout=0\r\nnote\r\n",
      " [appSettings]\r\n LEDBrightness=3",
      "",
  };
  DeviceStatus status = sampleStatus();
  status.serialNumber = "TG\n LEDBrightness=9\r";  // a hostile device text
  for (const std::string& start : starts) {
    const std::string whole = dir.file("whole.ini");
    const std::string single = dir.file("single.ini");
    writeBytes(whole, start);
    writeBytes(single, start);
    ASSERT_TRUE(saveStatusToFile(whole, status).ok()) << start;
    for (const auto& [key, value] : settingsFromStatus(status)) {
      ASSERT_TRUE(CIniFile::SetValue(key, value, kSection, single)) << key;
    }
    EXPECT_EQ(readBytes(whole), readBytes(single)) << start;
    EXPECT_EQ(CIniFile::GetValue(kKeySerialNumber, kSection, whole), "TG LEDBrightness=9");
    EXPECT_EQ(CIniFile::GetValue(kKeyLEDBrightness, kSection, whole), "7");
    EXPECT_EQ(entryCount(dir.path()), 2) << "temporary or lock file left behind";
  }
}

TEST_F(ConfigFileTest, SaveToAMalformedFileReportsTheLineAndWritesNothing) {
  const std::string path = dir.file("USBTalkgateUtilityCfg.ini");
  const std::string bytes = " [appSettings]\r\n LEDBrightness=1\r\n [oops\r\n";
  writeBytes(path, bytes);
  const SaveOutcome outcome = saveStatusToFile(path, sampleStatus());
  EXPECT_FALSE(outcome.ok());
  EXPECT_NE(outcome.malformed.find("line 3"), std::string::npos) << outcome.malformed;
  EXPECT_EQ(readBytes(path), bytes);
}

// ---- Parsing

TEST(ConfigValues, DecimalAcceptsWhiteSpaceAndSign) {
  int v = -99;
  EXPECT_TRUE(parseDecimal(" 7 ", v));
  EXPECT_EQ(v, 7);
  EXPECT_TRUE(parseDecimal("\t+1\r\n", v));
  EXPECT_EQ(v, 1);
  EXPECT_TRUE(parseDecimal("-0", v));
  EXPECT_EQ(v, 0);
  EXPECT_TRUE(parseDecimal("-12", v));
  EXPECT_EQ(v, -12);
  EXPECT_TRUE(parseDecimal("007", v));
  EXPECT_EQ(v, 7);
  EXPECT_TRUE(parseDecimal("-2147483648", v));
  EXPECT_EQ(v, -2147483648LL);
  EXPECT_TRUE(parseDecimal("2147483647", v));
  EXPECT_EQ(v, 2147483647);
}

TEST(ConfigValues, DecimalRefusesEverythingElseAndLeavesTheValue) {
  for (const char* text : {"", " ", "+", "-", "1a", "0x1", "1 2", "1.0", "+-1", "2147483648",
                           "-2147483649", "99999999999999999999", "\xef\xbc\x91"}) {
    int v = 42;
    EXPECT_FALSE(parseDecimal(text, v)) << "'" << text << "'";
    EXPECT_EQ(v, 42);
  }
}

TEST(ConfigValues, CodeTableTakesTheFirstTwelveFields) {
  KeyTable t{};
  ASSERT_TRUE(parseCodeTable("0,111,2,112,0,113,225,4,0,82,255,40,", t));
  EXPECT_EQ(t, (KeyTable{0, 111, 2, 112, 0, 113, 225, 4, 0, 82, 255, 40}));
  ASSERT_TRUE(parseCodeTable(" 1 ,2,3,4,5,6,7,8,9,10,11,+12", t));
  EXPECT_EQ(t, (KeyTable{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
  ASSERT_TRUE(parseCodeTable("1,2,3,4,5,6,7,8,9,10,11,12,junk,,", t));
  EXPECT_EQ(t[11], 12);
}

TEST(ConfigValues, CodeTableRefusesShortBadOrOutOfRangeFields) {
  const KeyTable before{9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9};
  for (const char* text : {"", "1,2,3,4,5,6,7,8,9,10,11,", "1,2,3,4,5,6,7,8,9,10,11",
                           "1,2,3,4,5,6,7,8,9,10,11,256,", "1,2,3,4,5,6,7,8,9,10,-1,12,",
                           "1,2,,4,5,6,7,8,9,10,11,12,", "1;2;3;4;5;6;7;8;9;10;11;12;"}) {
    KeyTable t = before;
    EXPECT_FALSE(parseCodeTable(text, t)) << text;
    EXPECT_EQ(t, before) << text;
  }
}

// ---- Import and export

class ImportExportTest : public ConfigFileTest {
 protected:
  void SetUp() override {
    ConfigFileTest::SetUp();
    std::filesystem::create_directories(dir.path() / "user");
    std::filesystem::create_directories(dir.path() / "elsewhere");
    dest = (dir.path() / "user" / kConfigFileName).string();
    writeBytes(dest, kCurrent);
    source = (dir.path() / "elsewhere" / kConfigFileName).string();
  }
  // A file as a save writes it; another such file is what an import takes.
  static constexpr char kCurrent[] =
      " [appSettings]\r\n LEDBrightness=9\r\n SerialNumber=TG1\r\n FirmwareVersion=1.0.4\r\n"
      " CodeTableValues=0,4,0,5,0,6,0,7,0,82,0,40,\r\n Ambient_cfg=0\r\n KeypadLayout=0\r\n";
  static constexpr char kSaved[] =
      " [appSettings]\r\n LEDBrightness=2\r\n SerialNumber=TG2\r\n FirmwareVersion=1.0.4\r\n"
      " CodeTableValues=0,30,0,31,0,32,0,33,0,34,0,35,\r\n Ambient_cfg=1\r\n KeypadLayout=1\r\n";
  std::string dest;
  std::string source;
};

TEST_F(ImportExportTest, ImportCopiesAFileARestoreCanUseAndNoOther) {
  writeBytes(source, std::string("; exported\r\n") + kSaved + " FirmwareFile=x.txt\r\n");
  EXPECT_EQ(importFile(source, dest), ImportOutcome::Imported);
  EXPECT_EQ(readBytes(dest), readBytes(source));
  // Empty values (a file no save filled) never replace a usable file.
  writeBytes(dest, kCurrent);
  writeBytes(source, kFreshFile);
  std::string detail;
  EXPECT_EQ(importFile(source, dest, &detail), ImportOutcome::IncorrectFormat);
  EXPECT_EQ(detail, kKeyKeypadLayout);
  EXPECT_EQ(readBytes(dest), kCurrent);
}

TEST_F(ImportExportTest, ImportRefusesAnyOtherNameEvenByCase) {
  for (const char* name : {"usbtalkgateutilitycfg.ini", "USBTalkgateUtilityCfg.INI",
                           "USBTalkgateUtilityCfg.ini.bak", "copy.ini"}) {
    const std::string other = (dir.path() / "elsewhere" / name).string();
    writeBytes(other, kFreshFile);
    EXPECT_EQ(importFile(other, dest), ImportOutcome::IncorrectFilename) << name;
  }
  EXPECT_EQ(readBytes(dest), kCurrent);
}

TEST_F(ImportExportTest, ImportRefusesAFileLackingAnyOneKeyOrTheSection) {
  for (const char* missing : kCreationOrder) {
    writeBytes(source, kFreshFile);
    ASSERT_TRUE(CIniFile::DeleteRecord(missing, kSection, source));
    EXPECT_EQ(importFile(source, dest), ImportOutcome::IncorrectFormat) << missing;
  }
  writeBytes(source, " [other]\r\n KeypadLayout=1\r\n");
  EXPECT_EQ(importFile(source, dest), ImportOutcome::IncorrectFormat);
  writeBytes(source, "");
  EXPECT_EQ(importFile(source, dest), ImportOutcome::IncorrectFormat);
  // The keys must be in "appSettings", not merely somewhere in the file.
  std::string moved = kFreshFile;
  moved.replace(0, std::string(" [appSettings]").size(), " [appSettingsX]");
  writeBytes(source, moved);
  EXPECT_EQ(importFile(source, dest), ImportOutcome::IncorrectFormat);
  EXPECT_EQ(readBytes(dest), kCurrent);
}

TEST_F(ImportExportTest, ImportOfAMalformedFileIsAnErrorAndChangesNothing) {
  writeBytes(source, std::string(kFreshFile) + " [broken\r\n");
  EXPECT_EQ(importFile(source, dest), ImportOutcome::Error);
  EXPECT_EQ(readBytes(dest), kCurrent);
}

TEST_F(ImportExportTest, ImportWithoutAUserFileLocationFailsAtTheCopy) {
  writeBytes(source, kSaved);
  EXPECT_EQ(importFile(source, ""), ImportOutcome::CopyFailed);
  EXPECT_EQ(importFile(source, (dir.path() / "gone" / kConfigFileName).string()),
            ImportOutcome::CopyFailed);
  std::string detail;
  EXPECT_EQ(importFile((dir.path() / "gone" / kConfigFileName).string(), dest, &detail),
            ImportOutcome::Unreadable);
  EXPECT_EQ(detail, "it does not exist");
}

TEST_F(ImportExportTest, NothingButARegularFileIsImportedOrReplacedByAnExport) {
  std::filesystem::create_directories(source);
  std::string detail;
  EXPECT_EQ(importFile(source, dest, &detail), ImportOutcome::Unreadable);
  EXPECT_EQ(detail, "it is a directory");
  EXPECT_EQ(readBytes(dest), kCurrent);
  // The export target is that directory: never replaced, even when told to overwrite.
  EXPECT_EQ(exportFile(dest, (dir.path() / "elsewhere").string(), true, &detail),
            ExportOutcome::CopyFailed);
  EXPECT_EQ(detail, "it is a directory");
  EXPECT_TRUE(std::filesystem::is_directory(source));
}

TEST_F(ImportExportTest, ExportAsksBeforeReplacingAndCopiesWhenAllowed) {
  const std::string folder = (dir.path() / "elsewhere").string();
  writeBytes(source, "older export\r\n");
  EXPECT_EQ(exportFile(dest, folder, false), ExportOutcome::TargetExists);
  EXPECT_EQ(readBytes(source), "older export\r\n");
  EXPECT_EQ(readBytes(dest), kCurrent);
  EXPECT_EQ(exportFile(dest, folder, true), ExportOutcome::Exported);
  EXPECT_EQ(readBytes(source), kCurrent);
  EXPECT_EQ(entryCount(dir.path() / "elsewhere"), 1);
}

TEST_F(ImportExportTest, ExportFailsWithoutSourceOrFolder) {
  const std::string folder = (dir.path() / "elsewhere").string();
  // A missing source is the source's fault, not the folder's.
  EXPECT_EQ(exportFile("", folder, false), ExportOutcome::SourceUnusable);
  EXPECT_EQ(exportFile(dir.file("none.ini"), folder, false), ExportOutcome::SourceUnusable);
  EXPECT_EQ(exportFile(dest, (dir.path() / "no-such-folder").string(), false),
            ExportOutcome::CopyFailed);
  EXPECT_EQ(exportFile(dest, "", true), ExportOutcome::CopyFailed);
  EXPECT_EQ(entryCount(dir.path() / "elsewhere"), 0);
}

}  // namespace
}  // namespace talkgate::config
