#include "detections/chip_table.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "foundation/text.h"
#include "resources/messages_detections.h"
#include "support/temp_dir.h"

namespace lapora {
namespace {

using testing::TempDir;
using testing::WriteFile;

class ChipTableTest : public ::testing::Test {
 protected:
  // Loads the text as a table file and returns the load result.
  bool LoadText(const std::string& content) {
    std::string path = m_dir.File("table.dtb");
    WriteFile(path, content);
    return m_table.LoadChipTableFile(path);
  }
  int Bib(const std::string& chip) {
    std::int32_t bib = -1;
    return m_table.LookupChip(chip, &bib) ? bib : -1;
  }

  TempDir m_dir;
  CChipTable m_table;
};

TEST_F(ChipTableTest, FirstEntryInFileOrderWinsWithoutRegardToCase) {
  ASSERT_TRUE(LoadText("123 E2003412\n124 e2003412\n"));
  EXPECT_EQ(m_table.ChipTableCount(), 2u);  // duplicates are kept
  EXPECT_EQ(Bib("E2003412"), 123);
  EXPECT_EQ(Bib("e2003412"), 123);
  EXPECT_EQ(Bib("E2003413"), -1);
}

TEST_F(ChipTableTest, LineFormsGiveTheirEntries) {
  struct Case {
    const char* line;
    const char* chip;  // nullptr: line skipped
    int bib;
  };
  const Case cases[] = {
      {"123 E2003412", "E2003412", 123},
      {"E2003412 123", "E2003412", 123},
      {"123, E2003412", "E2003412", 123},
      {"123;E2003412", "E2003412", 123},
      {"5 17", "17", 5},  // both numeric: the first is the bib
      {"   42\tAB  trailing words", "AB", 42},
      {"\"77\" \"CHIP\"", "\"CHIP\"", 77},  // the chip keeps its quotes
      {"12.5 X1", "X1", 12},                // cut at the last point
      {"A1;B2", nullptr, 0},                // semicolon form, no bib token
      {"9;", nullptr, 0},
      {";9", nullptr, 0},
      // Found by fuzzing: the semicolon form kept the blanks before it in its first field.
      {" \tE2003412;123", "E2003412", 123},
      {"  123;E2003412", "E2003412", 123},
      {"  ;9", nullptr, 0},
      {"E2003412", nullptr, 0},  // one field only
      {"ABC DEF", nullptr, 0},   // no bib token
      {"-5 CHIP", nullptr, 0},
      {"99999999999 CHIP", nullptr, 0},  // does not fit a bib
      {"   ", nullptr, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    ASSERT_TRUE(LoadText(std::string(c.line) + "\r\n"));
    std::vector<CKolItem> entries = m_table.Entries();
    if (c.chip == nullptr) {
      EXPECT_TRUE(entries.empty());
      continue;
    }
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_STREQ(entries[0].chip, c.chip);
    EXPECT_EQ(entries[0].bib, c.bib);
  }
}

TEST_F(ChipTableTest, IsBibTokenCleansTheField) {
  struct Case {
    const char* field;
    bool isBib;
    int bib;
  };
  const Case cases[] = {
      {"123", true, 123},       {"\"\"123\"", true, 123}, {"123,", true, 123},
      {"1,2", true, 1},         {"12.5", true, 12},       {"1;2", true, 1},
      {"1.2;3", true, 1},       {"007", true, 7},         {"abc", false, 0},
      {"", false, 0},           {"\"\"", false, 0},       {",5", false, 0},
      {"12a", false, 0},        {"-5", false, 0},         {"2147483647", true, 2147483647},
      {"2147483648", false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.field);
    std::int32_t bib = -1;
    EXPECT_EQ(IsBibToken(c.field, &bib), c.isBib);
    if (c.isBib) {
      EXPECT_EQ(bib, c.bib);
    }
  }
}

TEST_F(ChipTableTest, ByteOrderMarkIsSkipped) {
  ASSERT_TRUE(
      LoadText("\xEF\xBB\xBF"
               "10 AA\n11 BB\n"));
  std::vector<CKolItem> withMark = m_table.Entries();
  ASSERT_TRUE(LoadText("10 AA\n11 BB\n"));
  std::vector<CKolItem> without = m_table.Entries();
  ASSERT_EQ(withMark.size(), 2u);
  ASSERT_EQ(without.size(), 2u);
  for (std::size_t i = 0; i < 2; ++i) {
    EXPECT_STREQ(withMark[i].chip, without[i].chip);
    EXPECT_EQ(withMark[i].bib, without[i].bib);
  }
}

TEST_F(ChipTableTest, RefusedFilesFailAndLeaveTheTableEmpty) {
  const std::string refused[] = {
      std::string("\xFF\xFE"
                  "1\0 \0A\0",
                  8),
      std::string("\xFE\xFF\0"
                  "1\0 \0A",
                  8),
      "",
      "1\n",
  };
  for (const std::string& content : refused) {
    ASSERT_TRUE(LoadText("1 A\n2 B\n"));
    ASSERT_EQ(m_table.ChipTableCount(), 2u);
    EXPECT_FALSE(LoadText(content));
    EXPECT_EQ(m_table.ChipTableCount(), 0u);
    EXPECT_EQ(Bib("A"), -1);
  }
  ASSERT_TRUE(LoadText("1 A\n"));
  EXPECT_FALSE(m_table.LoadChipTableFile(m_dir.File("missing.dtb")));
  EXPECT_EQ(m_table.ChipTableCount(), 0u);
}

TEST_F(ChipTableTest, LongLinesAreReadInPiecesAndLongFieldsRejected) {
  // The 511th character starts a piece of its own, read as a line.
  std::string first = "7 X";
  first.resize(510, ' ');
  ASSERT_TRUE(LoadText(first + "8 Y\n"));
  EXPECT_EQ(Bib("X"), 7);
  EXPECT_EQ(Bib("Y"), 8);

  // A field of 256 characters is not cut into two bogus fields; a chip of 64 is not truncated.
  ASSERT_TRUE(LoadText("1 " + std::string(256, 'C') + "\n2 " + std::string(64, 'D') + "\n3 " +
                       std::string(63, 'E') + "\n"));
  EXPECT_EQ(m_table.ChipTableCount(), 1u);
  EXPECT_EQ(Bib(std::string(63, 'E')), 3);
}

TEST_F(ChipTableTest, GrowthKeepsEveryEntryFindable) {
  std::string content;
  for (int i = 1; i <= 201; ++i) {
    content += std::to_string(i) + " CHIP" + std::to_string(i) + "\n";
  }
  ASSERT_TRUE(LoadText(content));
  ASSERT_EQ(m_table.ChipTableCount(), 201u);
  for (int i = 1; i <= 201; ++i) {
    EXPECT_EQ(Bib("chip" + std::to_string(i)), i);
  }
}

TEST_F(ChipTableTest, IndexAgreesWithAFileOrderScanOnALargeTable) {
  // Many duplicates differing in case, so that the first-match rule is exercised through
  // every growth of the index.
  std::mt19937 random(12345);
  std::uniform_int_distribution<int> chipNumber(0, 8000);
  std::string content;
  for (int i = 0; i < 20000; ++i) {
    std::string chip = "E200" + std::to_string(chipNumber(random));
    if (random() % 2 == 0) {
      chip = ToLowerAscii(chip);
    }
    content += std::to_string(i + 1) + " " + chip + "\n";
  }
  ASSERT_TRUE(LoadText(content));
  std::vector<CKolItem> entries = m_table.Entries();
  ASSERT_EQ(entries.size(), 20000u);
  for (int probe = 0; probe < 400; ++probe) {
    std::string chip = "e200" + std::to_string(chipNumber(random));
    int expected = -1;
    for (const CKolItem& item : entries) {
      if (EqualsNoCase(item.chip, chip)) {
        expected = item.bib;
        break;
      }
    }
    ASSERT_EQ(Bib(chip), expected) << chip;
  }
}

TEST_F(ChipTableTest, ClearAndAddEntries) {
  EXPECT_EQ(Bib("A"), -1);  // empty table: nothing found
  EXPECT_TRUE(m_table.AddChipEntry("A", 1));
  EXPECT_TRUE(m_table.AddChipEntry("a", 2));
  EXPECT_FALSE(m_table.AddChipEntry(std::string(64, 'Z'), 3));
  EXPECT_EQ(m_table.ChipTableCount(), 2u);
  EXPECT_EQ(Bib("a"), 1);
  m_table.ClearChipTable();
  EXPECT_EQ(m_table.ChipTableCount(), 0u);
  EXPECT_EQ(Bib("A"), -1);
}

class LoadChipTableTest : public ChipTableTest {
 protected:
  LoadChipTableTest() {
    std::filesystem::create_directory(m_data);
    std::filesystem::create_directory(m_program);
  }
  std::string m_data = m_dir.File("data");
  std::string m_program = m_dir.File("program");
};

TEST_F(LoadChipTableTest, CandidatesAreTriedInOrder) {
  WriteFile(m_program + "/OstraTable.dtb", "4 C\n");
  std::string message;
  ASSERT_TRUE(m_table.LoadChipTable("OstraTable.dtb", m_data, m_program, &message));
  EXPECT_EQ(Bib("C"), 4);
  EXPECT_EQ(message,
            StrF(Tr(kMsgChipTableLoaded).c_str(), 1, (m_program + "/OstraTable.dtb").c_str()));

  WriteFile(m_program + "/ChipTable.dtb", "3 C\n");
  ASSERT_TRUE(m_table.LoadChipTable("OstraTable.dtb", m_data, m_program, &message));
  EXPECT_EQ(Bib("C"), 3);

  WriteFile(m_data + "/OstraTable.dtb", "2 C\n");
  ASSERT_TRUE(m_table.LoadChipTable("OstraTable.dtb", m_data, m_program, &message));
  EXPECT_EQ(Bib("C"), 2);

  WriteFile(m_data + "/ChipTable.dtb", "1 C\n9 D\n");
  ASSERT_TRUE(m_table.LoadChipTable("OstraTable.dtb", m_data, m_program, &message));
  EXPECT_EQ(Bib("C"), 1);
  EXPECT_EQ(message, StrF(Tr(kMsgChipTableLoaded).c_str(), 2, (m_data + "/ChipTable.dtb").c_str()));
}

TEST_F(LoadChipTableTest, MissingTableLeavesTheCurrentOne) {
  WriteFile(m_data + "/VarnexTable.dtb", "5 C\n");
  std::string message;
  ASSERT_TRUE(m_table.LoadChipTable("VarnexTable.dtb", m_data, m_program, &message));
  // The reload looks for another alternate name, present in neither folder.
  EXPECT_FALSE(m_table.LoadChipTable("OstraTable.dtb", m_data, m_program, &message));
  EXPECT_EQ(message, StrF(Tr(kMsgChipTableNotFound).c_str(), "OstraTable.dtb"));
  EXPECT_EQ(Bib("C"), 5);
}

TEST_F(LoadChipTableTest, FoundButBrokenTableEmptiesTheTable) {
  WriteFile(m_data + "/VarnexTable.dtb", "5 C\n");
  std::string message;
  ASSERT_TRUE(m_table.LoadChipTable("VarnexTable.dtb", m_data, m_program, &message));
  WriteFile(m_program + "/ChipTable.dtb", "\xFF\xFE\x31\x00");
  std::filesystem::remove(m_data + "/VarnexTable.dtb");
  EXPECT_FALSE(m_table.LoadChipTable("VarnexTable.dtb", m_data, m_program, &message));
  EXPECT_EQ(message,
            StrF(Tr(kMsgChipTableLoadError).c_str(), (m_program + "/ChipTable.dtb").c_str()));
  EXPECT_EQ(m_table.ChipTableCount(), 0u);
}

}  // namespace
}  // namespace lapora
