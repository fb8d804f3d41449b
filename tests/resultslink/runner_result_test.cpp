// The four runner-result layouts: every field in its place, the tagged layouts' strictness
// (empty texts, bad numbers, missing fields, texts beyond their lengths) and the split
// layout's tolerance.
#include "resultslink/runner_result.h"

#include <gtest/gtest.h>

#include <clocale>

namespace lapora {
namespace {

CRunnerResult Marie() {
  CRunnerResult r;
  r.pass = 2;
  r.dist = 5.25;
  r.nation = "FRA";
  r.race = "10 km";
  r.rankOverall = 12;
  r.rankCategory = 3;
  r.rankSex = 1;
  r.number = 123;
  r.lastName = "Durand";
  r.firstName = "Marie";
  r.sex = "F";
  r.categoryCode = "SEN";
  r.category = "Senior";
  r.team = "AC Lyon";
  r.time = "00:23:45";
  r.reserved = "0";
  r.status = 3;
  return r;
}

TEST(RunnerResultTest, EachTaggedLayoutPutsEveryFieldInPlace) {
  CRunnerResult nq04 = Marie();
  nq04.dist = 0;
  nq04.nation.clear();
  nq04.race.clear();
  EXPECT_EQ(DecodeTaggedResult(
                "nq04\\2\\12\\3\\1\\123\\Durand\\Marie\\F\\SEN\\Senior\\AC Lyon\\00:23:45\\0\\3"),
            nq04);
  CRunnerResult nq05 = Marie();
  nq05.race.clear();
  EXPECT_EQ(DecodeTaggedResult("nq05\\2\\5.25\\FRA\\12\\3\\1\\123\\Durand\\Marie\\F\\SEN\\Senior"
                               "\\AC Lyon\\00:23:45\\0\\3"),
            nq05);
  EXPECT_EQ(DecodeTaggedResult("nq06\\2\\5.25\\FRA\\10 km\\12\\3\\1\\123\\Durand\\Marie\\F\\SEN"
                               "\\Senior\\AC Lyon\\00:23:45\\0\\3"),
            Marie());
}

TEST(RunnerResultTest, SplitLayoutSkipsTwoFieldsAndAcceptsEmptyOnes) {
  EXPECT_EQ(DecodeSplitResult("RES:1\\31\\123\\2\\5.25\\FRA\\10 km\\12\\3\\1\\123\\Durand\\Marie"
                              "\\F\\SEN\\Senior\\AC Lyon\\00:23:45\\0\\3"),
            Marie());
  CRunnerResult noTeam = Marie();
  noTeam.team.clear();
  noTeam.nation.clear();
  EXPECT_EQ(DecodeSplitResult("RES:1\\31\\123\\2\\5.25\\\\10 km\\12\\3\\1\\123\\Durand\\Marie"
                              "\\F\\SEN\\Senior\\\\00:23:45\\0\\3"),
            noTeam);
  // Numbers that are not numbers read as 0; a leading number counts.
  std::optional<CRunnerResult> loose =
      DecodeSplitResult("RES:1\\a\\b\\x\\km\\\\\\7th\\\\ -2\\\\\\\\\\\\\\\\\\\\");
  ASSERT_TRUE(loose);
  EXPECT_EQ(loose->pass, 0);
  EXPECT_EQ(loose->dist, 0.0);
  EXPECT_EQ(loose->rankOverall, 7);
  EXPECT_EQ(loose->rankCategory, 0);
  EXPECT_EQ(loose->rankSex, -2);
  EXPECT_EQ(loose->status, 0);
  EXPECT_EQ(loose->lastName, "");
}

TEST(RunnerResultTest, SplitLayoutWithMissingFieldsIsRejected) {
  int fields = -1;
  EXPECT_FALSE(DecodeSplitResult("RES:1\\31\\123\\2\\5.25\\FRA", &fields));
  EXPECT_EQ(fields, 5);
  EXPECT_FALSE(DecodeSplitResult("RES:1", &fields));
  EXPECT_EQ(fields, 0);
}

TEST(RunnerResultTest, SplitLayoutCutsLongTexts) {
  const std::string longText(300, 'x');
  std::optional<CRunnerResult> r =
      DecodeSplitResult("RES:1\\31\\123\\1\\0\\" + longText + "\\\\0\\0\\0\\5\\" + longText + "\\" +
                        longText + "\\" + longText + "\\" + longText + "\\" + longText + "\\" +
                        longText + "\\" + longText + "\\" + longText + "\\3");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->nation.size(), 255u);
  EXPECT_EQ(r->lastName.size(), 255u);
  EXPECT_EQ(r->sex.size(), 19u);
  EXPECT_EQ(r->categoryCode.size(), 19u);
  EXPECT_EQ(r->category.size(), 49u);
  EXPECT_EQ(r->team.size(), 255u);
  EXPECT_EQ(r->time.size(), 255u);
  EXPECT_EQ(r->reserved.size(), 19u);
  EXPECT_EQ(r->status, 3);
}

TEST(RunnerResultTest, TaggedLayoutsRejectWhatTheirPatternsDoNotScan) {
  int count = -1;
  // An empty TEAM: nothing is read past it in any layout.
  EXPECT_FALSE(
      DecodeTaggedResult("nq04\\1\\0\\0\\0\\7\\Petit\\Luc\\M\\V1\\V1\\\\00:00:00\\0\\3", &count));
  // nq06 takes tag, PASS, DIST 0, NATION "0", RACE "0", CLT-GAL 7, then CLT-CAT "Petit" fails.
  EXPECT_EQ(count, 6);
  // A tag that is not the layout's own, with fields that would scan.
  EXPECT_FALSE(DecodeTaggedResult(
      "nq99\\2\\12\\3\\1\\123\\Durand\\Marie\\F\\SEN\\Senior\\AC Lyon\\00:23:45\\0\\3"));
  // A missing STATUS.
  EXPECT_FALSE(DecodeTaggedResult(
      "nq04\\2\\12\\3\\1\\123\\Durand\\Marie\\F\\SEN\\Senior\\AC Lyon\\00:23:45\\0"));
  // A rank that is not a number.
  EXPECT_FALSE(DecodeTaggedResult(
      "nq04\\2\\x\\3\\1\\123\\Durand\\Marie\\F\\SEN\\Senior\\AC Lyon\\00:23:45\\0\\3"));
  // A distance with a comma.
  EXPECT_FALSE(
      DecodeTaggedResult("nq05\\2\\5,25\\FRA\\12\\3\\1\\123\\Durand\\Marie\\F\\SEN"
                         "\\Senior\\AC Lyon\\00:23:45\\0\\3"));
  // A SEX beyond its 19 characters.
  EXPECT_FALSE(DecodeTaggedResult("nq04\\2\\12\\3\\1\\123\\Durand\\Marie\\" + std::string(20, 'F') +
                                  "\\SEN\\Senior\\AC Lyon\\00:23:45\\0\\3"));
  EXPECT_TRUE(DecodeTaggedResult("nq04\\2\\12\\3\\1\\123\\Durand\\Marie\\" + std::string(19, 'F') +
                                 "\\SEN\\Senior\\AC Lyon\\00:23:45\\0\\3"));
  EXPECT_FALSE(DecodeTaggedResult("garbage", &count));
  EXPECT_EQ(count, 1);
}

TEST(RunnerResultTest, NumbersReadLikeScanfConversions) {
  // Blanks and a sign before integers are taken; so are trailing fields after STATUS.
  std::optional<CRunnerResult> r = DecodeTaggedResult(
      "nq04\\ 2\\+12\\3\\1\\-5\\Durand\\Marie\\F\\SEN\\Senior\\AC Lyon\\00:23:45\\0\\-8\\extra");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->pass, 2);
  EXPECT_EQ(r->rankOverall, 12);
  EXPECT_EQ(r->number, -5);
  EXPECT_EQ(r->status, -8);
  EXPECT_EQ(ParseDecimal("5.25", true), 5.25);
  EXPECT_EQ(ParseDecimal(" -1.5e1", true), -15.0);
  EXPECT_EQ(ParseDecimal(".5", true), 0.5);
  EXPECT_EQ(ParseDecimal("5.", true), 5.0);
  EXPECT_FALSE(ParseDecimal("5.25km", true));
  EXPECT_EQ(ParseDecimal("5.25km", false), 5.25);
  EXPECT_EQ(ParseDecimal("km", false), 0.0);
  EXPECT_FALSE(ParseDecimal("", true));
}

TEST(RunnerResultTest, DistanceIgnoresTheProcessLocale) {
  const char* previous = std::setlocale(LC_NUMERIC, nullptr);
  std::string saved = previous != nullptr ? previous : "C";
  // A locale with a decimal comma, when the machine has one.
  if (std::setlocale(LC_NUMERIC, "fr_FR.UTF-8") == nullptr &&
      std::setlocale(LC_NUMERIC, "de_DE.UTF-8") == nullptr) {
    GTEST_SKIP() << "no locale with a decimal comma";
  }
  std::optional<CRunnerResult> r = DecodeTaggedResult(
      "nq05\\2\\5.25\\FRA\\12\\3\\1\\123\\Durand\\Marie\\F\\SEN\\Senior\\AC Lyon\\00:23:45\\0\\3");
  std::setlocale(LC_NUMERIC, saved.c_str());
  ASSERT_TRUE(r);
  EXPECT_EQ(r->dist, 5.25);
}

}  // namespace
}  // namespace lapora
