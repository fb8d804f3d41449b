#include "detections/chip_table.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <memory>
#include <utility>

#include "foundation/text.h"
#include "resources/messages_detections.h"

namespace lapora {

namespace {

constexpr const char* kDefaultTableName = "ChipTable.dtb";

char LowerAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// FNV-1a over the ASCII-lowercased bytes, so that chips differing only in case meet.
std::uint32_t HashNoCase(std::string_view text) {
  std::uint32_t hash = 2166136261u;
  for (char c : text) {
    hash ^= static_cast<unsigned char>(LowerAscii(c));
    hash *= 16777619u;
  }
  return hash;
}

// The next blank-delimited token from *pos, leading blanks skipped.
std::string_view NextToken(std::string_view text, std::size_t* pos) {
  std::size_t i = *pos;
  while (i < text.size() && IsSpace(text[i])) {
    ++i;
  }
  std::size_t start = i;
  while (i < text.size() && !IsSpace(text[i])) {
    ++i;
  }
  *pos = i;
  return text.substr(start, i - start);
}

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (!folder.empty() && (folder.back() == '/' || folder.back() == '\\')) {
    return folder + name;
  }
  return folder + "/" + name;
}

bool IsFile(const std::string& path) {
  std::error_code error;
  return std::filesystem::is_regular_file(path, error);
}

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

// The whole file as bytes; false when it cannot be opened or read.
bool ReadWholeFile(const std::string& path, std::string* content) {
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
  if (!file) {
    return false;
  }
  content->clear();
  char buffer[65536];
  for (;;) {
    std::size_t n = std::fread(buffer, 1, sizeof buffer, file.get());
    content->append(buffer, n);
    if (n < sizeof buffer) {
      return std::ferror(file.get()) == 0;
    }
  }
}

}  // namespace

bool IsBibToken(std::string_view field, std::int32_t* bib) {
  while (!field.empty() && field.front() == '"') {
    field.remove_prefix(1);
  }
  while (!field.empty() && field.back() == '"') {
    field.remove_suffix(1);
  }
  for (char cut : {',', '.', ';'}) {
    std::size_t at = field.rfind(cut);
    if (at != std::string_view::npos) {
      field = field.substr(0, at);
    }
  }
  if (field.empty()) {
    return false;
  }
  std::int64_t value = 0;
  for (char c : field) {
    if (c < '0' || c > '9') {
      return false;
    }
    value = value * 10 + (c - '0');
    // A number beyond int32 would read as garbage: not a bib.
    if (value > std::numeric_limits<std::int32_t>::max()) {
      return false;
    }
  }
  if (bib != nullptr) {
    *bib = static_cast<std::int32_t>(value);
  }
  return true;
}

// ---- Table -------------------------------------------------------------------------------

bool CChipTable::Table::Add(std::string_view chip, std::int32_t bib) {
  if (chip.size() >= CKolItem::kChipSize) {
    return false;
  }
  if ((m_entries.size() + 1) * 2 > m_slots.size()) {
    Grow();
  }
  CKolItem item;
  std::memcpy(item.chip, chip.data(), chip.size());
  item.chip[chip.size()] = '\0';
  item.bib = bib;
  m_entries.push_back(item);

  // Index the entry unless an earlier entry holds the same chip: the first in file order wins.
  std::uint32_t hash = HashNoCase(chip);
  std::size_t mask = m_slots.size() - 1;
  for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
    Slot& slot = m_slots[i];
    if (slot.index < 0) {
      slot.hash = hash;
      slot.index = static_cast<std::int32_t>(m_entries.size() - 1);
      return true;
    }
    if (slot.hash == hash &&
        EqualsNoCase(m_entries[static_cast<std::size_t>(slot.index)].chip, chip)) {
      return true;
    }
  }
}

void CChipTable::Table::Grow() {
  std::vector<Slot> old = std::move(m_slots);
  m_slots.assign(old.empty() ? 512 : old.size() * 2, Slot{});
  std::size_t mask = m_slots.size() - 1;
  // Each old slot holds a distinct chip (its first entry), so the order of re-insertion does not
  // change which entry wins.
  for (const Slot& slot : old) {
    if (slot.index < 0) {
      continue;
    }
    std::size_t i = slot.hash & mask;
    while (m_slots[i].index >= 0) {
      i = (i + 1) & mask;
    }
    m_slots[i] = slot;
  }
}

bool CChipTable::Table::Lookup(std::string_view chip, std::int32_t* bib) const {
  if (m_entries.empty()) {
    return false;
  }
  std::uint32_t hash = HashNoCase(chip);
  std::size_t mask = m_slots.size() - 1;
  for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
    const Slot& slot = m_slots[i];
    if (slot.index < 0) {
      return false;
    }
    const CKolItem& item = m_entries[static_cast<std::size_t>(slot.index)];
    if (slot.hash == hash && EqualsNoCase(item.chip, chip)) {
      *bib = item.bib;
      return true;
    }
  }
}

void CChipTable::Table::AddLines(std::string_view text) {
  std::size_t pos = 0;
  while (pos < text.size()) {
    // Text mode: CR LF and LF end a line. A line is taken in pieces of at most 510 characters,
    // its line end counted in the piece that holds it.
    std::size_t newline = text.find('\n', pos);
    std::size_t lineEnd = newline == std::string_view::npos ? text.size() : newline;
    std::size_t contentEnd = lineEnd;
    if (newline != std::string_view::npos && contentEnd > pos && text[contentEnd - 1] == '\r') {
      --contentEnd;
    }
    std::size_t length = contentEnd - pos;
    bool hasEnd = newline != std::string_view::npos;
    if (length + (hasEnd ? 1 : 0) <= kMaxPiece) {
      AddLine(text.substr(pos, length));
      pos = hasEnd ? newline + 1 : text.size();
    } else {
      AddLine(text.substr(pos, kMaxPiece));
      pos += kMaxPiece;
    }
  }
}

void CChipTable::Table::AddLine(std::string_view piece) {
  // A piece is handled as C text: it ends at its first zero byte.
  std::size_t zero = piece.find('\0');
  if (zero != std::string_view::npos) {
    piece = piece.substr(0, zero);
  }
  std::size_t pos = 0;
  std::string_view a = NextToken(piece, &pos);
  if (a.empty()) {
    return;
  }
  std::string_view b = NextToken(piece, &pos);
  if (b.empty()) {
    // One blank-delimited field: try "A;B", B ending at the next blank. A starts where the
    // field does: blanks before it would make a chip no box ever reads, or hide a bib.
    std::size_t start = static_cast<std::size_t>(a.data() - piece.data());
    std::size_t semicolon = piece.find(';');
    if (semicolon == std::string_view::npos || semicolon == start) {
      return;
    }
    a = piece.substr(start, semicolon - start);
    pos = semicolon + 1;
    b = NextToken(piece, &pos);
    if (b.empty()) {
      return;
    }
  }
  // Fields are at most 255 characters; a longer one would be split into bogus fields.
  if (a.size() > kMaxField || b.size() > kMaxField) {
    return;
  }
  std::int32_t bib = 0;
  if (IsBibToken(a, &bib)) {
    Add(b, bib);
  } else if (IsBibToken(b, &bib)) {
    Add(a, bib);
  }
}

// ---- CChipTable ---------------------------------------------------------------------------

bool CChipTable::LoadChipTable(const std::string& alternateName, const std::string& dataFolder,
                               const std::string& programFolder, std::string* message) {
  std::string found;
  for (const std::string* folder : {&dataFolder, &programFolder}) {
    if (folder->empty()) {
      continue;
    }
    for (const std::string& name : {std::string(kDefaultTableName), alternateName}) {
      if (!found.empty() || name.empty()) {
        continue;
      }
      std::string candidate = JoinPath(*folder, name);
      if (IsFile(candidate)) {
        found = candidate;
      }
    }
  }
  if (found.empty()) {
    if (message != nullptr) {
      *message = StrF(Tr(kMsgChipTableNotFound).c_str(), alternateName.c_str());
    }
    return false;
  }
  if (!LoadChipTableFile(found)) {
    if (message != nullptr) {
      *message = StrF(Tr(kMsgChipTableLoadError).c_str(), found.c_str());
    }
    return false;
  }
  if (message != nullptr) {
    *message =
        StrF(Tr(kMsgChipTableLoaded).c_str(), static_cast<int>(ChipTableCount()), found.c_str());
  }
  return true;
}

bool CChipTable::LoadChipTableFile(const std::string& path) {
  std::string content;
  bool readable = ReadWholeFile(path, &content);
  // Shorter than three bytes counts as empty; UTF-16 (either byte order) is refused.
  bool accepted = readable && content.size() >= 3 &&
                  !(content[0] == '\xFF' && content[1] == '\xFE') &&
                  !(content[0] == '\xFE' && content[1] == '\xFF');
  Table loaded;
  if (accepted) {
    std::string_view text = content;
    if (text.substr(0, 3) == "\xEF\xBB\xBF") {
      text.remove_prefix(3);
    }
    loaded.AddLines(text);
  }
  {
    std::lock_guard lock(m_tableMutex);
    std::swap(m_table, loaded);
  }
  // The previous table is freed here, outside the lock.
  return accepted;
}

void CChipTable::ClearChipTable() {
  Table empty;
  std::lock_guard lock(m_tableMutex);
  std::swap(m_table, empty);
}

bool CChipTable::AddChipEntry(std::string_view chip, std::int32_t bib) {
  std::lock_guard lock(m_tableMutex);
  return m_table.Add(chip, bib);
}

bool CChipTable::LookupChip(std::string_view chip, std::int32_t* bib) const {
  std::lock_guard lock(m_tableMutex);
  return m_table.Lookup(chip, bib);
}

std::size_t CChipTable::ChipTableCount() const {
  std::lock_guard lock(m_tableMutex);
  return m_table.Count();
}

std::vector<CKolItem> CChipTable::Entries() const {
  std::lock_guard lock(m_tableMutex);
  return m_table.Entries();
}

}  // namespace lapora
