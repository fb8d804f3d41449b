#include "foundation/settings_store.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "foundation/text.h"
#include "platform/atomic_file.h"

namespace lapora {

namespace {

enum class LineKind { kOther, kSection, kKey };

// One line of the file: [begin, textEnd) is its text, [textEnd, end) its line end.
struct IniLine {
  size_t begin = 0;
  size_t textEnd = 0;
  size_t end = 0;
  LineKind kind = LineKind::kOther;
  std::string_view name;   // section or key name, trimmed
  std::string_view value;  // key value, trimmed
  size_t nameEnd = 0;      // offset in the file just after the key name
  bool blank = true;
};

std::vector<IniLine> SplitLines(std::string_view content) {
  std::vector<IniLine> lines;
  size_t pos = 0;
  while (pos < content.size()) {
    IniLine line;
    line.begin = pos;
    size_t newline = content.find('\n', pos);
    line.end = newline == std::string_view::npos ? content.size() : newline + 1;
    line.textEnd = newline == std::string_view::npos ? content.size() : newline;
    if (line.textEnd > line.begin && content[line.textEnd - 1] == '\r') {
      --line.textEnd;
    }
    size_t textBegin = line.begin;
    if (textBegin == 0 && content.substr(0, 3) == "\xEF\xBB\xBF") {
      textBegin = 3;  // a byte-order mark left by an editor
    }
    std::string_view text =
        content.substr(textBegin, line.textEnd > textBegin ? line.textEnd - textBegin : 0);
    std::string_view trimmed = TrimBlanks(text);
    line.blank = trimmed.empty();
    if (!trimmed.empty() && trimmed[0] == '[') {
      line.kind = LineKind::kSection;
      std::string_view inner = trimmed.substr(1);
      size_t close = inner.find(']');
      line.name = TrimBlanks(close == std::string_view::npos ? inner : inner.substr(0, close));
    } else if (!trimmed.empty() && trimmed[0] != ';') {
      size_t equals = text.find('=');
      if (equals != std::string_view::npos) {
        line.kind = LineKind::kKey;
        line.name = TrimBlanks(text.substr(0, equals));
        line.value = TrimBlanks(text.substr(equals + 1));
        line.nameEnd = static_cast<size_t>(line.name.data() - content.data()) + line.name.size();
      }
    }
    lines.push_back(line);
    pos = line.end;
  }
  return lines;
}

std::string LineEndOf(std::string_view content) {
  size_t newline = content.find('\n');
  if (newline != std::string_view::npos && (newline == 0 || content[newline - 1] != '\r')) {
    return "\n";
  }
  return "\r\n";
}

// What ends the text's last line when the file stops without a line feed: a lone carriage
// return there already reads as the line's end (it is not part of the value), so only the
// line feed is missing; otherwise the whole line end.
std::string MissingLineEnd(std::string_view text, const std::string& lineEnd) {
  if (text.empty() || text.back() == '\n') {
    return {};
  }
  return text.back() == '\r' ? "\n" : lineEnd;
}

bool HasLineBreak(std::string_view text) {
  return text.find_first_of("\r\n") != std::string_view::npos;
}

int LeadingInteger(std::string_view value) {
  std::string text(value);
  long number = std::strtol(text.c_str(), nullptr, 10);
  if (number > INT_MAX) {
    return INT_MAX;
  }
  if (number < INT_MIN) {
    return INT_MIN;
  }
  return static_cast<int>(number);
}

}  // namespace

bool FindIniValue(std::string_view content, std::string_view section, std::string_view key,
                  std::string* value) {
  bool inSection = false;
  for (const IniLine& line : SplitLines(content)) {
    if (line.kind == LineKind::kSection) {
      inSection = EqualsNoCase(line.name, section);
    } else if (inSection && line.kind == LineKind::kKey && EqualsNoCase(line.name, key)) {
      *value = std::string(line.value);
      return true;
    }
  }
  return false;
}

std::string SetIniValue(std::string_view content, std::string_view section, std::string_view key,
                        std::string_view value) {
  std::vector<IniLine> lines = SplitLines(content);
  const std::string lineEnd = LineEndOf(content);
  bool inSection = false;
  bool firstSectionOpen = false;
  size_t insertAfter = SIZE_MAX;  // last non-blank line of the first matching section
  for (size_t i = 0; i < lines.size(); ++i) {
    const IniLine& line = lines[i];
    if (line.kind == LineKind::kSection) {
      inSection = EqualsNoCase(line.name, section);
      firstSectionOpen = inSection && insertAfter == SIZE_MAX;
      if (firstSectionOpen) {
        insertAfter = i;
      }
      continue;
    }
    if (!inSection) {
      continue;
    }
    if (line.kind == LineKind::kKey && EqualsNoCase(line.name, key)) {
      // Keep the line's own spelling of the key and its line end.
      std::string result(content.substr(0, line.nameEnd));
      result += '=';
      result += value;
      result += content.substr(line.textEnd);
      return result;
    }
    if (firstSectionOpen && !line.blank) {
      insertAfter = i;
    }
  }

  std::string entry = std::string(key) + "=" + std::string(value) + lineEnd;
  if (insertAfter != SIZE_MAX) {
    const IniLine& after = lines[insertAfter];
    std::string result(content.substr(0, after.end));
    result += MissingLineEnd(result, lineEnd);
    result += entry;
    result += content.substr(after.end);
    return result;
  }
  std::string result(content);
  result += MissingLineEnd(result, lineEnd);
  result += '[';
  result += section;
  result += ']';
  result += lineEnd;
  result += entry;
  return result;
}

void SettingsStore::SetSettingsFile(const std::string& path) {
  std::lock_guard lock(m_fileMutex);
  if (!m_path.empty() && m_path != path) {
    FlushLocked();
  }
  m_path = path;
}

std::string SettingsStore::SettingsFile() const {
  std::lock_guard lock(m_fileMutex);
  return m_path;
}

bool SettingsStore::ReadRaw(std::string_view section, std::string_view key,
                            std::string* value) const {
  std::lock_guard lock(m_fileMutex);
  if (m_path.empty()) {
    return false;
  }
  std::string content;
  if (ReadWholeFile(m_path, &content) != ReadFileResult::kRead) {
    return false;  // missing or unreadable: every read yields its default
  }
  return FindIniValue(content, section, key, value);
}

std::string SettingsStore::ReadSettingsFileText() const {
  std::lock_guard lock(m_fileMutex);
  std::string content;
  if (m_path.empty() || ReadWholeFile(m_path, &content) != ReadFileResult::kRead) {
    content.clear();
  }
  return content;
}

int SettingsStore::ReadSettingInt(std::string_view section, std::string_view key,
                                  int defaultValue) const {
  std::string value;
  if (!ReadRaw(section, key, &value) || value.empty()) {
    return defaultValue;
  }
  return LeadingInteger(value);
}

bool SettingsStore::ReadSettingBool(std::string_view section, std::string_view key,
                                    bool defaultValue) const {
  return ReadSettingInt(section, key, defaultValue ? 1 : 0) != 0;
}

std::string SettingsStore::ReadSettingText(std::string_view section, std::string_view key,
                                           std::string_view defaultValue) const {
  std::string value;
  if (!ReadRaw(section, key, &value)) {
    value = std::string(defaultValue);
  }
  if (value.size() > kMaxText) {
    value.resize(kMaxText);
  }
  return value;
}

SettingsRect SettingsStore::ReadSettingRect(std::string_view section, std::string_view key) const {
  std::string text = ReadSettingText(section, key, "");
  SettingsRect rect;
  if (!text.empty()) {
    int left = 0, top = 0, right = 0, bottom = 0;
    if (std::sscanf(text.c_str(), "[%d,%d,%d,%d]", &left, &top, &right, &bottom) == 4) {
      rect = {left, top, right, bottom};
    }
  }
  return rect;
}

bool SettingsStore::WriteRaw(std::string_view section, std::string_view key,
                             std::string_view value) {
  if (HasLineBreak(section) || section.find(']') != std::string_view::npos || HasLineBreak(key) ||
      key.find('=') != std::string_view::npos || TrimBlanks(key).empty() || HasLineBreak(value)) {
    return false;
  }
  // Names are read back trimmed, and a line starting with ";" or "[" is a comment or a
  // section: such a name would be written again and again and never found.
  if (TrimBlanks(section) != section || TrimBlanks(key) != key || key.front() == ';' ||
      key.front() == '[') {
    return false;
  }
  std::lock_guard lock(m_fileMutex);
  if (m_path.empty()) {
    return false;
  }
  std::string content;
  ReadFileResult read = ReadWholeFile(m_path, &content);
  if (read == ReadFileResult::kFailed) {
    return false;  // never replace a file we could not read: its settings would be lost
  }
  std::string updated = SetIniValue(content, section, key, value);
  if (read == ReadFileResult::kRead && updated == content) {
    return true;
  }
  return WriteFileAtomically(m_path, updated);
}

bool SettingsStore::WriteSettingInt(std::string_view section, std::string_view key, int value) {
  return WriteRaw(section, key, std::to_string(value));
}

bool SettingsStore::WriteSettingBool(std::string_view section, std::string_view key, bool value) {
  return WriteRaw(section, key, value ? "1" : "0");
}

bool SettingsStore::WriteSettingText(std::string_view section, std::string_view key,
                                     std::string_view text) {
  return WriteRaw(section, key, text);
}

bool SettingsStore::WriteSettingRect(std::string_view section, std::string_view key,
                                     const SettingsRect& rect) {
  return WriteRaw(section, key,
                  StrF("[%d,%d,%d,%d]", rect.left, rect.top, rect.right, rect.bottom));
}

void SettingsStore::FlushSettings() {
  std::lock_guard lock(m_fileMutex);
  FlushLocked();
}

void SettingsStore::FlushLocked() {
  if (!m_path.empty()) {
    SyncParentFolder(m_path);
  }
}

}  // namespace lapora
