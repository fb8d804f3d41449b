// The settings file (Lapora.ini): sections "[Name]" of "key=value" lines, names matched
// without regard to ASCII case. There is no in-memory copy: every read reads the file, every
// write rewrites it at once, keeping every other line byte for byte, through a temporary file
// renamed over the old one, so a crash never leaves a truncated file. Thread-safe (one mutex
// serialises the read-modify-write of the file).
#pragma once

#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>

namespace lapora {

struct SettingsRect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
  bool operator==(const SettingsRect&) const = default;
};

class SettingsStore {
 public:
  // Longest text a read gives back (longer values are cut).
  static constexpr std::size_t kMaxText = 2047;

  SettingsStore() = default;
  explicit SettingsStore(std::string path) : m_path(std::move(path)) {}
  SettingsStore(const SettingsStore&) = delete;
  SettingsStore& operator=(const SettingsStore&) = delete;

  // Makes the path current; the file that was current before is flushed first.
  void SetSettingsFile(const std::string& path);
  std::string SettingsFile() const;

  // The value's leading decimal integer (blanks and sign allowed: "12abc" is 12, "abc" is 0);
  // the default when the key is missing or its value empty.
  int ReadSettingInt(std::string_view section, std::string_view key, int defaultValue) const;
  // An integer read with the default 0 or 1; any non-zero value is true.
  bool ReadSettingBool(std::string_view section, std::string_view key, bool defaultValue) const;
  // At most kMaxText characters; the default when the key is missing.
  std::string ReadSettingText(std::string_view section, std::string_view key,
                              std::string_view defaultValue) const;
  // "[left,top,right,bottom]"; all zeros unless all four numbers scan.
  SettingsRect ReadSettingRect(std::string_view section, std::string_view key) const;
  // The whole file as it stands (empty when missing or unreadable): a copy that another thread
  // reads with FindIniValue while this store goes on being written.
  std::string ReadSettingsFileText() const;

  // Each write goes to the file at once. Failures change nothing on disk and are not reported
  // to the operator; the result says whether the file now holds the value. Names holding a
  // line break, "=" (key) or "]" (section), and values holding a line break, are refused:
  // they would corrupt the file. So are names with blanks at either end and keys starting
  // with ";" or "[": they could not be read back.
  bool WriteSettingInt(std::string_view section, std::string_view key, int value);
  bool WriteSettingBool(std::string_view section, std::string_view key, bool value);
  bool WriteSettingText(std::string_view section, std::string_view key, std::string_view text);
  bool WriteSettingRect(std::string_view section, std::string_view key, const SettingsRect& rect);

  // Makes the writes already done durable (they are complete files already; this syncs the
  // folder that holds the current file).
  void FlushSettings();

 private:
  // The raw value (trimmed of blanks) or false when the key is missing.
  bool ReadRaw(std::string_view section, std::string_view key, std::string* value) const;
  bool WriteRaw(std::string_view section, std::string_view key, std::string_view value);
  void FlushLocked();

  mutable std::mutex m_fileMutex;  // guards m_path and the read-modify-write of the file
  std::string m_path;
};

// The new file text after setting section/key to value in content (exposed for tests).
// Keeps every other byte; a new key goes after the last non-blank line of its section, a new
// section at the end of the file; new lines take the line end of the file's first line
// (CR LF for a file without one).
std::string SetIniValue(std::string_view content, std::string_view section, std::string_view key,
                        std::string_view value);
// The value of section/key in content, trimmed of blanks; false when missing.
bool FindIniValue(std::string_view content, std::string_view section, std::string_view key,
                  std::string* value);

}  // namespace lapora
