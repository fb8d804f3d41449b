// Chip table files: the fuzz input is the file. It is loaded as the program loads it, then
// every entry's chip, in its own case and in both cases, is looked up through the table's
// index and compared with a scan of the entries in file order (the first entry holding the
// chip, without regard to ASCII case, gives the bib).
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "detections/chip_table.h"
#include "foundation/text.h"
#include "fuzz_support.h"

namespace {

using namespace lapora;
using namespace lapora::fuzz;

bool ScanEntries(const std::vector<CKolItem>& entries, std::string_view chip, std::int32_t* bib) {
  for (const CKolItem& item : entries) {
    if (EqualsNoCase(item.chip, chip)) {
      *bib = item.bib;
      return true;
    }
  }
  return false;
}

std::string UpperAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') {
      c = static_cast<char>(c - 'a' + 'A');
    }
  }
  return out;
}

void SameAnswer(const CChipTable& table, const std::vector<CKolItem>& entries,
                std::string_view chip) {
  std::int32_t indexed = -1;
  std::int32_t scanned = -1;
  bool inIndex = table.LookupChip(chip, &indexed);
  bool inScan = ScanEntries(entries, chip, &scanned);
  Check(inIndex == inScan, "the index and the scan disagree on whether a chip is known");
  Check(indexed == scanned, "the index gives another bib than the first entry in file order");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static ScratchFolder folder;
  static const std::string path = folder.File("ChipTable.dtb");
  const std::string_view content(reinterpret_cast<const char*>(data), size);
  WriteWholeFile(path, content);

  CChipTable table;
  bool loaded = table.LoadChipTableFile(path);
  Check(loaded ==
            (size >= 3 && content.substr(0, 2) != "\xFF\xFE" && content.substr(0, 2) != "\xFE\xFF"),
        "a readable table of three bytes or more that is not UTF-16 is accepted");
  std::vector<CKolItem> entries = table.Entries();
  Check(entries.size() == table.ChipTableCount(), "the count is not the number of entries");
  for (const CKolItem& item : entries) {
    std::string_view chip(item.chip);
    Check(!chip.empty() && chip.size() < CKolItem::kChipSize, "an entry's chip length");
    for (char c : chip) {
      Check(!IsSpace(c), "a chip holds white space");
    }
    Check(item.bib >= 0, "a negative bib");
    SameAnswer(table, entries, chip);
    SameAnswer(table, entries, ToLowerAscii(chip));
    SameAnswer(table, entries, UpperAscii(chip));
  }
  SameAnswer(table, entries, "E2003412000000000000007B");
  SameAnswer(table, entries, content.substr(0, 63));
  return 0;
}
