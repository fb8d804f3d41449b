// The fixed vocabulary of the results software: both code tables with their fallbacks, the
// version conversion and its numeric check, and the ordinal texts in both languages.
#include "resultslink/link_codes.h"

#include <gtest/gtest.h>

#include "foundation/text.h"

namespace lapora {
namespace {

std::string Cp(const char* utf8) {
  return Utf8ToCp1252(utf8);
}

TEST(LinkCodesTest, EveryCommandCodeHasItsNameInBothLanguages) {
  const std::vector<std::pair<int, const char*>> names = {{0, "DETCMD_UNKNOWN"},
                                                          {1, "DETCMD_PUSH_TIME"},
                                                          {2, "DETCMD_GET_KOL"},
                                                          {3, "DETCMD_GET_BIB_NUMBER"},
                                                          {4, "DETCMD_DISPLAY_DETECTOR"},
                                                          {5, "Nom de la compétition"},
                                                          {6, "Nom du fichier"},
                                                          {7, "Liste des détecteurs"},
                                                          {8, "Liste des courses"},
                                                          {20, "Ping"},
                                                          {21, "DETCMD_WINKOL_LOCK"},
                                                          {22, "DETCMD_WINKOL_UNLOCK"},
                                                          {23, "DETCMD_WINKOL_EXPEDITION"},
                                                          {24, "Application"},
                                                          {25, "Utilisateur"},
                                                          {26, "Reg. Code"},
                                                          {27, "Version"},
                                                          {28, "Printable Version"},
                                                          {49, "Commande inconnue"}};
  for (const auto& [code, name] : names) {
    EXPECT_EQ(CommandNameIn(Language::kEnglish, code), Cp(name)) << code;
    EXPECT_EQ(CommandNameIn(Language::kFrench, code), Cp(name)) << code;
  }
  for (int unknown : {9, 19, 29, 48, 50, -1, 1000}) {
    EXPECT_EQ(CommandNameIn(Language::kEnglish, unknown), "unknown command") << unknown;
    EXPECT_EQ(CommandNameIn(Language::kFrench, unknown), "Commande inconnue") << unknown;
  }
}

TEST(LinkCodesTest, EveryStatusCodeHasItsTextInBothLanguages) {
  const std::vector<std::pair<int, const char*>> texts = {
      {-1, "IR_RUNNER_COURSE_NULL"},
      {-2, "Id. puce non trouvé"},
      {-3, "IR_RUNNER_TABLE_FULL"},
      {-4, "IR_RUNNER_TIME_SKIPPED"},
      {-5, "Coureur inconnu"},
      {-6, "Nombre max de passages atteint"},
      {-7, "Détection refusée pour le coureur"},
      {-9, "Détection refusée pour la course"},
      {-11, "IR_BIB_NUMBER_REJECTED"},
      {-8, "Temps de contrôle"},
      {0, "Temps du coureur inchangé"},
      {1, "Temps du coureur corrigé"},
      {2, "Temps du coureur modifié"},
      {3, "Temps pris en compte pour le coureur"},
      {4, "Coureur marqué comme ayant pris le départ"},
      {-20, "Code inconnu"},
      {101, "Erreur interne"},
      {102, "Aucune compétition/course/coureur"},
      {103, "Commande inconnue"},
      {104, "Commande invalide"},
      {105, "Résultat"},
      {106, "Pas de résultat"},
      {201, "Détecteur inconnu"},
      {202, "Coureur inconnu"},
      {1000, "Connexion refusée"}};
  for (const auto& [code, text] : texts) {
    EXPECT_EQ(StatusTextIn(Language::kEnglish, code), Cp(text)) << code;
    EXPECT_EQ(StatusTextIn(Language::kFrench, code), Cp(text)) << code;
  }
  for (int unknown : {-10, -12, -21, 5, 100, 107, 200, 203, 999, 1001}) {
    EXPECT_EQ(StatusTextIn(Language::kEnglish, unknown), "unknown status") << unknown;
    EXPECT_EQ(StatusTextIn(Language::kFrench, unknown), "Status inconnu") << unknown;
  }
}

TEST(LinkCodesTest, VersionTextConvertsToItsShortForm) {
  EXPECT_EQ(ConvertVersion("4,4,0,0"), "4.40_");
  EXPECT_EQ(ConvertVersion("4,4,0,1"), "4.40a");
  EXPECT_EQ(ConvertVersion("4,3,9,0"), "4.39_");
  EXPECT_EQ(ConvertVersion("10,0,0,0"), "10.0_");
  EXPECT_EQ(ConvertVersion("5,1,2,3"), "5.12c");
  // Found by fuzzing: a number this large overflowed the minor part (caught under UBSan).
  EXPECT_EQ(ConvertVersion("4,421474836,0,0"), "4.4214748360_");
  for (const char* bad : {"", "4.4.0.0", "4,4,0", "abc", "4,4,x,0"}) {
    EXPECT_EQ(ConvertVersion(bad), "") << bad;
  }
}

TEST(LinkCodesTest, VersionCheckComparesTheFourNumbers) {
  EXPECT_FALSE(IsVersionRefused("4,4,0,0"));
  EXPECT_FALSE(IsVersionRefused("4,4,0,1"));
  EXPECT_FALSE(IsVersionRefused("10,0,0,0"));  // newer, though "10.0_" sorts before "4.40_"
  EXPECT_FALSE(IsVersionRefused("4,10,0,0"));
  EXPECT_FALSE(IsVersionRefused("5,0,0,0"));
  EXPECT_TRUE(IsVersionRefused("4,3,9,0"));
  EXPECT_TRUE(IsVersionRefused("4,3,9,26"));
  EXPECT_TRUE(IsVersionRefused("3,9,9,9"));
  // What is not a version is not checked.
  EXPECT_FALSE(IsVersionRefused(""));
  EXPECT_FALSE(IsVersionRefused("4.39"));
  EXPECT_FALSE(IsVersionRefused("4,3,9"));
}

TEST(LinkCodesTest, FrenchOrdinalsFollowTheSex) {
  const Language fr = Language::kFrench;
  EXPECT_EQ(OrdinalTextIn(fr, 0, "F"), Cp("?ème"));
  EXPECT_EQ(OrdinalTextIn(fr, 1, "F"), Cp("1ère"));
  EXPECT_EQ(OrdinalTextIn(fr, 1, "Fem"), Cp("1ère"));
  EXPECT_EQ(OrdinalTextIn(fr, 1, "M"), "1er");
  EXPECT_EQ(OrdinalTextIn(fr, 1, "X"), Cp("1ème"));
  EXPECT_EQ(OrdinalTextIn(fr, 1, ""), Cp("1ème"));
  EXPECT_EQ(OrdinalTextIn(fr, 2, "F"), Cp("2ème"));
  EXPECT_EQ(OrdinalTextIn(fr, 11, "M"), Cp("11ème"));
  EXPECT_EQ(OrdinalTextIn(fr, 101, "M"), Cp("101ème"));
}

TEST(LinkCodesTest, EnglishOrdinalsFollowEnglish) {
  const Language en = Language::kEnglish;
  const std::vector<std::pair<int, const char*>> cases = {
      {0, "?th"},     {1, "1st"},     {2, "2nd"},     {3, "3rd"},      {4, "4th"},
      {10, "10th"},   {11, "11th"},   {12, "12th"},   {13, "13th"},    {14, "14th"},
      {21, "21st"},   {22, "22nd"},   {23, "23rd"},   {101, "101st"},  {111, "111th"},
      {112, "112th"}, {113, "113th"}, {121, "121st"}, {1000, "1000th"}};
  for (const auto& [rank, text] : cases) {
    EXPECT_EQ(OrdinalTextIn(en, rank, "F"), text) << rank;
    EXPECT_EQ(OrdinalTextIn(en, rank, "M"), text) << rank;
  }
}

}  // namespace
}  // namespace lapora
