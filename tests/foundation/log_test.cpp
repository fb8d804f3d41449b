#include "foundation/log.h"

#include <gtest/gtest.h>

#include "foundation/events.h"
#include "support/temp_dir.h"

namespace lapora {
namespace {

class LogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_log.SetLogFilePath(m_dir.File("Lapora.log"));
    m_log.SetPostingEnabled(true);
  }
  // Handles every posted text as the main thread does; returns the window lines.
  std::vector<std::string> Drain() {
    std::vector<std::string> lines;
    m_events.Dispatch([&](const Event& e) {
      if (const auto* line = std::get_if<LogLineEvent>(&e)) {
        std::string window;
        if (m_log.HandlePostedText(line->level, line->text, &window))
          lines.push_back(window);
      }
    });
    return lines;
  }
  std::string File() const { return testing::ReadFile(m_dir.File("Lapora.log")); }

  testing::TempDir m_dir;
  EventQueue m_events;
  Logger m_log{m_events};
};

TEST_F(LogTest, CarriageReturnAndLineFeedAreRenderedOnOneLine) {
  m_log.PostLog(0, "a\r\nb");
  auto lines = Drain();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find(" a<CR><LF>b"), std::string::npos);
  EXPECT_NE(File().find(" : a<CR><LF>b\r\n"), std::string::npos);
}

TEST_F(LogTest, LevelFiltersBothTheListAndTheFile) {
  m_log.SetLevel(50);
  m_log.PostLog(75, "+ Box 1 : Detection ignored");
  EXPECT_TRUE(Drain().empty());
  EXPECT_EQ(File(), "");
  m_log.SetLevel(75);
  m_log.PostLog(75, "+ Box 1 : Detection ignored");
  EXPECT_EQ(Drain().size(), 1u);
  EXPECT_NE(File().find("Detection ignored"), std::string::npos);
}

TEST_F(LogTest, TextsPostedBeforeTheWindowExistsAreDroppedButWrittenTextsAreKept) {
  m_log.SetPostingEnabled(false);
  m_log.PostLog(0, "early");
  m_log.WriteLog("------------------------ Sortie %s", "Lapora");
  EXPECT_TRUE(Drain().empty());
  EXPECT_NE(File().find(" : ------------------------ Sortie Lapora\r\n"), std::string::npos);
}

TEST_F(LogTest, WritingOneLineFeedGivesAnEmptyLine) {
  m_log.WriteLogText("\n");
  m_log.WriteLog("x");
  std::string file = File();
  EXPECT_EQ(file.substr(0, 2), "\r\n");
  EXPECT_EQ(file.substr(file.size() - 6), " : x\r\n");
}

TEST_F(LogTest, FormattedTextsAreCutAt1023Characters) {
  std::string longText(3000, 'x');
  m_log.PostLogF(0, "%s", longText.c_str());
  std::size_t size = 0;
  m_events.Dispatch([&](const Event& e) { size = std::get<LogLineEvent>(e).text.size(); });
  EXPECT_EQ(size, 1023u);
}

TEST_F(LogTest, The8001stLinePurgesTheOldest2000WithTwoNotices) {
  LogList list(m_log);
  std::size_t purged = 0;
  for (int i = 1; i <= 8001; ++i)
    purged += list.Add("line " + std::to_string(i));
  EXPECT_EQ(purged, 2000u);
  EXPECT_EQ(list.Lines().size(), 6001u);
  EXPECT_EQ(list.Lines().front(), "line 2001");
  std::string file = File();
  EXPECT_NE(file.find("Purge Log Window content..."), std::string::npos);
  EXPECT_NE(file.find("Purge Log Window done"), std::string::npos);
  EXPECT_EQ(file.find("line 1"), std::string::npos);
}

TEST_F(LogTest, AlertWithMessageBoxPostsTheBoxBeforeTheLogLine) {
  m_log.PostAlert("Box lost", true);
  std::vector<std::string> seen;
  m_events.Dispatch([&](const Event& e) {
    if (auto* a = std::get_if<AlertEvent>(&e))
      seen.push_back("box:" + a->text);
    if (auto* l = std::get_if<LogLineEvent>(&e))
      seen.push_back(l->text);
  });
  EXPECT_EQ(seen, (std::vector<std::string>{"box:Box lost", "######## Box lost"}));
}

}  // namespace
}  // namespace lapora
