// The manual detection dialog offscreen, run with exec() and driven from inside it: its initial
// fields, the "+24h" indicator, the warnings of a refused OK and the accepted entry. With
// LAPORA_SCREENSHOT set to a file path, the test of the initial fields also saves a picture of
// the dialog there.
#include <QApplication>
#include <QImage>
#include <QTest>
#include <ctime>

#include "foundation/chrono.h"
#include "foundation/clock.h"
#include "resources/messages_listops.h"
#include "ui/dialog_driver.h"
#include "ui/dlg_insert_time_new.h"
#include "ui/qt_text.h"
#include "ui/ui_resources.h"

namespace lapora {

namespace {

// Local 14 May 2012, 10:23:45.670: race day 1 of the race days used below.
std::int64_t LocalMs() {
  std::tm tm{};
  tm.tm_year = 2012 - 1900;
  tm.tm_mon = 4;
  tm.tm_mday = 14;
  tm.tm_hour = 10;
  tm.tm_min = 23;
  tm.tm_sec = 45;
  tm.tm_isdst = -1;
  return static_cast<std::int64_t>(std::mktime(&tm)) * 1000 + 670;
}

const std::array<std::string, 4> kRaceDays{"20120513", "20120514", "20120515", "20120516"};

using testing::ExecWith;

}  // namespace

class DlgInsertTimeNewTest : public QObject {
  Q_OBJECT

 private:
  ManualClock m_clock{LocalMs()};
  QStringList m_warnings;

  std::unique_ptr<CDlgInsertTimeNew> MakeDialog(std::vector<std::string> detectors,
                                                int remembered) {
    auto dialog =
        std::make_unique<CDlgInsertTimeNew>(std::move(detectors), remembered, kRaceDays, m_clock);
    dialog->SetWarningShower([this](const QString& text) { m_warnings.push_back(text); });
    return dialog;
  }

 private slots:
  void initTestCase() { InitUiResources(); }
  void init() { m_warnings.clear(); }

  void opensWithNowTheRememberedDetectorAndTodaysCorrection() {
    auto dialog = MakeDialog({"FIN", "KM5", "MID"}, 1);
    int result = ExecWith(*dialog, [](CDlgInsertTimeNew& shown) {
      QCOMPARE(shown.windowTitle(), ToQt(kMsgManualEntryTitle));
      QCOMPARE(shown.TimeEdit()->text(), QStringLiteral("10:23:45.67"));
      QVERIFY(shown.BibEdit()->text().isEmpty());
      QCOMPARE(shown.focusWidget(), shown.BibEdit());
      QCOMPARE(shown.DetectorBox()->count(), 3);
      QCOMPARE(shown.DetectorBox()->currentText(), QStringLiteral("KM5"));
      QCOMPARE(shown.CorrectionBox()->count(), 4);
      QCOMPARE(shown.CorrectionBox()->currentIndex(), 1);  // today is race day 1
      QCOMPARE(shown.CorrectionBox()->itemText(3), ToQt(kMsgCorrection72h));
      QVERIFY(shown.IndicatorText()->isVisible());
      QCOMPARE(shown.IndicatorText()->text(), QStringLiteral("+24h"));
      QCOMPARE(shown.OkButton()->text(), QStringLiteral("OK"));
      QCOMPARE(shown.CancelButton()->text(), ToQt(kMsgManualCancel));

      QImage picture = shown.grab().toImage();
      QVERIFY(!picture.isNull());
      QVERIFY(picture.width() > 200 && picture.height() > 100);
      QByteArray path = qgetenv("LAPORA_SCREENSHOT");
      if (!path.isEmpty()) {
        QVERIFY(picture.save(QString::fromLocal8Bit(path)));
      }
      QTest::keyClick(shown.BibEdit(), Qt::Key_Escape);
    });
    QCOMPARE(result, static_cast<int>(QDialog::Rejected));
  }

  void rememberedIndexOutOfRangeTakesTheFirstDetector() {
    auto dialog = MakeDialog({"FIN", "KM5"}, 7);
    QCOMPARE(dialog->DetectorBox()->currentIndex(), 0);
    auto empty = MakeDialog({}, 0);
    QCOMPARE(empty->DetectorBox()->currentIndex(), -1);
  }

  void indicatorShowsOnlyAboveTheFirstCorrection() {
    auto dialog = MakeDialog({"FIN"}, 0);
    int result = ExecWith(*dialog, [](CDlgInsertTimeNew& shown) {
      shown.CorrectionBox()->setCurrentIndex(0);
      QVERIFY(!shown.IndicatorText()->isVisible());
      QVERIFY(!shown.IndicatorImage()->isVisible());
      shown.CorrectionBox()->setCurrentIndex(3);
      QVERIFY(shown.IndicatorImage()->isVisible());
      QCOMPARE(shown.IndicatorText()->text(), QStringLiteral("+72h"));
      shown.CancelButton()->click();
    });
    QCOMPARE(result, static_cast<int>(QDialog::Rejected));
  }

  void refusedEntryWarnsAndStaysOpen() {
    auto dialog = MakeDialog({"FIN"}, 0);
    int result = ExecWith(*dialog, [this](CDlgInsertTimeNew& shown) {
      shown.BibEdit()->setText(QStringLiteral("abc"));
      shown.OkButton()->click();
      QCOMPARE(m_warnings, QStringList{ToQt(kMsgInvalidBib)});
      QVERIFY(shown.BibEdit()->text().isEmpty());  // the bib field is emptied
      QVERIFY(shown.isVisible());

      shown.BibEdit()->setText(QStringLiteral("12"));
      shown.TimeEdit()->setText(QStringLiteral("later"));
      shown.OkButton()->click();
      QCOMPARE(m_warnings.back(), ToQt(kMsgInvalidManualTime));
      QCOMPARE(shown.BibEdit()->text(), QStringLiteral("12"));  // only the bib is ever emptied
      QVERIFY(shown.isVisible());
      shown.CancelButton()->click();
    });
    QCOMPARE(result, static_cast<int>(QDialog::Rejected));
  }

  void noDetectorConfiguredEndsWithTheDetectorWarning() {
    auto dialog = MakeDialog({}, 0);
    int result = ExecWith(*dialog, [this](CDlgInsertTimeNew& shown) {
      shown.BibEdit()->setText(QStringLiteral("7"));
      shown.OkButton()->click();
      QCOMPARE(m_warnings, QStringList{ToQt(kMsgNoDetectorId)});
      QVERIFY(shown.isVisible());
      shown.CancelButton()->click();
    });
    QCOMPARE(result, static_cast<int>(QDialog::Rejected));
  }

  void enterAcceptsAValidEntry() {
    auto dialog = MakeDialog({"FIN", "KM5"}, 0);
    int result = ExecWith(*dialog, [](CDlgInsertTimeNew& shown) {
      shown.TimeEdit()->setText(QStringLiteral("10:05:30.5"));
      shown.DetectorBox()->setCurrentIndex(1);
      shown.CorrectionBox()->setCurrentIndex(1);
      shown.BibEdit()->setFocus();
      QTest::keyClicks(shown.BibEdit(), QStringLiteral("007"));
      QTest::keyClick(shown.BibEdit(), Qt::Key_Return);
    });
    QCOMPARE(result, static_cast<int>(QDialog::Accepted));
    QVERIFY(m_warnings.isEmpty());
    QVERIFY(!dialog->isVisible());
    const ManualEntry& entry = dialog->Entry();
    QCOMPARE(entry.bibText, std::string("7"));
    QCOMPARE(entry.detectorLabel, std::string("KM5"));
    QCOMPARE(entry.detectorIndex, 1);
    QCOMPARE(ManualEntryRaceTime(entry).FormatHundredths(), std::string("34:05:30.05"));
  }

  void cancelRecordsNothing() {
    auto dialog = MakeDialog({"FIN"}, 0);
    int result = ExecWith(*dialog, [](CDlgInsertTimeNew& shown) {
      shown.BibEdit()->setText(QStringLiteral("abc"));
      shown.CancelButton()->click();
    });
    QCOMPARE(result, static_cast<int>(QDialog::Rejected));
    QVERIFY(m_warnings.isEmpty());
  }
};

}  // namespace lapora

QTEST_MAIN(lapora::DlgInsertTimeNewTest)
#include "dlg_insert_time_new_test.moc"
