// The configuration file through the main window when it cannot be written (full disk,
// read-only file or folder, folder gone, a file where the folder belongs) or cannot be used
// (malformed, truncated): the old file stays byte for byte, the operator is told, and the
// window goes on working with the device.

#include <QPlainTextEdit>
#include <QPushButton>
#include <QtTest>
#include <filesystem>
#include <memory>
#include <optional>

#include "config/config_ui.h"
#include "tests/scenarios/file_faults.h"
#include "tests/scenarios/scenario_desk.h"

using dorrin_usb_encoder::Form1;
using scen::Desk;

namespace fs = std::filesystem;

namespace {

const QString kUpdateFailed = QStringLiteral("Failed to update USBTalkgateUtilityCfg.ini file.\n");

// A file as Save Changes leaves it for a device at brightness 3, keypad 1, ambient 1.
const std::string kSavedFile =
    " [appSettings]\r\n"
    " LEDBrightness=3\r\n"
    " SerialNumber=TG000777\r\n"
    " FirmwareVersion=1.0.4\r\n"
    " CodeTableValues=0,30,0,31,0,32,0,33,0,34,0,35,\r\n"
    " Ambient_cfg=1\r\n"
    " KeypadLayout=1\r\n";

enum class Fault { DiskFull, ReadOnlyFile, FolderGone };

// Holds the fault in force for its lifetime.
struct FaultInForce {
  FaultInForce(Fault fault, const fs::path& file) {
    switch (fault) {
      case Fault::DiskFull:
        diskFull = std::make_unique<scen::DiskFull>();
        break;
      case Fault::ReadOnlyFile:
        readOnly = std::make_unique<scen::ReadOnly>(file);
        break;
      case Fault::FolderGone:
        fs::remove_all(file.parent_path());
        break;
    }
  }
  std::unique_ptr<scen::DiskFull> diskFull;
  std::unique_ptr<scen::ReadOnly> readOnly;
};

}  // namespace

Q_DECLARE_METATYPE(Fault)

class ConfigFileFaultsTest : public QObject {
  Q_OBJECT

 private slots:
  void unwritableFileKeepsItsBytesAndTheWindowGoesOn_data();
  void unwritableFileKeepsItsBytesAndTheWindowGoesOn();
  void fileWhereTheFolderBelongsIsLeftAlone();
  void malformedFileIsNamedAndNothingIsSentOrWritten();
  void truncatedFileRestoresNothingAndSaveChangesRepairsIt();
  void damagedFilesAreNotImportedOverAGoodOne();
};

void ConfigFileFaultsTest::unwritableFileKeepsItsBytesAndTheWindowGoesOn_data() {
  QTest::addColumn<Fault>("fault");
  QTest::newRow("disk full") << Fault::DiskFull;
  QTest::newRow("read-only file") << Fault::ReadOnlyFile;
  QTest::newRow("folder gone") << Fault::FolderGone;
}

void ConfigFileFaultsTest::unwritableFileKeepsItsBytesAndTheWindowGoesOn() {
  QFETCH(Fault, fault);
  Desk desk(scen::talkgateWorld(3, 1, 1));
  Form1& w = desk.start();
  const fs::path file = desk.configFile();
  scen::writeBytes(file, kSavedFile);
  Desk::choose(w.led2BrightnessJOCbox, 8);
  desk.talkgate().clearRequests();
  {
    FaultInForce inForce(fault, file);
    w.button8->click();  // Save Changes
    // The six values failed together, told once, before the device was asked to store them.
    QCOMPARE(desk.commands(), std::vector<int>({talkgate::kCmdStatus}));
    QCOMPARE(desk.talkgate().state().defaults.symbolBrightness, 3);
    QCOMPARE(desk.dialogs.texts(), QStringList(1, kUpdateFailed));
    QCOMPARE(desk.dialogs.messages[0].caption, QStringLiteral("Velkor Talkgate"));
  }
  if (fault == Fault::FolderGone) {
    // Nothing is created in its place; the next start makes a fresh file.
    QVERIFY(!fs::exists(file.parent_path()));
    desk.start();
    QCOMPARE(scen::readBytes(file).substr(0, 17), std::string(" [appSettings]\r\n "));
    return;
  }
  QCOMPARE(scen::readBytes(file), kSavedFile);
  QCOMPARE(scen::entryCount(file.parent_path()), 1);

  // The window kept working with the device, and the file still restores it.
  QVERIFY(scen::allEnabled(w, true));
  desk.dialogs.clear();
  w.button3->click();
  QVERIFY2(desk.dialogs.messages.isEmpty(), qPrintable(desk.dialogs.texts().join('|')));
  QCOMPARE(desk.talkgate().state().working.symbolBrightness, 3);
  QCOMPARE(w.led2BrightnessJOCbox->displayText(), QStringLiteral("Symbol LED Brightness - 3"));

  // Writable again, Save Changes goes through.
  Desk::choose(w.led2BrightnessJOCbox, 6);
  w.button8->click();
  QVERIFY(desk.dialogs.messages.isEmpty());
  QCOMPARE(talkgate::config::GetSettings("LEDBrightness"), QStringLiteral("6"));
}

void ConfigFileFaultsTest::fileWhereTheFolderBelongsIsLeftAlone() {
  Desk desk;
  const fs::path inTheWay = fs::path(desk.userFolder.path().toStdString()) / "VelkorInterface";
  const std::string bytes = "not a folder\n";
  scen::writeBytes(inTheWay, bytes);
  Form1& w = desk.start();
  // Start-up goes on without a file and without a message.
  QVERIFY(desk.dialogs.messages.isEmpty());
  QVERIFY(scen::allEnabled(w, true));

  w.button8->click();
  QCOMPARE(desk.dialogs.texts(), QStringList(1, kUpdateFailed));
  desk.dialogs.clear();
  w.button3->click();
  QCOMPARE(desk.dialogs.texts(),
           QStringList{"USBTalkgateUtilityCfg.ini cannot be read (Not a directory).\n"});
  QCOMPARE(desk.dialogs.messages[0].caption, QStringLiteral("Velkor Talkgate"));
  desk.dialogs.clear();
  desk.dialogs.folderAnswers << desk.userFolder.path();
  w.exportCfgAction->trigger();
  // The user's own file is what cannot be had, not the chosen folder.
  QCOMPARE(desk.dialogs.texts(),
           QStringList{"Failed to export the file: USBTalkgateUtilityCfg.ini cannot be used (Not a "
                       "directory).\n"});
  QCOMPARE(scen::readBytes(inTheWay.string()), bytes);
  QVERIFY(fs::is_regular_file(inTheWay));
  // Save Changes stored nothing: its file could not be written.
  QCOMPARE(desk.talkgate().state().defaults.symbolBrightness, 5);
}

void ConfigFileFaultsTest::malformedFileIsNamedAndNothingIsSentOrWritten() {
  Desk desk;
  Form1& w = desk.start();
  const std::string malformed =
      " [appSettings]\r\n LEDBrightness=3\r\n [appSettings\r\n KeypadLayout=1\r\n";
  scen::writeBytes(desk.configFile(), malformed);
  desk.talkgate().clearRequests();
  w.button3->click();

  QCOMPARE(desk.dialogs.messages.size(), 1);
  QVERIFY2(desk.dialogs.messages[0].text.startsWith(
               QStringLiteral("USBTalkgateUtilityCfg.ini cannot be read (line 3")),
           qPrintable(desk.dialogs.messages[0].text));
  QVERIFY(desk.dialogs.messages[0].text.endsWith(QStringLiteral(").\n")));
  QVERIFY(desk.commands().empty());

  desk.dialogs.clear();
  w.button8->click();
  QCOMPARE(desk.dialogs.messages.size(), 1);  // one message, not one per key
  QVERIFY(desk.dialogs.messages[0].text.startsWith(
      QStringLiteral("USBTalkgateUtilityCfg.ini cannot be read (line 3")));
  QCOMPARE(scen::readBytes(desk.configFile()), malformed);
  QVERIFY(scen::allEnabled(w, true));
}

void ConfigFileFaultsTest::truncatedFileRestoresNothingAndSaveChangesRepairsIt() {
  Desk desk(scen::talkgateWorld(5, 0, 0));
  Form1& w = desk.start();
  // Cut off in the last line: its value is gone.
  const std::string truncated = kSavedFile.substr(0, kSavedFile.size() - 3);
  scen::writeBytes(desk.configFile(), truncated);
  desk.talkgate().clearRequests();
  w.button3->click();

  QCOMPARE(desk.dialogs.texts(),
           QStringList{"Unable to restore: the value of KeypadLayout in USBTalkgateUtilityCfg.ini "
                       "is missing or not valid.\n"});
  QVERIFY(desk.commands().empty());
  QCOMPARE(scen::readBytes(desk.configFile()), truncated);

  // Save Changes writes every value again, after which the restore works.
  desk.dialogs.clear();
  w.button8->click();
  QVERIFY(desk.dialogs.messages.isEmpty());
  QCOMPARE(talkgate::config::GetSettings("KeypadLayout"), QStringLiteral("0"));
  QCOMPARE(talkgate::config::GetSettings("LEDBrightness"), QStringLiteral("5"));
  w.button3->click();
  QVERIFY(desk.dialogs.messages.isEmpty());
}

void ConfigFileFaultsTest::damagedFilesAreNotImportedOverAGoodOne() {
  Desk desk;
  Form1& w = desk.start();
  scen::writeBytes(desk.configFile(), kSavedFile);
  QTemporaryDir elsewhere;
  const std::string candidate = elsewhere.filePath("USBTalkgateUtilityCfg.ini").toStdString();

  scen::writeBytes(candidate, " [appSettings\r\n LEDBrightness=3\r\n");
  desk.dialogs.fileAnswers << QString::fromStdString(candidate);
  w.importCfgAction->trigger();
  QCOMPARE(desk.dialogs.texts(), QStringList{"Exception :Failed to copy the new file.\n"});

  // Cut off within the last key's name: that key is missing.
  desk.dialogs.clear();
  scen::writeBytes(candidate, kSavedFile.substr(0, kSavedFile.rfind(" KeypadLayout")) + " Keypa");
  desk.dialogs.fileAnswers << QString::fromStdString(candidate);
  w.importCfgAction->trigger();
  QCOMPARE(desk.dialogs.texts(), QStringList{"File is incorrect format.\n"});

  QCOMPARE(scen::readBytes(desk.configFile()), kSavedFile);
  // A good file imported onto a full disk fails with its own message and changes nothing.
  desk.dialogs.clear();
  std::string good = kSavedFile;
  good.replace(good.find("LEDBrightness=3"), 15, "LEDBrightness=9");
  scen::writeBytes(candidate, good);
  desk.dialogs.fileAnswers << QString::fromStdString(candidate);
  {
    scen::DiskFull full;
    w.importCfgAction->trigger();
  }
  QCOMPARE(desk.dialogs.texts(), QStringList{"Failed to copy the new file.\n"});
  QCOMPARE(scen::readBytes(desk.configFile()), kSavedFile);
  QCOMPARE(scen::entryCount(fs::path(desk.configFile()).parent_path()), 1);
}

QTEST_MAIN(ConfigFileFaultsTest)
#include "config_file_faults_test.moc"
