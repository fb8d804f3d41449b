#include "detections/recorded_detections.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "foundation/events.h"
#include "foundation/log.h"
#include "foundation/text.h"
#include "resources/messages_detections.h"
#include "support/temp_dir.h"

namespace lapora {
namespace {

using testing::ReadFile;
using testing::TempDir;

class RecordedDetectionsTest : public ::testing::Test {
 protected:
  RecordedDetectionsTest() { m_log.SetPostingEnabled(true); }

  std::vector<std::string> LogTexts() {
    std::vector<std::string> texts;
    m_events.Dispatch([&](const Event& event) {
      if (const auto* line = std::get_if<LogLineEvent>(&event)) {
        texts.push_back(line->text);
      }
    });
    return texts;
  }
  CKolResult Add(const std::string& bib, int kind = 0, bool toFile = true) {
    return m_records.AddDetectionRecord("FIN", bib, CChrono(1336897425, 50), CChrono(37425, 120),
                                        kind, toFile);
  }

  TempDir m_dir;
  EventQueue m_events;
  Logger m_log{m_events};
  CRecordedDetections m_records{m_log};
};

TEST_F(RecordedDetectionsTest, RecordFieldsAndTimeTexts) {
  CKolResult dayTime = Add("123");
  EXPECT_EQ(dayTime.bibText, "123");
  EXPECT_EQ(dayTime.timeText, "10:23:45.12");
  EXPECT_EQ(dayTime.detectorLabel, "FIN");
  EXPECT_EQ(dayTime.kindMarker, 0);
  EXPECT_EQ(dayTime.reserved1, 1);
  EXPECT_EQ(dayTime.reserved2, 0);
  EXPECT_EQ(dayTime.valid, 1);
  // Absolute clock: hundredths without padding (50 ms is .5, 500 ms is .50).
  EXPECT_EQ(Add("124", 1).timeText, "1336897425.5");
  EXPECT_EQ(DetectionTimeText(CChrono(7, 500), CChrono(), 1), "7.50");
  EXPECT_EQ(DetectionTimeText(CChrono(7, 9), CChrono(), 1), "7.0");
}

TEST_F(RecordedDetectionsTest, IdsCountFromOneAndGoOnAfterClearing) {
  EXPECT_EQ(Add("1").id, 1);
  EXPECT_EQ(Add("2").id, 2);
  m_records.ClearRecords();
  EXPECT_EQ(m_records.RecordCount(), 0u);
  EXPECT_FALSE(m_records.FindRecord(1).has_value());
  CKolResult next = Add("3");
  EXPECT_EQ(next.id, 3);
  ASSERT_TRUE(m_records.FindRecord(3).has_value());
  EXPECT_EQ(*m_records.FindRecord(3), next);
  EXPECT_FALSE(m_records.FindRecord(0).has_value());

  // Each list counts on its own.
  CRecordedDetections other(m_log);
  EXPECT_EQ(other.AddDetectionRecord("X", "1", CChrono(), CChrono(), 0, false).id, 1);
}

TEST_F(RecordedDetectionsTest, IdsWrapWithoutZeroOrMinusOne) {
  EXPECT_EQ(NextRecordId(0), 1);
  EXPECT_EQ(NextRecordId(41), 42);
  EXPECT_EQ(NextRecordId(INT_MAX), INT_MIN);
  EXPECT_EQ(NextRecordId(-3), -2);
  EXPECT_EQ(NextRecordId(-2), 1);
}

TEST_F(RecordedDetectionsTest, ValidFlagsAndCount) {
  Add("1");
  int second = Add("2").id;
  Add("3");
  EXPECT_EQ(m_records.CountValidRecords(), 3);
  EXPECT_TRUE(m_records.SetValid(second, 0));
  EXPECT_TRUE(m_records.SetValid(second, 0));  // twice removed counts once
  EXPECT_EQ(m_records.CountValidRecords(), 2);
  EXPECT_EQ(m_records.FindRecord(second)->valid, 0);
  EXPECT_FALSE(m_records.SetValid(999, 0));
  EXPECT_TRUE(m_records.SetValid(second, 1));
  EXPECT_EQ(m_records.CountValidRecords(), 3);
  m_records.ClearRecords();
  EXPECT_EQ(m_records.CountValidRecords(), 0);
}

TEST_F(RecordedDetectionsTest, FileLinesNumberTheListWithCrLf) {
  std::string path = m_dir.File("in.dat");
  m_records.OpenDetectionFile(path);
  EXPECT_TRUE(m_records.IsDetectionFileOpen());
  Add("123");
  Add("124", 1);
  Add("125", 0, false);  // kept in memory only
  Add("126");
  EXPECT_EQ(ReadFile(path),
            "1\tFIN\t123\t1\t10:23:45.12\t1\r\n"
            "2\tFIN\t124\t1\t1336897425.5\t2\r\n"
            "4\tFIN\t126\t1\t10:23:45.12\t1\r\n");
  EXPECT_EQ(m_records.RecordCount(), 4u);
}

TEST_F(RecordedDetectionsTest, OpeningTheOpenPathAgainDoesNothing) {
  std::string path = m_dir.File("in.dat");
  m_records.OpenDetectionFile(path);
  EXPECT_EQ(LogTexts(),
            std::vector<std::string>{StrF(Tr(kMsgOpeningDetectionFile).c_str(), path.c_str())});
  Add("1");
  m_records.OpenDetectionFile(path);
  EXPECT_TRUE(LogTexts().empty());
  Add("2");
  EXPECT_EQ(ReadFile(path), "1\tFIN\t1\t1\t10:23:45.12\t1\r\n2\tFIN\t2\t1\t10:23:45.12\t1\r\n");

  // Reopening after a close appends to the same file and logs again.
  m_records.CloseDetectionFile();
  EXPECT_FALSE(m_records.IsDetectionFileOpen());
  Add("3");
  m_records.OpenDetectionFile(path);
  EXPECT_EQ(LogTexts().size(), 1u);
  Add("4");
  EXPECT_EQ(ReadFile(path),
            "1\tFIN\t1\t1\t10:23:45.12\t1\r\n2\tFIN\t2\t1\t10:23:45.12\t1\r\n"
            "4\tFIN\t4\t1\t10:23:45.12\t1\r\n");
}

TEST_F(RecordedDetectionsTest, OpenFailureKeepsRecordingInMemory) {
  std::string path = m_dir.File("no-such-folder/in.dat");
  m_records.OpenDetectionFile(path);
  EXPECT_EQ(LogTexts(), (std::vector<std::string>{
                            StrF(Tr(kMsgOpeningDetectionFile).c_str(), path.c_str()),
                            StrF(Tr(kMsgErrorOpeningDetectionFile).c_str(), path.c_str())}));
  EXPECT_FALSE(m_records.IsDetectionFileOpen());
  EXPECT_EQ(m_records.DetectionFilePath(), path);
  Add("1");
  EXPECT_EQ(m_records.RecordCount(), 1u);
}

TEST_F(RecordedDetectionsTest, ResetUnderTheLockStartsANewFileAtLineOne) {
  std::string first = m_dir.File("first.dat");
  std::string second = m_dir.File("second.dat");
  m_records.OpenDetectionFile(first);
  Add("1");
  Add("2");
  int cleared = m_records.WithLock([&](CRecordedDetections::Locked& locked) {
    int count = locked.CountValidRecords();
    locked.ClearRecords();
    locked.CloseDetectionFile();
    locked.OpenDetectionFile(second);
    return count;
  });
  EXPECT_EQ(cleared, 2);
  CKolResult next = Add("3");
  EXPECT_EQ(next.id, 3);
  EXPECT_EQ(ReadFile(first), "1\tFIN\t1\t1\t10:23:45.12\t1\r\n2\tFIN\t2\t1\t10:23:45.12\t1\r\n");
  EXPECT_EQ(ReadFile(second), "1\tFIN\t3\t1\t10:23:45.12\t1\r\n");
}

}  // namespace
}  // namespace lapora
