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
}  // namespace lapora
