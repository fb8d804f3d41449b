// The chip translation table: chip identifiers read by the boxes mapped to bib numbers, loaded
// from a table file. Thread-safe: the table lock (m_tableMutex) guards the table; a load builds
// the new table aside and swaps it in under the lock, so lookups from box threads during a
// reload see either the old table or the new one, never a half-built one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace lapora {

// True when the field, once cleaned (double quotes stripped at both ends, then cut at its last
// ",", its last "." and its last ";"), is made of decimal digits only and fits an int32; *bib
// receives the number then.
bool IsBibToken(std::string_view field, std::int32_t* bib);

// One table entry: the chip as read from the file (case kept) and its bib.
struct CKolItem {
  static constexpr std::size_t kChipSize = 64;  // at most 63 characters and the terminator
  char chip[kChipSize] = {};
  std::int32_t bib = 0;
};

class CChipTable {
 public:
  // Longest field of a table line and longest line piece.
  static constexpr std::size_t kMaxField = 255;
  static constexpr std::size_t kMaxPiece = 510;

  CChipTable() = default;
  CChipTable(const CChipTable&) = delete;
  CChipTable& operator=(const CChipTable&) = delete;

  // Looks for dataFolder/ChipTable.dtb, dataFolder/<alternateName>, programFolder/ChipTable.dtb,
  // programFolder/<alternateName>, in that order, and loads the first that exists. When none
  // exists the table stays as it was. *message receives the text to show (build language).
  [[nodiscard]] bool LoadChipTable(const std::string& alternateName, const std::string& dataFolder,
                                   const std::string& programFolder, std::string* message);
  // Replaces the table by the entries of this file. A file that cannot be opened, is shorter
  // than three bytes or is UTF-16 leaves the table empty and gives false.
  [[nodiscard]] bool LoadChipTableFile(const std::string& path);
  void ClearChipTable();
  // Appends an entry; false (nothing added) when the chip is longer than 63 characters.
  bool AddChipEntry(std::string_view chip, std::int32_t bib);
  // The bib of the first entry in file order whose chip equals this one without regard to
  // ASCII letter case.
  [[nodiscard]] bool LookupChip(std::string_view chip, std::int32_t* bib) const;
  std::size_t ChipTableCount() const;
  // The entries in file order (a copy).
  std::vector<CKolItem> Entries() const;

  // The table proper: entries in file order and an open-addressing index over them.
  class Table {
   public:
    bool Add(std::string_view chip, std::int32_t bib);
    bool Lookup(std::string_view chip, std::int32_t* bib) const;
    std::size_t Count() const { return m_entries.size(); }
    const std::vector<CKolItem>& Entries() const { return m_entries; }
    // Reads the lines of a table file's text (after the byte-order mark).
    void AddLines(std::string_view text);
    // Parses one line piece; adds its entry when the line holds one.
    void AddLine(std::string_view piece);

   private:
    struct Slot {
      std::uint32_t hash = 0;
      std::int32_t index = -1;  // into m_entries; -1 when empty
    };
    void Grow();

    std::vector<CKolItem> m_entries;
    std::vector<Slot> m_slots;  // size a power of two, at most half full
  };

 private:
  mutable std::mutex m_tableMutex;
  Table m_table;  // guarded by m_tableMutex
};

}  // namespace lapora
