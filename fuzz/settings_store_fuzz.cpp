// The settings file: the fuzz input is a request (section, key and value separated by 0x01,
// ended by the first zero byte) and the file's content. The file is written through the real
// store: every key it holds is read and written back as the program does at start-up, then the
// requested key is written. After each write the key reads back what was written, and every
// other key of the file still reads as before.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "foundation/settings_store.h"
#include "foundation/text.h"
#include "fuzz_support.h"

namespace {

using namespace lapora;
using namespace lapora::fuzz;

using Name = std::pair<std::string, std::string>;  // section, key

// The section and key names a content holds, by a plain reading of its lines.
std::vector<Name> NamesOf(std::string_view content) {
  std::vector<Name> names;
  std::string section;
  std::size_t start = 0;
  while (start < content.size() && names.size() < 16) {
    std::size_t end = content.find('\n', start);
    std::string_view line =
        content.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    start = end == std::string_view::npos ? content.size() : end + 1;
    std::string_view text = TrimBlanks(line);
    if (!text.empty() && text[0] == '[') {
      std::size_t close = text.find(']');
      section = std::string(
          TrimBlanks(text.substr(1, close == std::string_view::npos ? text.npos : close - 1)));
    } else if (std::size_t equals = line.find('='); equals != std::string_view::npos) {
      names.emplace_back(section, std::string(TrimBlanks(line.substr(0, equals))));
    }
  }
  return names;
}

// The text with its control characters written as \xNN.
std::string Escaped(std::string_view text) {
  std::string out;
  for (char c : text) {
    auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) {
      char code[8];
      std::snprintf(code, sizeof code, "\\x%02X", byte);
      out += code;
    } else {
      out.push_back(c);
    }
  }
  return out;
}

struct Value {
  bool found = false;
  std::string text;
  bool operator==(const Value&) const = default;
};

Value Find(std::string_view content, const Name& name) {
  Value value;
  value.found = FindIniValue(content, name.first, name.second, &value.text);
  return value;
}

// Writes name=value through the store and checks the file afterwards.
void WriteAndCheck(SettingsStore& store, const std::string& path, const Name& name,
                   const std::string& value, const std::vector<Name>& others) {
  const std::string before = ReadWholeFile(path);
  if (!store.WriteSettingText(name.first, name.second, value)) {
    Check(ReadWholeFile(path) == before, "a refused write changed the file");
    return;
  }
  const std::string after = ReadWholeFile(path);
  std::string expected(TrimBlanks(value));
  if (expected.size() > SettingsStore::kMaxText) {
    expected.resize(SettingsStore::kMaxText);
  }
  Check(store.ReadSettingText(name.first, name.second, "\x01missing") == expected,
        "a written key does not read back: [" + name.first + "] " + name.second + "\nbefore:\n" +
            Escaped(before) + "\nafter:\n" + Escaped(after));
  for (const Name& other : others) {
    if (EqualsNoCase(other.first, name.first) && EqualsNoCase(other.second, name.second)) {
      continue;
    }
    Check(Find(before, other) == Find(after, other), "writing [" + name.first + "] " + name.second +
                                                         " changed [" + other.first + "] " +
                                                         other.second);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static ScratchFolder folder;
  static const std::string path = folder.File("Lapora.ini");
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  std::size_t zero = input.find('\0');
  std::string_view request = zero == std::string_view::npos ? "Settings\x01LogWinLevel\x01"
                                                              "25"
                                                            : input.substr(0, zero);
  std::string_view content = zero == std::string_view::npos ? input : input.substr(zero + 1);
  std::size_t first = request.find('\x01');
  std::size_t second = first == std::string_view::npos ? first : request.find('\x01', first + 1);
  Name name{std::string(request.substr(0, first)),
            first == std::string_view::npos
                ? "LogWinLevel"
                : std::string(request.substr(first + 1, second - first - 1))};
  std::string value(second == std::string_view::npos ? std::string_view("1")
                                                     : request.substr(second + 1));

  WriteWholeFile(path, content);
  SettingsStore store(path);
  std::vector<Name> names = NamesOf(content);
  names.push_back(name);
  // Start-up: each key read with its default and written back.
  for (const Name& existing : NamesOf(content)) {
    std::string text = store.ReadSettingText(existing.first, existing.second, "");
    (void)store.ReadSettingInt(existing.first, existing.second, 0);
    (void)store.ReadSettingRect(existing.first, existing.second);
    WriteAndCheck(store, path, existing, text, names);
  }
  WriteAndCheck(store, path, name, value, names);
  if (store.WriteSettingInt(name.first, name.second, -12)) {
    Check(store.ReadSettingInt(name.first, name.second, 0) == -12,
          "a written number does not read back");
  }
  return 0;
}
