// The INI file store: file format byte for byte, load rules, changes and failures.

#include "config/ini_file.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/config/test_files.h"
#include "tests/support/platform.h"
#include "tests/support/system_faults.h"

namespace talkgate::config {
namespace {

using test::entryCount;
using test::readBytes;
using test::TempDir;
using test::writeBytes;
using Record = CIniFile::Record;

Record header(const std::string& section) {
  Record r;
  r.Section = section;
  return r;
}

Record key(const std::string& section, const std::string& k, const std::string& v) {
  Record r;
  r.Section = section;
  r.Key = k;
  r.Value = v;
  return r;
}

class IniFileTest : public ::testing::Test {
 protected:
  TempDir dir;
  std::string path = dir.file("test.ini");

  std::vector<Record> load() {
    std::vector<Record> content;
    EXPECT_TRUE(CIniFile::Load(path, content));
    return content;
  }
};

// ---- File format

TEST_F(IniFileTest, SaveWritesBlankBeforeLiveLinesAndCrLfEnds) {
  Record commented = key("s", "old", "1");
  commented.Commented = ';';
  Record withComments = key("s", "b", "2");
  withComments.Comments = "# one\n# two\n";
  ASSERT_TRUE(CIniFile::Save(path, {header("s"), key("s", "a", "x=y"), commented, withComments}));
  EXPECT_EQ(readBytes(path), " [s]\r\n a=x=y\r\n;old=1\r\n# one\r\n# two\r\n b=2\r\n");
}

TEST_F(IniFileTest, EmptyListAndCreateGiveAZeroByteFile) {
  writeBytes(path, " [s]\r\n a=1\r\n");
  ASSERT_TRUE(CIniFile::Create(path));
  EXPECT_TRUE(std::filesystem::exists(path));
  EXPECT_EQ(readBytes(path), "");
  EXPECT_TRUE(load().empty());
}

TEST_F(IniFileTest, SavedFileLoadsAndSavesBackIdentically) {
  const std::string original = "; top\r\n [s]\r\n k=v\r\n#c=1\r\n [t x]\r\n k2= v2 \r\n";
  writeBytes(path, original);
  const std::vector<Record> content = load();
  ASSERT_EQ(content.size(), 5u);
  EXPECT_EQ(content[0].Comments, "; top\n");
  EXPECT_EQ(content[3].Section, "t x");
  ASSERT_TRUE(CIniFile::Save(path, content));
  // " v2 " loses its trailing blank: the whole line is trimmed before it is split.
  EXPECT_EQ(readBytes(path), "; top\r\n [s]\r\n k=v\r\n#c=1\r\n [t x]\r\n k2= v2\r\n");
}

// ---- Load rules

// Found by the fuzzer: a key that itself starts with a byte-order mark once the reader has
// dropped the file's own mark (or the blanks before it) must load back as that key.
TEST(IniTextTest, TextStartingWithAByteOrderMarkLoadsBackUnchanged) {
  for (const std::string text : {"\xEF\xBB\xBF\xEF\xBB\xBFkey=1\n", " \xEF\xBB\xBFkey=1\n"}) {
    const std::vector<Record> records = parseIniText(text);
    ASSERT_EQ(records.size(), 1u) << text;
    const std::string saved = iniText(records);
    const std::vector<Record> again = parseIniText(saved);
    ASSERT_EQ(again.size(), 1u) << saved;
    EXPECT_EQ(again[0].Key, records[0].Key) << text;
    EXPECT_EQ(iniText(again), saved);
  }
}

TEST_F(IniFileTest, LastLineWithoutLineEndIsReadLikeAnyOther) {
  writeBytes(path, "[s]\r\nk=v");
  const std::vector<Record> content = load();
  ASSERT_EQ(content.size(), 2u);
  EXPECT_EQ(content[1].Key, "k");
  EXPECT_EQ(content[1].Value, "v");
  // A change elsewhere keeps it, now with its line end.
  ASSERT_TRUE(CIniFile::SetValue("j", "w", "s", path));
  EXPECT_EQ(readBytes(path), " [s]\r\n j=w\r\n k=v\r\n");
}

TEST_F(IniFileTest, AcceptsLfOnlyLineEndsAndSurroundingWhiteSpace) {
  writeBytes(path, "  [s]  \n\tk=v\t\n");
  const std::vector<Record> content = load();
  ASSERT_EQ(content.size(), 2u);
  EXPECT_EQ(content[1].Key, "k");
  EXPECT_EQ(content[1].Value, "v");
  EXPECT_EQ(content[1].Section, "s");
  EXPECT_EQ(content[1].Commented, ' ');
}

TEST_F(IniFileTest, BlanksAroundEqualsStayAndOnlyTheFirstEqualsSplits) {
  writeBytes(path, "[s]\r\nk = v\r\nurl=a=b\r\n");
  const std::vector<Record> content = load();
  ASSERT_EQ(content.size(), 3u);
  EXPECT_EQ(content[1].Key, "k ");
  EXPECT_EQ(content[1].Value, " v");
  EXPECT_EQ(CIniFile::GetValue("k", "s", path), "");
  EXPECT_EQ(CIniFile::GetValue("k ", "s", path), " v");
  EXPECT_EQ(CIniFile::GetValue("url", "s", path), "a=b");
}

TEST_F(IniFileTest, CommentedKeyIsFoundAndStaysCommentedWhenSet) {
  writeBytes(path, "[s]\r\n;k=v\r\n");
  const std::vector<Record> content = load();
  ASSERT_EQ(content.size(), 2u);
  EXPECT_EQ(content[1].Commented, ';');
  EXPECT_EQ(content[1].Key, "k");
  EXPECT_EQ(CIniFile::GetValue("k", "s", path), "v");
  EXPECT_TRUE(CIniFile::RecordExists("k", "s", path));
  ASSERT_TRUE(CIniFile::SetValue("k", "new", "s", path));
  EXPECT_EQ(readBytes(path), " [s]\r\n;k=new\r\n");
}

TEST_F(IniFileTest, CommentLinesAttachToTheNextRecordAndTrailingOnesVanish) {
  writeBytes(path, "[s]\r\n\r\n# about k\r\nk=v\r\n\r\n# orphan\r\n");
  const std::vector<Record> content = load();
  ASSERT_EQ(content.size(), 2u);
  EXPECT_EQ(content[1].Comments, "# about k\n");
  ASSERT_TRUE(CIniFile::Save(path, content));
  EXPECT_EQ(readBytes(path), " [s]\r\n# about k\r\n k=v\r\n");
}

TEST_F(IniFileTest, HeaderDropsTextAfterBracketAndKeepsInnerBlanks) {
  writeBytes(path, "[ my section ] trailing\r\nk=v\r\n");
  EXPECT_EQ(CIniFile::GetSectionNames(path), std::vector<std::string>{" my section "});
  EXPECT_EQ(CIniFile::GetValue("k", " my section ", path), "v");
}

TEST_F(IniFileTest, KeysAboveTheFirstHeaderBelongToTheEmptySection) {
  writeBytes(path, "top=1\r\n[s]\r\nk=v\r\n");
  EXPECT_EQ(CIniFile::GetValue("top", "", path), "1");
  EXPECT_TRUE(CIniFile::SectionExists("", path));
}

TEST_F(IniFileTest, LineWithNeitherBracketNorEqualsStaysATextLineWhereItStands) {
  writeBytes(path, "[s]\r\njunk\r\nk=v\r\nnote]x\r\n j=1\r\n");
  ASSERT_TRUE(CIniFile::SetValue("k", "w", "s", path));
  EXPECT_EQ(readBytes(path), " [s]\r\njunk\r\n k=w\r\nnote]x\r\n j=1\r\n");
  EXPECT_EQ(CIniFile::GetSectionNames(path), std::vector<std::string>{"s"});
  EXPECT_EQ(CIniFile::GetValue("k", "s", path), "w");
  EXPECT_EQ(CIniFile::GetValue("j", "s", path), "1");
}

TEST_F(IniFileTest, SetValueRefusesLineBreaksAndWritesNothing) {
  const std::string original = " [s]\r\n k=v\r\n";
  writeBytes(path, original);
  for (const char* breaking : {"\n", "\r", "a\r\nb"}) {
    const std::string text = std::string("fw") + breaking + " k=9";
    EXPECT_FALSE(CIniFile::SetValue("k", text, "s", path)) << text;
    EXPECT_FALSE(CIniFile::SetValue(text, "1", "s", path)) << text;
    EXPECT_FALSE(CIniFile::SetValue("k", "1", text, path)) << text;
  }
  EXPECT_EQ(readBytes(path), original);
  std::vector<Record> content{header("s")};
  EXPECT_FALSE(setValueIn(content, "k", "a\nb", "s"));
  EXPECT_EQ(content.size(), 1u);
}

// The old reader made any line holding "[" a header, which moved later keys out of their
// section. Only a line that begins with "[" is a header now.
TEST_F(IniFileTest, ValueWithBracketsStaysAKeyAndSurvivesARoundTrip) {
  writeBytes(path, " [appSettings]\r\n FirmwareFile=fw[2].txt\r\n LEDBrightness=7\r\n");
  EXPECT_EQ(CIniFile::GetValue("FirmwareFile", "appSettings", path), "fw[2].txt");
  EXPECT_EQ(CIniFile::GetValue("LEDBrightness", "appSettings", path), "7");
  EXPECT_EQ(CIniFile::GetSectionNames(path), std::vector<std::string>{"appSettings"});

  ASSERT_TRUE(CIniFile::SetValue("FirmwareFile", "image[v3.1].txt", "appSettings", path));
  ASSERT_TRUE(CIniFile::SetValue("LEDBrightness", "4", "appSettings", path));
  EXPECT_EQ(readBytes(path),
            " [appSettings]\r\n FirmwareFile=image[v3.1].txt\r\n LEDBrightness=4\r\n");
  EXPECT_EQ(CIniFile::GetSection("appSettings", path).size(), 2u);
}

TEST_F(IniFileTest, ValueWithOpeningBracketOnlyIsNotAnError) {
  writeBytes(path, "[s]\r\nk=a[b\r\n");
  EXPECT_EQ(CIniFile::GetValue("k", "s", path), "a[b");
}

TEST_F(IniFileTest, CommentMentioningBracketsStaysAComment) {
  writeBytes(path, "[s]\r\n# see fw[2] notes\r\nk=v\r\n");
  const std::vector<Record> content = load();
  ASSERT_EQ(content.size(), 2u);
  EXPECT_EQ(content[1].Comments, "# see fw[2] notes\n");
  EXPECT_EQ(content[1].Key, "k");
}

TEST_F(IniFileTest, CommentedHeaderIsAHeader) {
  writeBytes(path, "#[old]\r\n#k=1\r\n");
  const std::vector<Record> content = load();
  ASSERT_EQ(content.size(), 2u);
  EXPECT_EQ(content[0].Commented, '#');
  EXPECT_EQ(content[0].Section, "old");
  EXPECT_EQ(content[1].Section, "old");
  EXPECT_EQ(content[1].Commented, '#');
}

TEST_F(IniFileTest, HeaderWithoutClosingBracketRaisesOutOfRangeAndChangesNothing) {
  const std::string bytes = " [s]\r\n k=v\r\n [broken\r\n";
  writeBytes(path, bytes);
  std::vector<Record> content{header("kept")};
  try {
    CIniFile::Load(path, content);
    FAIL() << "no error raised";
  } catch (const std::out_of_range& error) {
    EXPECT_NE(std::string(error.what()).find("line 3"), std::string::npos) << error.what();
  }
  EXPECT_EQ(content.size(), 1u);
  EXPECT_THROW(CIniFile::GetValue("k", "s", path), std::out_of_range);
  EXPECT_THROW(CIniFile::SetValue("k", "w", "s", path), std::out_of_range);
  EXPECT_THROW(CIniFile::SectionExists("s", path), std::out_of_range);
  EXPECT_EQ(readBytes(path), bytes);
  // "]" as the very first character does not close anything either.
  writeBytes(path, "#]\r\n[]x\r\n");
  EXPECT_NO_THROW(CIniFile::GetSections(path));
  writeBytes(path, "[\r\n");
  EXPECT_THROW(CIniFile::GetSections(path), std::out_of_range);
}

TEST_F(IniFileTest, MissingFileFailsEverythingAndIsNotCreated) {
  std::vector<Record> content{header("kept")};
  EXPECT_FALSE(CIniFile::Load(path, content));
  EXPECT_EQ(content.size(), 1u);
  EXPECT_FALSE(CIniFile::SetValue("k", "v", "s", path));
  EXPECT_FALSE(CIniFile::AddSection("s", path));
  EXPECT_FALSE(CIniFile::RenameSection("s", "t", path));
  EXPECT_FALSE(CIniFile::DeleteSection("s", path));
  EXPECT_FALSE(CIniFile::Sort(path, false));
  EXPECT_EQ(CIniFile::GetValue("k", "s", path), "");
  EXPECT_EQ(CIniFile::Content(path), "");
  EXPECT_TRUE(CIniFile::GetSections(path).empty());
  EXPECT_FALSE(std::filesystem::exists(path));
  ASSERT_TRUE(CIniFile::Create(path));
  EXPECT_TRUE(CIniFile::SetValue("k", "v", "s", path));
  EXPECT_EQ(readBytes(path), " [s]\r\n k=v\r\n");
}

TEST_F(IniFileTest, FolderIsNotReadAsAFile) {
  std::vector<Record> content;
  EXPECT_FALSE(CIniFile::Load(dir.path().string(), content));
}

// ---- Changes

TEST_F(IniFileTest, SetValueAppendsNewSectionAndInsertsNewKeysAfterTheHeader) {
  writeBytes(path, " [a]\r\n x=1\r\n");
  ASSERT_TRUE(CIniFile::SetValue("first", "1", "b", path));
  EXPECT_EQ(readBytes(path), " [a]\r\n x=1\r\n [b]\r\n first=1\r\n");
  ASSERT_TRUE(CIniFile::SetValue("second", "2", "b", path));
  EXPECT_EQ(readBytes(path), " [a]\r\n x=1\r\n [b]\r\n second=2\r\n first=1\r\n");
  ASSERT_TRUE(CIniFile::SetValue("first", "one", "b", path));
  EXPECT_EQ(readBytes(path), " [a]\r\n x=1\r\n [b]\r\n second=2\r\n first=one\r\n");
}

TEST_F(IniFileTest, AddSectionTwiceGivesTwoHeadersAndSetValueUsesTheFirst) {
  ASSERT_TRUE(CIniFile::Create(path));
  ASSERT_TRUE(CIniFile::AddSection("s", path));
  ASSERT_TRUE(CIniFile::AddSection("s", path));
  EXPECT_TRUE(CIniFile::SectionExists("s", path));
  ASSERT_TRUE(CIniFile::SetValue("k", "v", "s", path));
  EXPECT_EQ(readBytes(path), " [s]\r\n k=v\r\n [s]\r\n");
}

TEST_F(IniFileTest, ContentShowsCommentCharactersAndNoLeadingBlanks) {
  writeBytes(path, "# note\r\n[s]\r\n;k=v\r\nj=w\r\n");
  EXPECT_EQ(CIniFile::Content(path), "# note\n[s]\n;k=v\nj=w");
}

TEST_F(IniFileTest, SectionQueriesListHeadersAndKeysInFileOrder) {
  writeBytes(path, "[b]\r\nk1=1\r\n[a]\r\nk2=2\r\n#[c]\r\n[b]\r\nk3=3\r\n");
  EXPECT_EQ(CIniFile::GetSectionNames(path), (std::vector<std::string>{"b", "a", "c", "b"}));
  const std::vector<Record> keys = CIniFile::GetSection("b", path);
  ASSERT_EQ(keys.size(), 2u);
  EXPECT_EQ(keys[0].Key, "k1");
  EXPECT_EQ(keys[1].Key, "k3");
  EXPECT_EQ(CIniFile::GetRecord("k2", "a", path).size(), 1u);
  EXPECT_TRUE(CIniFile::GetRecord("k2", "b", path).empty());
}

TEST_F(IniFileTest, CommentAndUncommentRecordsAndSections) {
  writeBytes(path, " [s]\r\n a=1\r\n b=2\r\n [t]\r\n c=3\r\n");
  EXPECT_TRUE(CIniFile::CommentRecord(CIniFile::Pound, "b", "s", path));
  EXPECT_EQ(readBytes(path), " [s]\r\n a=1\r\n#b=2\r\n [t]\r\n c=3\r\n");
  EXPECT_TRUE(CIniFile::UnCommentRecord("b", "s", path));
  EXPECT_TRUE(CIniFile::CommentSection(';', "t", path));
  EXPECT_EQ(readBytes(path), " [s]\r\n a=1\r\n b=2\r\n;[t]\r\n;c=3\r\n");
  EXPECT_TRUE(CIniFile::UnCommentSection("t", path));
  EXPECT_EQ(readBytes(path), " [s]\r\n a=1\r\n b=2\r\n [t]\r\n c=3\r\n");
  const std::string before = readBytes(path);
  EXPECT_FALSE(CIniFile::CommentRecord(CIniFile::SemiColon, "zz", "s", path));
  EXPECT_FALSE(CIniFile::UnCommentRecord("c", "s", path));
  EXPECT_EQ(readBytes(path), before);
}

TEST_F(IniFileTest, DeleteRecordTakesItsCommentsAndDeleteSectionTakesEverything) {
  writeBytes(path, " [s]\r\n# about a\r\n a=1\r\n b=2\r\n [t]\r\n c=3\r\n");
  EXPECT_TRUE(CIniFile::DeleteRecord("a", "s", path));
  EXPECT_EQ(readBytes(path), " [s]\r\n b=2\r\n [t]\r\n c=3\r\n");
  EXPECT_FALSE(CIniFile::DeleteRecord("a", "s", path));
  EXPECT_TRUE(CIniFile::DeleteSection("s", path));
  EXPECT_EQ(readBytes(path), " [t]\r\n c=3\r\n");
}

TEST_F(IniFileTest, RenameSectionMovesHeaderAndKeys) {
  writeBytes(path, " [s]\r\n a=1\r\n");
  EXPECT_TRUE(CIniFile::RenameSection("s", "n", path));
  EXPECT_EQ(CIniFile::GetValue("a", "n", path), "1");
  EXPECT_FALSE(CIniFile::SectionExists("s", path));
}

TEST_F(IniFileTest, SetCommentsCompletesTheLastLineAndReportsMissingTargets) {
  writeBytes(path, " [s]\r\n a=1\r\n");
  EXPECT_TRUE(CIniFile::SetSectionComments("# head", "s", path));
  EXPECT_TRUE(CIniFile::SetRecordComments("; one\n; two\n", "a", "s", path));
  EXPECT_EQ(readBytes(path), "# head\r\n [s]\r\n; one\r\n; two\r\n a=1\r\n");
  EXPECT_FALSE(CIniFile::SetSectionComments("# x", "none", path));
  EXPECT_FALSE(CIniFile::SetRecordComments("# x", "b", "s", path));
  // A key record is not a header, even though its Section matches.
  writeBytes(path, "k=v\r\n");
  EXPECT_FALSE(CIniFile::SetSectionComments("# x", "", path));
}

TEST_F(IniFileTest, SortOrdersSectionsAndKeysAndDropsKeysWithoutHeader) {
  writeBytes(path, "orphan=1\r\n[b]\r\ny=1\r\nx=2\r\n[a]\r\nk=3\r\n");
  ASSERT_TRUE(CIniFile::Sort(path, false));
  EXPECT_EQ(readBytes(path), " [a]\r\n k=3\r\n [b]\r\n x=2\r\n y=1\r\n");
  ASSERT_TRUE(CIniFile::Sort(path, true));
  EXPECT_EQ(readBytes(path), " [b]\r\n y=1\r\n x=2\r\n [a]\r\n k=3\r\n");
  writeBytes(path, "k=v\r\n");
  EXPECT_FALSE(CIniFile::Sort(path, false));
  EXPECT_EQ(readBytes(path), "k=v\r\n");
}

TEST(IniTrim, TrimsTheRequestedEnds) {
  std::string s = " \tab c\r\n";
  Trim(s);
  EXPECT_EQ(s, "ab c");
  s = "xxabxx";
  Trim(s, "x", kTrimStart);
  EXPECT_EQ(s, "abxx");
  s = "xxabxx";
  Trim(s, "x", kTrimEnd);
  EXPECT_EQ(s, "xxab");
  s = "xxxx";
  Trim(s, "x", kTrimStart);
  EXPECT_EQ(s, "");
  s = "";
  Trim(s);
  EXPECT_EQ(s, "");
}

// ---- Atomic save

TEST_F(IniFileTest, FailedWriteReturnsFalseAndKeepsTheOldFile) {
  using faults::FileSizeLimit;
  if (!FileSizeLimit::supported()) GTEST_SKIP() << FileSizeLimit::unsupportedReason();
  const std::string original = " [appSettings]\r\n LEDBrightness=7\r\n KeypadLayout=1\r\n";
  writeBytes(path, original);
  std::vector<Record> big{header("appSettings")};
  for (int i = 0; i < 200; ++i) big.push_back(key("appSettings", "Key" + std::to_string(i), "x"));
  bool saved = true;
  {
    FileSizeLimit limit(16);
    saved = CIniFile::Save(path, big);
  }
  EXPECT_FALSE(saved);
  EXPECT_EQ(readBytes(path), original);
  EXPECT_EQ(entryCount(dir.path()), 1) << "temporary file left behind";
  // The same failure through a changing operation.
  {
    FileSizeLimit limit(8);
    saved = CIniFile::SetValue("FirmwareFile", "a-long-firmware-name.txt", "appSettings", path);
  }
  EXPECT_FALSE(saved);
  EXPECT_EQ(readBytes(path), original);
}

TEST_F(IniFileTest, SaveFailsWhenTheTargetCannotBeReplaced) {
  const std::filesystem::path folderTarget = dir.path() / "folder.ini";
  std::filesystem::create_directories(folderTarget / "inner");
  EXPECT_FALSE(CIniFile::Save(folderTarget.string(), {header("s")}));
  EXPECT_TRUE(std::filesystem::is_directory(folderTarget / "inner"));
  EXPECT_EQ(entryCount(dir.path()), 1);
  EXPECT_FALSE(CIniFile::Save(dir.file("no-such-folder/x.ini"), {header("s")}));
  EXPECT_FALSE(CIniFile::Save("", {header("s")}));
}

TEST_F(IniFileTest, SaveThroughALinkReplacesTheLinkedFile) {
  writeBytes(path, " [s]\r\n");
  const std::string link = dir.file("link.ini");
  std::error_code made;
  std::filesystem::create_symlink(path, link, made);
  if (made) GTEST_SKIP() << "no symbolic link may be made here: " << made.message();
  ASSERT_TRUE(CIniFile::SetValue("k", "v", "s", link));
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(readBytes(path), " [s]\r\n k=v\r\n");
}

TEST_F(IniFileTest, SaveKeepsThePermissionsOfTheOldFile) {
  if (faults::kTestsOnWindows) {
    GTEST_SKIP() << "Windows keeps permissions as access lists, which the replace carries over; "
                    "its permission bits only say read-only (see atomic_file_win_test.cpp)";
  }
  writeBytes(path, " [s]\r\n");
  using std::filesystem::perms;
  std::filesystem::permissions(path, perms::owner_read | perms::owner_write);
  ASSERT_TRUE(CIniFile::SetValue("k", "v", "s", path));
  EXPECT_EQ(std::filesystem::status(path).permissions() & perms::all,
            perms::owner_read | perms::owner_write);
}

}  // namespace
}  // namespace talkgate::config
