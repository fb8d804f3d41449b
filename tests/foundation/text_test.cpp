#include "foundation/text.h"

#include <gtest/gtest.h>

namespace lapora {
namespace {

TEST(TextTest, Cp1252RoundTripsThroughUtf8) {
  std::string utf8 = "Détections € Août œ";
  std::string cp = Utf8ToCp1252(utf8);
  EXPECT_EQ(cp, "D\xE9tections \x80 Ao\xFBt \x9C");
  EXPECT_EQ(Cp1252ToUtf8(cp), utf8);
}

TEST(TextTest, UnconvertibleCharactersBecomeQuestionMarksAndCp1252BytesPassThrough) {
  EXPECT_EQ(Utf8ToCp1252("日"), "?");
  EXPECT_EQ(Utf8ToCp1252("\xE9t\xE9"), "\xE9t\xE9");
}

TEST(TextTest, CatalogueGivesEitherLanguage) {
  constexpr Message kMsg{"No recorded detection", "Aucune détection enregistrée"};
  EXPECT_EQ(TrIn(Language::kEnglish, kMsg), "No recorded detection");
  EXPECT_EQ(TrIn(Language::kFrench, kMsg),
            "Aucune d\xE9tection enregistr\xE9"
            "e");
  EXPECT_EQ(Tr(kMsg), TrIn(BuildLanguage(), kMsg));
}

TEST(TextTest, FormattingGrowsBeyondTheSmallBuffer) {
  std::string big(2000, 'y');
  EXPECT_EQ(StrF("<%s>", big.c_str()).size(), 2002u);
  EXPECT_EQ(StrF("%04d", 7), "0007");
}

}  // namespace
// scanf "%d" as the parsers of box lines, bibs and chip tables read it: where the number ends,
// and what a number beyond the int range gives.
TEST(TextTest, ScanIntReadsLikeScanfAndSaysWhereTheNumberEnds) {
  struct Row {
    const char* text;
    IntOverflow overflow;
    bool ok;
    int value;
    std::size_t end;
  };
  const Row rows[] = {
      {"  42abc", IntOverflow::kRefuse, true, 42, 4},
      {"\t-7 8", IntOverflow::kRefuse, true, -7, 3},
      {"+0012", IntOverflow::kRefuse, true, 12, 5},
      {"2147483647", IntOverflow::kRefuse, true, 2147483647, 10},
      {"-2147483648", IntOverflow::kRefuse, true, -2147483647 - 1, 11},
      {"2147483648", IntOverflow::kRefuse, false, 0, 0},
      {"2147483648", IntOverflow::kSaturate, true, 2147483647, 10},
      {"-99999999999999999999", IntOverflow::kSaturate, true, -2147483647 - 1, 21},
      {"", IntOverflow::kRefuse, false, 0, 0},
      {"  -", IntOverflow::kSaturate, false, 0, 0},
      {"abc", IntOverflow::kSaturate, false, 0, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    std::size_t pos = 0;
    int value = 0;
    EXPECT_EQ(ScanInt(row.text, &pos, &value, row.overflow), row.ok);
    EXPECT_EQ(value, row.value);
    EXPECT_EQ(pos, row.end);
  }
  // One number after another, as a date "2012 05 13" is read.
  std::size_t pos = 0;
  int year = 0;
  int month = 0;
  ASSERT_TRUE(ScanInt("2012 05 13", &pos, &year, IntOverflow::kSaturate));
  ASSERT_TRUE(ScanInt("2012 05 13", &pos, &month, IntOverflow::kSaturate));
  EXPECT_EQ(year * 100 + month, 201205);
}

TEST(TextTest, TrimmingBlanksOrWhiteSpace) {
  EXPECT_EQ(TrimBlanks(" \t label \t"), "label");
  EXPECT_EQ(TrimBlanks("\r\nlabel\r\n"), "\r\nlabel\r\n");  // only spaces and tabs
  EXPECT_EQ(TrimSpace("\r\n\v label\f "), "label");
  EXPECT_EQ(TrimBlanks("   "), "");
  EXPECT_EQ(TrimSpace(""), "");
}

}  // namespace lapora
