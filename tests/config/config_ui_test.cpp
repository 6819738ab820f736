// The configuration file's window layer: every message, question and dialog it shows, with the
// user's folders redirected into a temporary folder.

#include "config/config_ui.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QStandardPaths>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "config/utility_config.h"
#include "tests/config/sim_device.h"
#include "tests/config/test_files.h"
#include "ui/scripted_dialogs.h"

namespace talkgate::config {
namespace {

using test::entryCount;
using test::readBytes;
using test::SimDevice;
using test::TempDir;
using test::writeBytes;
using ui::Answer;
using ui::Buttons;
using ui::Icon;

constexpr char kFreshFile[] =
    " [appSettings]\r\n LEDBrightness=\r\n SerialNumber=\r\n FirmwareVersion=\r\n"
    " CodeTableValues=\r\n Ambient_cfg=\r\n KeypadLayout=\r\n";
constexpr char kFilled[] =
    " [appSettings]\r\n LEDBrightness=4\r\n SerialNumber=TG1\r\n FirmwareVersion=1.0\r\n"
    " CodeTableValues=1,2,3,4,5,6,7,8,9,10,11,12,\r\n Ambient_cfg=0\r\n KeypadLayout=0\r\n";

class ConfigUiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    home = dir.path() / "home";
    dataHome = home / "data";
    std::filesystem::create_directories(dataHome);
    savedHome_ = std::getenv("HOME") ? std::getenv("HOME") : "";
    savedData_ = std::getenv("XDG_DATA_HOME") ? std::getenv("XDG_DATA_HOME") : "";
    setenv("HOME", home.c_str(), 1);
    setenv("XDG_DATA_HOME", dataHome.c_str(), 1);
    FileName.clear();
  }
  void TearDown() override {
    FileName.clear();
    setenv("HOME", savedHome_.c_str(), 1);
    if (savedData_.empty()) {
      unsetenv("XDG_DATA_HOME");
    } else {
      setenv("XDG_DATA_HOME", savedData_.c_str(), 1);
    }
  }

  // Creates the user's file and fills it.
  void startWith(const std::string& bytes) {
    locateAndCreateConfigFile();
    ASSERT_FALSE(FileName.empty());
    writeBytes(FileName, bytes);
  }

  void expectOnlyMessage(const QString& text, const QString& caption) {
    ASSERT_EQ(dialogs.messages.size(), 1) << dialogs.texts().join("|").toStdString();
    EXPECT_EQ(dialogs.messages[0].text, text);
    EXPECT_EQ(dialogs.messages[0].caption, caption);
    EXPECT_EQ(dialogs.messages[0].buttons, Buttons::Ok);
    EXPECT_EQ(dialogs.messages[0].icon, Icon::Warning);
  }

  TempDir dir;
  std::filesystem::path home;
  std::filesystem::path dataHome;
  ui::ScriptedDialogs dialogs;
  ui::ScopedDialogs guard{dialogs};

 private:
  std::string savedHome_;
  std::string savedData_;
};

// ---- Start-up and settings

TEST_F(ConfigUiTest, StartUpCreatesTheFileInTheUsersDataFolder) {
  locateAndCreateConfigFile();
  EXPECT_EQ(FileName, (dataHome / "VelkorInterface" / "USBTalkgateUtilityCfg.ini").string());
  EXPECT_EQ(readBytes(FileName), kFreshFile);
  EXPECT_TRUE(dialogs.messages.isEmpty());
}

TEST_F(ConfigUiTest, SettingsReadAndWriteTheUsersFile) {
  startWith(kFreshFile);
  EXPECT_TRUE(SetSettings("FirmwareFile", "image.txt"));
  EXPECT_EQ(GetSettings("FirmwareFile"), QStringLiteral("image.txt"));
  EXPECT_EQ(GetSettings("Missing"), QString());
  EXPECT_TRUE(dialogs.messages.isEmpty());
}

TEST_F(ConfigUiTest, SetSettingsOnADeletedFileFailsWithItsMessage) {
  startWith(kFreshFile);
  std::filesystem::remove(FileName);
  EXPECT_FALSE(SetSettings("LEDBrightness", "1"));
  expectOnlyMessage("Failed to update USBTalkgateUtilityCfg.ini file.\n", "Velkor Talkgate");
  EXPECT_FALSE(std::filesystem::exists(FileName));
}

TEST_F(ConfigUiTest, MalformedFileIsReportedBySettingsAndTheProgramGoesOn) {
  const std::string bytes = " [appSettings]\r\n [broken\r\n";
  startWith(bytes);
  EXPECT_EQ(GetSettings("LEDBrightness"), QString());
  EXPECT_FALSE(SetSettings("LEDBrightness", "1"));
  ASSERT_EQ(dialogs.messages.size(), 2);
  for (const auto& m : dialogs.messages) {
    EXPECT_EQ(m.caption, QStringLiteral("Velkor Talkgate"));
    EXPECT_TRUE(m.text.contains(QStringLiteral("line 2"))) << m.text.toStdString();
    EXPECT_TRUE(m.text.endsWith('\n'));
  }
  EXPECT_EQ(readBytes(FileName), bytes);
}

// ---- Save Changes

TEST_F(ConfigUiTest, SaveWritesTheStatusJustRead) {
  startWith(kFreshFile);
  int reads = 0;
  SaveToConfigFile(nullptr, [&reads](DeviceStatus& s) {
    ++reads;
    s.symbolBrightness = 4;
    s.keyTable = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    s.firmwareVersion = "1.0";
    s.serialNumber = "TG1";
    return 0;
  });
  EXPECT_EQ(reads, 1);
  EXPECT_EQ(readBytes(FileName), kFilled);
  EXPECT_TRUE(dialogs.messages.isEmpty());
}

TEST_F(ConfigUiTest, SaveWithAnUnreadableStatusLeavesTheFile) {
  startWith(kFilled);
  SaveToConfigFile(nullptr, [](DeviceStatus& s) {
    s.symbolBrightness = 9;
    return kErrTimeout;
  });
  expectOnlyMessage("Unable to Save Config file.\n", "Velkor Talkgate");
  EXPECT_EQ(readBytes(FileName), kFilled);
}

// The six values go into the file in one replacement, so they fail together: one message.
TEST_F(ConfigUiTest, SaveWithoutAFileShowsOneMessage) {
  startWith(kFreshFile);
  std::filesystem::remove(FileName);
  SaveToConfigFile(nullptr, [](DeviceStatus&) { return 0; });
  ASSERT_EQ(dialogs.messages.size(), 1);
  EXPECT_EQ(dialogs.messages[0].text,
            QStringLiteral("Failed to update USBTalkgateUtilityCfg.ini file.\n"));
  EXPECT_FALSE(std::filesystem::exists(FileName));
}

TEST_F(ConfigUiTest, SaveIntoAMalformedFileShowsOneMessage) {
  startWith("[appSettings\r\n");
  SaveToConfigFile(nullptr, [](DeviceStatus&) { return 0; });
  ASSERT_EQ(dialogs.messages.size(), 1);
  EXPECT_EQ(dialogs.messages[0].caption, QStringLiteral("Velkor Talkgate"));
  EXPECT_TRUE(dialogs.messages[0].text.contains(QStringLiteral("line 1")));
  EXPECT_EQ(readBytes(FileName), "[appSettings\r\n");
}

// ---- Restore

TEST_F(ConfigUiTest, RestoreFromAFreshFileNamesTheMissingValue) {
  locateAndCreateConfigFile();
  SimDevice dev;
  EXPECT_FALSE(restoreFromConfigFile(nullptr, dev.handle()));
  expectOnlyMessage(
      "Unable to restore: the value of KeypadLayout in USBTalkgateUtilityCfg.ini is missing or "
      "not valid.\n",
      "Velkor QDS");
  EXPECT_TRUE(dev.commands().empty());
}

TEST_F(ConfigUiTest, RestoreWithKeypadZeroSendsThreeRequestsQuietly) {
  startWith(kFilled);
  SimDevice dev;
  EXPECT_TRUE(restoreFromConfigFile(nullptr, dev.handle()));
  EXPECT_EQ(dev.commands(), (std::vector<int>{11, 4, 3}));
  EXPECT_TRUE(dialogs.messages.isEmpty());
}

// Reset From Configuration File checks every value, ranges included, before its first request.
TEST_F(ConfigUiTest, RestoreWithAValueOutOfRangeSendsNothing) {
  std::string outOfRange = kFilled;
  outOfRange.replace(outOfRange.find("LEDBrightness=4"), 15, "LEDBrightness=42");
  startWith(outOfRange);
  SimDevice dev;
  EXPECT_FALSE(restoreFromConfigFile(nullptr, dev.handle()));
  expectOnlyMessage(
      "Unable to restore: the value of LEDBrightness in USBTalkgateUtilityCfg.ini is missing or "
      "not valid.\n",
      "Velkor QDS");
  EXPECT_TRUE(dev.commands().empty());
}

TEST_F(ConfigUiTest, RefusedRestoreRequestShowsItsMessageUnderTheRestoreCaption) {
  startWith(kFilled);
  SimDevice dev;
  dev.refuse(11);
  EXPECT_FALSE(restoreFromConfigFile(nullptr, dev.handle()));
  expectOnlyMessage("Unable to set Keypad Type..\n", "Velkor QDS");
  EXPECT_EQ(dev.commands(), std::vector<int>{11});
  dialogs.clear();
  dev.refuse(3);
  EXPECT_FALSE(restoreFromConfigFile(nullptr, dev.handle()));
  expectOnlyMessage("Unable to set led brightness..\n", "Velkor QDS");
}

TEST_F(ConfigUiTest, RestoreFromAMalformedFileShowsTheProblem) {
  startWith(" [appSettings]\r\n KeypadLayout=0\r\n[x\r\n");
  SimDevice dev;
  EXPECT_FALSE(restoreFromConfigFile(nullptr, dev.handle()));
  ASSERT_EQ(dialogs.messages.size(), 1);
  EXPECT_EQ(dialogs.messages[0].caption, QStringLiteral("Velkor Talkgate"));
  EXPECT_TRUE(dialogs.messages[0].text.contains(QStringLiteral("line 3")));
  EXPECT_TRUE(dev.commands().empty());
}

// ---- Import

class ImportUiTest : public ConfigUiTest {
 protected:
  void SetUp() override {
    ConfigUiTest::SetUp();
    startWith(kFilled);
    std::filesystem::create_directories(dir.path() / "usb");
  }
  QString chosen(const std::string& name, const std::string& bytes) {
    const std::string path = (dir.path() / "usb" / name).string();
    writeBytes(path, bytes);
    return QString::fromStdString(path);
  }
};

TEST_F(ImportUiTest, ImportReplacesTheUsersFileSilently) {
  std::string other = kFilled;
  other.replace(other.find("LEDBrightness=4"), 15, "LEDBrightness=8");
  dialogs.fileAnswers << chosen("USBTalkgateUtilityCfg.ini", other);
  importConfigFile(nullptr);
  EXPECT_TRUE(dialogs.messages.isEmpty());
  EXPECT_EQ(readBytes(FileName), other);
  ASSERT_EQ(dialogs.fileDialogFilters.size(), 1);
  EXPECT_EQ(dialogs.fileDialogInitialPaths[0], QStringLiteral("openFileDialogBrowse"));
}

TEST_F(ImportUiTest, FileTypesReadAsWrittenInTheDialog) {
  importConfigFile(nullptr);
  ASSERT_EQ(dialogs.fileDialogFilters.size(), 1);
  // What a Qt file dialog lists as file types for the filter the import asked for.
  int argc = 1;
  char name[] = "config_ui_test";
  char* argv[] = {name, nullptr};
  QApplication application(argc, argv);
  QFileDialog dialog;
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setNameFilter(dialogs.fileDialogFilters[0]);
  const auto* types = dialog.findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
  ASSERT_NE(types, nullptr);
  QStringList shown;
  for (int i = 0; i < types->count(); ++i) shown << types->itemText(i);
  EXPECT_EQ(shown, QStringList({"(*.ini)", "All files (*.ini)"}));
  EXPECT_EQ(dialog.selectedNameFilter(), QStringLiteral("(*.ini)"));
}

TEST_F(ImportUiTest, CancelledImportDoesNothing) {
  importConfigFile(nullptr);
  EXPECT_TRUE(dialogs.messages.isEmpty());
  EXPECT_EQ(readBytes(FileName), kFilled);
}

TEST_F(ImportUiTest, RefusedImportsShowTheirMessages) {
  dialogs.fileAnswers << chosen("usbtalkgateutilitycfg.ini", kFreshFile);
  importConfigFile(nullptr);
  expectOnlyMessage("Incorrect Filename.\n", "Velkor Talkgate");
  dialogs.clear();

  std::string noSerial = kFreshFile;
  noSerial.erase(noSerial.find(" SerialNumber=\r\n"), std::string(" SerialNumber=\r\n").size());
  dialogs.fileAnswers << chosen("USBTalkgateUtilityCfg.ini", noSerial);
  importConfigFile(nullptr);
  expectOnlyMessage("File is incorrect format.\n", "Velkor Talkgate");
  dialogs.clear();

  // Values a restore could not use (a file no save filled) never replace usable ones.
  dialogs.fileAnswers << chosen("USBTalkgateUtilityCfg.ini", kFreshFile);
  importConfigFile(nullptr);
  expectOnlyMessage(
      "File is incorrect format. The value of KeypadLayout is missing or not valid.\n",
      "Velkor Talkgate");
  dialogs.clear();

  dialogs.fileAnswers << chosen("USBTalkgateUtilityCfg.ini", std::string(kFreshFile) + "[bad\r\n");
  importConfigFile(nullptr);
  expectOnlyMessage("Exception :Failed to copy the new file.\n", "Velkor Talkgate");
  EXPECT_EQ(readBytes(FileName), kFilled);
}

TEST_F(ImportUiTest, ImportWithoutAUserFileFailsAtTheCopy) {
  FileName.clear();
  dialogs.fileAnswers << chosen("USBTalkgateUtilityCfg.ini", kFilled);
  importConfigFile(nullptr);
  expectOnlyMessage("Failed to copy the new file.\n", "Velkor Talkgate");
}

// ---- Export

TEST_F(ConfigUiTest, CancelledExportSaysSoAndStartsAtHome) {
  startWith(kFilled);
  exportConfigFile(nullptr);
  expectOnlyMessage("Unable to save the cfg file.\n", "Velkor Talkgate");
  ASSERT_EQ(dialogs.folderDialogDescriptions.size(), 1);
  EXPECT_EQ(dialogs.folderDialogDescriptions[0],
            QStringLiteral("Select Folder - To Copy The USBTalkgateUtilityCfg.ini File"));
  EXPECT_EQ(QDir(dialogs.folderDialogInitialFolders[0]), QDir(QString::fromStdString(home)));
}

TEST_F(ConfigUiTest, ExportIntoAnEmptyFolderCopiesWithoutAsking) {
  startWith(kFilled);
  const std::filesystem::path target = dir.path() / "stick";
  std::filesystem::create_directories(target);
  dialogs.folderAnswers << QString::fromStdString(target.string());
  exportConfigFile(nullptr);
  EXPECT_TRUE(dialogs.messages.isEmpty());
  EXPECT_EQ(readBytes((target / "USBTalkgateUtilityCfg.ini").string()), kFilled);
}

TEST_F(ConfigUiTest, ExportOverAnExistingFileAsksAndNoLeavesBothFiles) {
  startWith(kFilled);
  const std::filesystem::path target = dir.path() / "stick";
  std::filesystem::create_directories(target);
  const std::string existing = (target / "USBTalkgateUtilityCfg.ini").string();
  writeBytes(existing, kFreshFile);

  dialogs.folderAnswers << QString::fromStdString(target.string());
  dialogs.questionAnswers << Answer::No;
  exportConfigFile(nullptr);
  ASSERT_EQ(dialogs.messages.size(), 1);
  EXPECT_EQ(dialogs.messages[0].text,
            QStringLiteral(
                "USBTalkgateUtilityCfg.ini file already exists. Do you want to overwrite it?\n"));
  EXPECT_EQ(dialogs.messages[0].caption, QStringLiteral("Save USBTalkgateUtilityCfg File"));
  EXPECT_EQ(dialogs.messages[0].buttons, Buttons::YesNo);
  EXPECT_EQ(dialogs.messages[0].icon, Icon::Question);
  EXPECT_EQ(readBytes(existing), kFreshFile);
  EXPECT_EQ(readBytes(FileName), kFilled);
  EXPECT_EQ(entryCount(target), 1);

  dialogs.clear();
  dialogs.folderAnswers << QString::fromStdString(target.string());
  dialogs.questionAnswers << Answer::Yes;
  exportConfigFile(nullptr);
  EXPECT_EQ(dialogs.messages.size(), 1);  // the question only
  EXPECT_EQ(readBytes(existing), kFilled);
}

TEST_F(ConfigUiTest, ExportFailuresShowTheirMessages) {
  startWith(kFilled);
  dialogs.folderAnswers << QString::fromStdString((dir.path() / "no-such-folder").string());
  exportConfigFile(nullptr);
  expectOnlyMessage("Failed to export the file\n", "Velkor Talkgate");
  dialogs.clear();

  // The user's own file is at fault: the message says so, not the folder.
  const std::filesystem::path target = dir.path() / "stick";
  std::filesystem::create_directories(target);
  writeBytes(FileName, kFreshFile);
  dialogs.folderAnswers << QString::fromStdString(target.string());
  exportConfigFile(nullptr);
  expectOnlyMessage(
      "Failed to export the file: USBTalkgateUtilityCfg.ini cannot be used (the value of "
      "KeypadLayout is missing or not valid).\n",
      "Velkor Talkgate");
  dialogs.clear();

  FileName.clear();  // no user folder at start-up
  dialogs.folderAnswers << QString::fromStdString(target.string());
  exportConfigFile(nullptr);
  expectOnlyMessage(
      "Failed to export the file: USBTalkgateUtilityCfg.ini cannot be used (no file name was "
      "given).\n",
      "Velkor Talkgate");
  EXPECT_EQ(entryCount(target), 0);
}

}  // namespace
}  // namespace talkgate::config
