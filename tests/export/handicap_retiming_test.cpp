#include "export/handicap_retiming.h"

#include <gtest/gtest.h>

#include "foundation/text.h"
#include "resources/messages_export.h"

namespace lapora {
namespace {

HandicapRetiming At(const CChrono& clockTime, const CChrono& handicap) {
  HandicapRetiming retiming;
  retiming.bib = "12";
  retiming.clockTime = clockTime;
  retiming.handicap = handicap;
  return retiming;
}

const CChrono kClock(36930, 270);  // 10:15:30.27

TEST(HandicapRetiming, TheEnteredPassageTimeGivesTheHandicap) {
  HandicapRetiming retiming = At(kClock, CChrono());
  EXPECT_EQ(RetimingStartText(retiming), "10:15:30.27");
  EXPECT_FALSE(ApplyRetiming(retiming, "00:15:30.27"));
  EXPECT_EQ(retiming.handicap, CChrono(36000, 0));
  EXPECT_EQ(retiming.handicap.FormatHundredths(), "10:00:00.00");
}

TEST(HandicapRetiming, TheTextShownUnchangedKeepsTheHandicap) {
  HandicapRetiming retiming = At(kClock, CChrono(35999, 990));  // 09:59:59.99
  std::string shown = RetimingStartText(retiming);
  EXPECT_EQ(shown, "00:15:30.28");
  EXPECT_FALSE(ApplyRetiming(retiming, shown));
  EXPECT_EQ(retiming.handicap, CChrono(35999, 990));
}

TEST(HandicapRetiming, EnteredFormsAndRefusals) {
  struct Row {
    const char* entered;
    bool accepted;
    const char* handicap;  // FormatHundredths of the new one
  };
  const Row rows[] = {
      {"00:15:30", true, "10:00:00.27"},    // hundredths are optional
      {"00.15.30.5", true, "10:00:00.22"},  // 00:15:30.05
      {"00:15:30.27", true, "10:00:00.00"}, {"15:30", false, "01:02:03.00"},  // two fields
      {"", false, "01:02:03.00"},           {"quinze", false, "01:02:03.00"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.entered);
    HandicapRetiming retiming = At(kClock, CChrono(3723, 0));
    std::optional<std::string> warning = ApplyRetiming(retiming, row.entered);
    EXPECT_EQ(!warning.has_value(), row.accepted);
    if (warning) {
      EXPECT_EQ(*warning, Tr(kMsgRetimingInvalidTime));
    }
    EXPECT_EQ(retiming.handicap.FormatHundredths(), row.handicap);
  }
}

TEST(HandicapRetiming, APassageLaterThanTheClockGivesANegativeHandicap) {
  HandicapRetiming retiming = At(CChrono(3600, 0), CChrono());
  EXPECT_FALSE(ApplyRetiming(retiming, "02:00:00.00"));
  EXPECT_EQ(retiming.handicap, CChrono(-3600, 0));
  // Subtracting it gives back the entered passage time.
  EXPECT_EQ((retiming.clockTime - retiming.handicap).FormatHundredths(), "02:00:00.00");
}

}  // namespace
}  // namespace lapora
