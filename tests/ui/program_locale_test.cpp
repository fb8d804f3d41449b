// The window program on a desktop whose locale writes numbers with a decimal comma: numbers
// sent to boxes keep their point, month names follow the user, and the toolkit's own texts
// (message-box buttons) are in the build's language. Runs the real application object that
// the program makes, under fr_FR.UTF-8.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <string>

#include "boxlink/box_protocol.h"
#include "foundation/text.h"
#include "ui/qt_session.h"

namespace lapora {
namespace {

TEST(ProgramLocaleTest, NumbersKeepTheirPointWhileMonthsFollowTheUser) {
  EXPECT_EQ(GateTimeParameter(5.0), "5.0");
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", 1.25);
  EXPECT_STREQ(text, "1.25");
  EXPECT_DOUBLE_EQ(std::strtod("2.5", nullptr), 2.5);

  std::tm june{};
  june.tm_year = 126;
  june.tm_mon = 5;
  june.tm_mday = 9;
  char month[64];
  ASSERT_GT(std::strftime(month, sizeof month, "%B", &june), 0u);
  EXPECT_STREQ(month, "juin");
}

TEST(ProgramLocaleTest, QuestionButtonsSpeakTheBuildLanguage) {
  QMessageBox box(QMessageBox::Question, QStringLiteral("Lapora"), QStringLiteral("?"),
                  QMessageBox::Yes | QMessageBox::No);
  QString yes;
  QString no;
  // Read and answered from inside the question's own loop, as the operator sees it.
  QTimer::singleShot(0, &box, [&] {
    yes = box.button(QMessageBox::Yes)->text();
    no = box.button(QMessageBox::No)->text();
    box.button(QMessageBox::No)->click();
  });
  EXPECT_EQ(box.exec(), QMessageBox::No);
  yes.remove('&');
  no.remove('&');
  if (BuildLanguage() == Language::kFrench) {
    EXPECT_EQ(yes.toStdString(), "Oui");
    EXPECT_EQ(no.toStdString(), "Non");
  } else {
    EXPECT_EQ(yes.toStdString(), "Yes");
    EXPECT_EQ(no.toStdString(), "No");
  }
}

}  // namespace
}  // namespace lapora

int main(int argc, char** argv) {
  // The desktop's locale, as a French operator has it.
  setenv("LC_ALL", "fr_FR.UTF-8", 1);
  setenv("LANG", "fr_FR.UTF-8", 1);
  if (std::setlocale(LC_ALL, "fr_FR.UTF-8") == nullptr) {
    std::fputs(
        "program_locale_test: the locale fr_FR.UTF-8 is not generated on this machine "
        "(scripts/install-deps makes it)\n",
        stderr);
    return 1;
  }
  std::setlocale(LC_ALL, "C");
  ::testing::InitGoogleTest(&argc, argv);
  lapora::QtSession session(argc, argv);
  return RUN_ALL_TESTS();
}
