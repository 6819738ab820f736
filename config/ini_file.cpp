#include "config/ini_file.h"

#include <algorithm>
#include <stdexcept>

#include "config/atomic_file.h"
#include "config/file_lock.h"
#include "files/regular_file.h"

namespace talkgate::config {
namespace {

constexpr char kLineEnd[] = "\r\n";
constexpr char kLineSpace[] = " \t\n\r";
constexpr char kLive = ' ';
// The UTF-8 byte-order mark some editors put at the start of a text file.
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

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

bool holdsLineBreak(const std::string& text) {
  return text.find_first_of("\r\n") != std::string::npos;
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
  std::string bytes;
  std::string reason;
  if (!files::readRegularFile(FileName, kMaxIniFileBytes, bytes, reason)) return false;
  content = parseIniText(bytes);
  return true;
}

bool CIniFile::Save(std::string FileName, const std::vector<Record>& content) {
  return writeIniText(FileName, iniText(content));
}

bool writeIniText(const std::string& path, const std::string& text, std::string* reason) {
  WriteOptions options;
  options.maxBytes = kMaxIniFileBytes;
  return writeFileAtomically(path, text, reason, options);
}

bool CIniFile::Update(std::string FileName, const std::function<bool(std::vector<Record>&)>& change,
                      std::string* reason) {
  FileLock lock(FileName);
  if (!lock.locked()) {
    if (reason) *reason = lock.busyReason();
    return false;
  }
  std::string bytes;
  std::string why;
  if (!files::readRegularFile(FileName, kMaxIniFileBytes, bytes, why)) {
    if (reason) *reason = why;
    return false;
  }
  std::vector<Record> content = parseIniText(bytes);
  if (!change(content)) {
    if (reason) reason->clear();
    return false;
  }
  return writeIniText(FileName, iniText(content), reason);
}

std::vector<CIniFile::Record> parseIniText(std::string_view text) {
  std::vector<CIniFile::Record> loaded;
  std::string comments;
  std::string currentSection;
  std::size_t lineNumber = 0;
  // A mark written before the first line would otherwise hide the first header or key.
  if (text.substr(0, kByteOrderMark.size()) == kByteOrderMark)
    text.remove_prefix(kByteOrderMark.size());

  for (std::size_t at = 0; at < text.size();) {
    std::size_t end = text.find('\n', at);
    if (end == std::string_view::npos) end = text.size();  // a last line without a line end
    std::string line(text.substr(at, end - at));
    at = end + 1;
    ++lineNumber;
    Trim(line, kLineSpace, kTrimBoth);
    if (line.empty()) continue;

    CIniFile::Record rec;
    const std::string original = line;
    // A line that is neither header nor key (commented or not) is kept as a text line in the
    // comments of the next record, never read as a section.
    if (line.find_first_of("[=") == std::string::npos) {
      comments += line + "\n";
      continue;
    }
    if (isCommentChar(line[0])) {
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
    // A header stays a header whatever its name holds; a line starting with "=" names no key.
    const std::size_t equals = isRecord ? std::string::npos : line.find('=');
    if (equals != std::string::npos && equals > 0) {
      rec.Comments += comments;
      comments.clear();
      rec.Section = currentSection;
      rec.Key = line.substr(0, equals);
      rec.Value = line.substr(equals + 1);
      isRecord = true;
    }
    if (!isRecord) {
      // No header and no key name: a text line too, never an empty header.
      comments += original + "\n";
      continue;
    }
    loaded.push_back(std::move(rec));
  }
  return loaded;
}

std::string iniText(const std::vector<CIniFile::Record>& content) {
  std::string text;
  for (const CIniFile::Record& rec : content) {
    text += withFileLineEnds(rec.Comments);
    text += rec.Commented;
    text += recordText(rec);
    text += kLineEnd;
  }
  // The reader drops one mark at the start; text that itself begins with one keeps it that way.
  if (text.starts_with(kByteOrderMark)) text.insert(0, kByteOrderMark);
  return text;
}

bool setValueIn(std::vector<CIniFile::Record>& content, const std::string& key,
                const std::string& value, const std::string& section) {
  if (holdsLineBreak(key) || holdsLineBreak(value) || holdsLineBreak(section)) return false;
  const auto sectionIt = findFirst(content, CIniFile::RecordSectionIs(section));
  CIniFile::Record rec;
  rec.Section = section;
  rec.Key = key;
  rec.Value = value;
  if (sectionIt == content.end()) {
    CIniFile::Record header;
    header.Section = section;
    content.push_back(header);
    content.push_back(rec);
  } else if (const auto it = findRecord(content, key, section); it == content.end()) {
    content.insert(sectionIt + 1, rec);
  } else {
    it->Value = value;
  }
  return true;
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
  if (holdsLineBreak(KeyName) || holdsLineBreak(Value) || holdsLineBreak(SectionName)) {
    return false;  // it would add lines of its own to the file
  }
  return Update(FileName, [&](std::vector<Record>& content) {
    return setValueIn(content, KeyName, Value, SectionName);
  });
}

bool CIniFile::AddSection(std::string SectionName, std::string FileName) {
  return Update(FileName, [&](std::vector<Record>& content) {
    Record header;
    header.Section = SectionName;
    content.push_back(header);
    return true;
  });
}

bool CIniFile::RenameSection(std::string OldSectionName, std::string NewSectionName,
                             std::string FileName) {
  return Update(FileName, [&](std::vector<Record>& content) {
    for (Record& rec : content) {
      if (rec.Section == OldSectionName) rec.Section = NewSectionName;
    }
    return true;
  });
}

bool CIniFile::CommentRecord(CommentChar cc, std::string KeyName, std::string SectionName,
                             std::string FileName) {
  return Update(FileName, [&](std::vector<Record>& content) {
    const auto it = findRecord(content, KeyName, SectionName);
    if (it == content.end()) return false;
    it->Commented = static_cast<char>(cc);
    return true;
  });
}

bool CIniFile::UnCommentRecord(std::string KeyName, std::string SectionName, std::string FileName) {
  return Update(FileName, [&](std::vector<Record>& content) {
    const auto it = findRecord(content, KeyName, SectionName);
    if (it == content.end()) return false;
    it->Commented = kLive;
    return true;
  });
}

bool CIniFile::CommentSection(char CommentChar, std::string SectionName, std::string FileName) {
  return Update(FileName, [&](std::vector<Record>& content) {
    for (Record& rec : content) {
      if (rec.Section == SectionName) rec.Commented = CommentChar;
    }
    return true;
  });
}

bool CIniFile::UnCommentSection(std::string SectionName, std::string FileName) {
  return CommentSection(kLive, SectionName, FileName);
}

bool CIniFile::DeleteRecord(std::string KeyName, std::string SectionName, std::string FileName) {
  return Update(FileName, [&](std::vector<Record>& content) {
    const auto it = findRecord(content, KeyName, SectionName);
    if (it == content.end()) return false;
    content.erase(it);
    return true;
  });
}

bool CIniFile::DeleteSection(std::string SectionName, std::string FileName) {
  return Update(FileName, [&](std::vector<Record>& content) {
    std::erase_if(content, RecordSectionIs(SectionName));
    return true;
  });
}

namespace {

// Comments of two bytes or more get a final LF when they lack one.
std::string completeComments(std::string comments) {
  if (comments.size() >= 2 && comments.back() != '\n') comments += '\n';
  return comments;
}

template <typename Compare>
void sortBy(std::vector<CIniFile::Record>& records, Compare compare) {
  std::sort(records.begin(), records.end(), compare);
}

}  // namespace

bool CIniFile::SetSectionComments(std::string Comments, std::string SectionName,
                                  std::string FileName) {
  return Update(FileName, [&](std::vector<Record>& content) {
    const auto it = findFirst(
        content, [&](const Record& rec) { return rec.Key.empty() && rec.Section == SectionName; });
    if (it == content.end()) return false;
    it->Comments = completeComments(Comments);
    return true;
  });
}

bool CIniFile::SetRecordComments(std::string Comments, std::string KeyName, std::string SectionName,
                                 std::string FileName) {
  return Update(FileName, [&](std::vector<Record>& content) {
    const auto it = findRecord(content, KeyName, SectionName);
    if (it == content.end()) return false;
    it->Comments = completeComments(Comments);
    return true;
  });
}

bool CIniFile::Sort(std::string FileName, bool Descending) {
  return Update(FileName, [&](std::vector<Record>& content) {
    std::vector<Record> sections;
    for (const Record& rec : content) {
      if (rec.Key.empty()) sections.push_back(rec);
    }
    if (sections.empty()) return false;
    if (Descending) {
      sortBy(sections, DescendingSectionSort());
    } else {
      sortBy(sections, AscendingSectionSort());
    }
    std::vector<Record> sorted;
    for (const Record& header : sections) {
      sorted.push_back(header);
      std::vector<Record> keys;
      for (const Record& rec : content) {
        if (rec.Section == header.Section && !rec.Key.empty()) keys.push_back(rec);
      }
      if (Descending) {
        sortBy(keys, DescendingRecordSort());
      } else {
        sortBy(keys, AscendingRecordSort());
      }
      sorted.insert(sorted.end(), keys.begin(), keys.end());
    }
    content = std::move(sorted);
    return true;
  });
}

}  // namespace talkgate::config
