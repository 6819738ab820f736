#pragma once
// CIniFile: a small, stateless INI file library. Every operation names the file, loads it whole
// into an ordered list of records, looks at or changes the list and, after a change, writes the
// whole file back (atomically). Nothing is cached and no file stays open between calls.
//
// File format: each record is written as its comment lines, then the comment character or a
// blank, then "[Section]" or "Key=Value", each line ended by CR LF. Reading accepts LF or CR LF,
// and a last line without a line end. A line that is neither a header nor a key is kept as a
// text line above the next record, like a comment. A UTF-8 byte-order mark at the start is
// skipped (and not written back). Load throws std::out_of_range ("line N: ...")
// for a section header line without "]".
//
// Changing operations hold the file's lock (file_lock.h) from their read to their write, and
// write through writeFileAtomically.

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace talkgate::config {

class CIniFile {
 public:
  // Comment characters; the value is the character's code.
  enum CommentChar : char { Pound = '#', SemiColon = ';' };

  // One meaningful line of the file with the comment lines that stood directly above it.
  struct Record {
    std::string Comments;  // complete comment lines, each followed by one LF
    char Commented = ' ';  // '#' or ';' when the record is commented out, else a blank
    std::string Section;   // header name, or the section a key belongs to
    std::string Key;       // empty for a section header
    std::string Value;     // text after the first "="
  };

  // True for a record of the given section (header or key).
  struct RecordSectionIs {
    std::string section;
    explicit RecordSectionIs(const std::string& sectionName) : section(sectionName) {}
    bool operator()(const Record& rec) const { return rec.Section == section; }
  };

  // True for the record with the given section and key.
  struct RecordSectionKeyIs {
    std::string section;
    std::string key;
    RecordSectionKeyIs(const std::string& sectionName, const std::string& keyName)
        : section(sectionName), key(keyName) {}
    bool operator()(const Record& rec) const { return rec.Section == section && rec.Key == key; }
  };

  // Orderings by section name or by key, byte by byte.
  struct AscendingSectionSort {
    bool operator()(const Record& a, const Record& b) const { return a.Section < b.Section; }
  };
  struct DescendingSectionSort {
    bool operator()(const Record& a, const Record& b) const { return b.Section < a.Section; }
  };
  struct AscendingRecordSort {
    bool operator()(const Record& a, const Record& b) const { return a.Key < b.Key; }
  };
  struct DescendingRecordSort {
    bool operator()(const Record& a, const Record& b) const { return b.Key < a.Key; }
  };

  virtual ~CIniFile() = default;

  // Reads the file into content; false (content untouched) when it cannot be opened.
  static bool Load(std::string FileName, std::vector<Record>& content);
  // Replaces the file with content; false when anything fails (the old file then stays intact).
  static bool Save(std::string FileName, const std::vector<Record>& content);
  // Under the file's lock: loads it, lets change alter the records and, when change returns
  // true, writes them back. False when the file cannot be locked, read or written (why in
  // *reason) or when change returned false (reason then empty). Throws what Load throws.
  static bool Update(std::string FileName, const std::function<bool(std::vector<Record>&)>& change,
                     std::string* reason = nullptr);
  // Creates the file empty, or empties an existing one.
  static bool Create(std::string FileName);
  // The records as one LF-separated text with comment characters shown; "" when unreadable.
  static std::string Content(std::string FileName);
  // Names of all section headers, in file order.
  static std::vector<std::string> GetSectionNames(std::string FileName);
  // All section header records, in file order.
  static std::vector<Record> GetSections(std::string FileName);
  // All key records of one section, in file order.
  static std::vector<Record> GetSection(std::string SectionName, std::string FileName);
  // The first matching key record in a one-element list, or an empty list.
  static std::vector<Record> GetRecord(std::string KeyName, std::string SectionName,
                                       std::string FileName);
  // The value of the first matching record, "" when there is none.
  static std::string GetValue(std::string KeyName, std::string SectionName, std::string FileName);
  // True when a record with that section and key exists (commented or not).
  static bool RecordExists(std::string KeyName, std::string SectionName, std::string FileName);
  // True when any record (header or key) belongs to that section.
  static bool SectionExists(std::string SectionName, std::string FileName);
  // Sets a value, adding the key directly after its section's first record, or appending the
  // section and key at the end. Never creates a missing file. False, writing nothing, when the
  // key, value or section holds CR or LF.
  static bool SetValue(std::string KeyName, std::string Value, std::string SectionName,
                       std::string FileName);
  // Appends a section header (no check for an existing one).
  static bool AddSection(std::string SectionName, std::string FileName);
  // Renames a section's header and keys.
  static bool RenameSection(std::string OldSectionName, std::string NewSectionName,
                            std::string FileName);
  // Comments out the first matching record with cc; false when not found.
  static bool CommentRecord(CommentChar cc, std::string KeyName, std::string SectionName,
                            std::string FileName);
  // Makes the first matching record live again; false when not found.
  static bool UnCommentRecord(std::string KeyName, std::string SectionName, std::string FileName);
  // Comments out every record of a section with the given character.
  static bool CommentSection(char CommentChar, std::string SectionName, std::string FileName);
  // Makes every record of a section live again.
  static bool UnCommentSection(std::string SectionName, std::string FileName);
  // Erases the first matching record and its comments; false when not found.
  static bool DeleteRecord(std::string KeyName, std::string SectionName, std::string FileName);
  // Erases every record of a section.
  static bool DeleteSection(std::string SectionName, std::string FileName);
  // Replaces the comments above a section header; false when the header is not found.
  static bool SetSectionComments(std::string Comments, std::string SectionName,
                                 std::string FileName);
  // Replaces the comments above a key record; false when not found.
  static bool SetRecordComments(std::string Comments, std::string KeyName, std::string SectionName,
                                std::string FileName);
  // Sorts sections by name and each section's keys; false when there is no section header.
  static bool Sort(std::string FileName, bool Descending);

 protected:
  CIniFile() = default;  // static operations only
};

// Larger files are not read as configuration files.
inline constexpr std::size_t kMaxIniFileBytes = 16 * 1024 * 1024;

// Replaces the file at path with INI text through writeFileAtomically, refusing text larger
// than kMaxIniFileBytes (the next read would refuse it).
bool writeIniText(const std::string& path, const std::string& text, std::string* reason = nullptr);

// The records of INI text, as Load reads them (a UTF-8 byte-order mark before the first line
// is skipped); throws as Load does.
std::vector<CIniFile::Record> parseIniText(std::string_view text);

// The text Save writes for the records.
std::string iniText(const std::vector<CIniFile::Record>& content);

// SetValue on records in memory. False, changing nothing, when key, value or section holds CR
// or LF.
bool setValueIn(std::vector<CIniFile::Record>& content, const std::string& key,
                const std::string& value, const std::string& section);

// Which ends Trim works on.
inline constexpr int kTrimBoth = 0;
inline constexpr int kTrimStart = 1;
inline constexpr int kTrimEnd = 2;

// Trims the characters of ChrsToTrim from str in place; a string of nothing but those
// characters becomes empty. TrimDir: 0 both ends, 1 the start only, 2 the end only.
void Trim(std::string& str, const std::string& ChrsToTrim = " \t\n\r", int TrimDir = kTrimBoth);

}  // namespace talkgate::config
