#include "config/ini_file.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "config/atomic_file.h"

namespace talkgate::config {
namespace {

constexpr char kLineEnd[] = "\r\n";
constexpr char kLineSpace[] = " \t\n\r";
constexpr char kLive = ' ';

bool isCommentChar(char c) {
  return c == CIniFile::Pound || c == CIniFile::SemiColon;
}

// Comments are held with LF line ends; the file stores CR LF.
std::string withFileLineEnds(const std::string& text) {
  std::string out;
  out.reserve(text.size() + 8);
  for (char c : text) {
    if (c == '\n') {
      out += kLineEnd;
    } else {
      out += c;
    }
  }
  return out;
}

std::string recordText(const CIniFile::Record& rec) {
  if (rec.Key.empty()) return "[" + rec.Section + "]";
  return rec.Key + "=" + rec.Value;
}

template <typename Pred>
std::vector<CIniFile::Record>::iterator findFirst(std::vector<CIniFile::Record>& content,
                                                  Pred pred) {
  return std::find_if(content.begin(), content.end(), pred);
}

// Finds the first key record matching section and key, or end.
std::vector<CIniFile::Record>::iterator findRecord(std::vector<CIniFile::Record>& content,
                                                   const std::string& key,
                                                   const std::string& section) {
  return findFirst(content, CIniFile::RecordSectionKeyIs(section, key));
}

}  // namespace

void Trim(std::string& str, const std::string& ChrsToTrim, int TrimDir) {
  const std::size_t first = str.find_first_not_of(ChrsToTrim);
  if (first == std::string::npos) {
    str.clear();
    return;
  }
  if (TrimDir == kTrimBoth || TrimDir == kTrimEnd) {
    str.erase(str.find_last_not_of(ChrsToTrim) + 1);
  }
  if (TrimDir == kTrimBoth || TrimDir == kTrimStart) str.erase(0, first);
}

bool CIniFile::Load(std::string FileName, std::vector<Record>& content) {
  std::ifstream in(std::filesystem::path(FileName), std::ios::binary);
  if (!in.is_open()) return false;
  // Directories open on some platforms; they are not INI files.
  std::error_code ec;
  if (std::filesystem::is_directory(std::filesystem::path(FileName), ec)) return false;

  std::vector<Record> loaded;
  std::string comments;
  std::string currentSection;
  std::string line;
  std::size_t lineNumber = 0;

  // A last line without a line end is not read: getline then stops at the end of the file.
  while (std::getline(in, line) && !in.eof()) {
    ++lineNumber;
    Trim(line, kLineSpace, kTrimBoth);
    if (line.empty()) continue;

    Record rec;
    const std::string original = line;
    if (isCommentChar(line[0])) {
      if (line.find_first_of("[=") == std::string::npos) {
        comments += line + "\n";
        continue;  // a pure comment line; it waits for the next record
      }
      rec.Commented = line[0];
      line.erase(0, 1);
      Trim(line, kLineSpace, kTrimBoth);
    }

    // Only a line that begins with "[" is a header, so a value such as "fw[2].txt" stays a value.
    bool isRecord = false;
    if (!line.empty() && line[0] == '[') {
      const std::size_t close = line.find(']', 1);
      if (close == std::string::npos) {
        throw std::out_of_range("line " + std::to_string(lineNumber) + ": section header \"" +
                                original + "\" has no \"]\"");
      }
      line = line.substr(1, close - 1);
      rec.Comments = comments;
      comments.clear();
      rec.Section = line;
      currentSection = line;
      isRecord = true;
    }
    const std::size_t equals = line.find('=');
    if (equals != std::string::npos) {
      rec.Comments += comments;
      comments.clear();
      rec.Section = currentSection;
      rec.Key = line.substr(0, equals);
      rec.Value = line.substr(equals + 1);
      isRecord = true;
    }
    if (!isRecord && rec.Commented != kLive) {
      // A comment that merely mentions "[" or "=": keep it as a comment, not as an empty header.
      comments += original + "\n";
      continue;
    }
    if (comments.empty()) loaded.push_back(std::move(rec));
  }
  content = std::move(loaded);
  return true;
}

bool CIniFile::Save(std::string FileName, const std::vector<Record>& content) {
  std::string text;
  for (const Record& rec : content) {
    text += withFileLineEnds(rec.Comments);
    text += rec.Commented;
    text += recordText(rec);
    text += kLineEnd;
  }
  return writeFileAtomically(FileName, text);
}

bool CIniFile::Create(std::string FileName) {
  return Save(FileName, {});
}

std::string CIniFile::Content(std::string FileName) {
  std::vector<Record> content;
  if (!Load(FileName, content)) return "";
  std::string text;
  for (std::size_t i = 0; i < content.size(); ++i) {
    const Record& rec = content[i];
    if (i > 0) text += "\n";
    text += rec.Comments;
    if (rec.Commented != kLive) text += rec.Commented;
    text += recordText(rec);
  }
  return text;
}

std::vector<std::string> CIniFile::GetSectionNames(std::string FileName) {
  std::vector<std::string> names;
  for (const Record& rec : GetSections(FileName)) names.push_back(rec.Section);
  return names;
}

std::vector<CIniFile::Record> CIniFile::GetSections(std::string FileName) {
  std::vector<Record> content;
  std::vector<Record> sections;
  if (!Load(FileName, content)) return sections;
  for (const Record& rec : content) {
    if (rec.Key.empty()) sections.push_back(rec);
  }
  return sections;
}

std::vector<CIniFile::Record> CIniFile::GetSection(std::string SectionName, std::string FileName) {
  std::vector<Record> content;
  std::vector<Record> keys;
  if (!Load(FileName, content)) return keys;
  for (const Record& rec : content) {
    if (rec.Section == SectionName && !rec.Key.empty()) keys.push_back(rec);
  }
  return keys;
}

std::vector<CIniFile::Record> CIniFile::GetRecord(std::string KeyName, std::string SectionName,
                                                  std::string FileName) {
  std::vector<Record> content;
  std::vector<Record> found;
  if (!Load(FileName, content)) return found;
  const auto it = findRecord(content, KeyName, SectionName);
  if (it != content.end()) found.push_back(*it);
  return found;
}

std::string CIniFile::GetValue(std::string KeyName, std::string SectionName, std::string FileName) {
  const std::vector<Record> found = GetRecord(KeyName, SectionName, FileName);
  return found.empty() ? std::string() : found.front().Value;
}

bool CIniFile::RecordExists(std::string KeyName, std::string SectionName, std::string FileName) {
  return !GetRecord(KeyName, SectionName, FileName).empty();
}

bool CIniFile::SectionExists(std::string SectionName, std::string FileName) {
  std::vector<Record> content;
  if (!Load(FileName, content)) return false;
  return findFirst(content, RecordSectionIs(SectionName)) != content.end();
}

bool CIniFile::SetValue(std::string KeyName, std::string Value, std::string SectionName,
                        std::string FileName) {
  std::vector<Record> content;
  if (!Load(FileName, content)) return false;

  const auto sectionIt = findFirst(content, RecordSectionIs(SectionName));
  if (sectionIt == content.end()) {
    Record header;
    header.Section = SectionName;
    content.push_back(header);
    Record key;
    key.Section = SectionName;
    key.Key = KeyName;
    key.Value = Value;
    content.push_back(key);
  } else if (const auto it = findRecord(content, KeyName, SectionName); it == content.end()) {
    Record key;
    key.Section = SectionName;
    key.Key = KeyName;
    key.Value = Value;
    content.insert(sectionIt + 1, key);
  } else {
    it->Value = Value;
  }
  return Save(FileName, content);
}

bool CIniFile::AddSection(std::string SectionName, std::string FileName) {
  std::vector<Record> content;
  if (!Load(FileName, content)) return false;
  Record header;
  header.Section = SectionName;
  content.push_back(header);
  return Save(FileName, content);
}

bool CIniFile::RenameSection(std::string OldSectionName, std::string NewSectionName,
                             std::string FileName) {
  std::vector<Record> content;
  if (!Load(FileName, content)) return false;
  for (Record& rec : content) {
    if (rec.Section == OldSectionName) rec.Section = NewSectionName;
  }
  return Save(FileName, content);
}

bool CIniFile::CommentRecord(CommentChar cc, std::string KeyName, std::string SectionName,
                             std::string FileName) {
  std::vector<Record> content;
  if (!Load(FileName, content)) return false;
  const auto it = findRecord(content, KeyName, SectionName);
  if (it == content.end()) return false;
  it->Commented = static_cast<char>(cc);
  return Save(FileName, content);
}

bool CIniFile::UnCommentRecord(std::string KeyName, std::string SectionName, std::string FileName) {
  std::vector<Record> content;
  if (!Load(FileName, content)) return false;
  const auto it = findRecord(content, KeyName, SectionName);
  if (it == content.end()) return false;
  it->Commented = kLive;
  return Save(FileName, content);
}

bool CIniFile::CommentSection(char CommentChar, std::string SectionName, std::string FileName) {
  std::vector<Record> content;
  if (!Load(FileName, content)) return false;
  for (Record& rec : content) {
    if (rec.Section == SectionName) rec.Commented = CommentChar;
  }
  return Save(FileName, content);
}

bool CIniFile::UnCommentSection(std::string SectionName, std::string FileName) {
  return CommentSection(kLive, SectionName, FileName);
}

bool CIniFile::DeleteRecord(std::string KeyName, std::string SectionName, std::string FileName) {
  std::vector<Record> content;
  if (!Load(FileName, content)) return false;
  const auto it = findRecord(content, KeyName, SectionName);
  if (it == content.end()) return false;
  content.erase(it);
  return Save(FileName, content);
}

bool CIniFile::DeleteSection(std::string SectionName, std::string FileName) {
  std::vector<Record> content;
  if (!Load(FileName, content)) return false;
  std::erase_if(content, RecordSectionIs(SectionName));
  return Save(FileName, content);
}

namespace {

// Comments of two bytes or more get a final LF when they lack one.
std::string completeComments(std::string comments) {
  if (comments.size() >= 2 && comments.back() != '\n') comments += '\n';
  return comments;
}

}  // namespace

bool CIniFile::SetSectionComments(std::string Comments, std::string SectionName,
                                  std::string FileName) {
  std::vector<Record> content;
  if (!Load(FileName, content)) return false;
  const auto it = findFirst(
      content, [&](const Record& rec) { return rec.Key.empty() && rec.Section == SectionName; });
  if (it == content.end()) return false;
  it->Comments = completeComments(Comments);
  return Save(FileName, content);
}

bool CIniFile::SetRecordComments(std::string Comments, std::string KeyName, std::string SectionName,
                                 std::string FileName) {
  std::vector<Record> content;
  if (!Load(FileName, content)) return false;
  const auto it = findRecord(content, KeyName, SectionName);
  if (it == content.end()) return false;
  it->Comments = completeComments(Comments);
  return Save(FileName, content);
}

bool CIniFile::Sort(std::string FileName, bool Descending) {
  std::vector<Record> sections = GetSections(FileName);
  if (sections.empty()) return false;
  if (Descending) {
    std::sort(sections.begin(), sections.end(), DescendingSectionSort());
  } else {
    std::sort(sections.begin(), sections.end(), AscendingSectionSort());
  }
  std::vector<Record> sorted;
  for (const Record& header : sections) {
    sorted.push_back(header);
    std::vector<Record> keys = GetSection(header.Section, FileName);
    if (Descending) {
      std::sort(keys.begin(), keys.end(), DescendingRecordSort());
    } else {
      std::sort(keys.begin(), keys.end(), AscendingRecordSort());
    }
    sorted.insert(sorted.end(), keys.begin(), keys.end());
  }
  return Save(FileName, sorted);
}

}  // namespace talkgate::config
