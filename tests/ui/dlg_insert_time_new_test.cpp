// The manual detection dialog offscreen: its initial fields, the "+24h" indicator, the warnings
// of a refused OK and the accepted entry. With LAPORA_SCREENSHOT set to a file path, the test of
// the initial fields also saves a picture of the dialog there.
#include <QApplication>
#include <QImage>
#include <QTest>
#include <ctime>

#include "foundation/chrono.h"
#include "foundation/clock.h"
#include "resources/messages_listops.h"
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
    dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
    QCOMPARE(dialog->windowTitle(), ToQt(kMsgManualEntryTitle));
    QCOMPARE(dialog->TimeEdit()->text(), QStringLiteral("10:23:45.67"));
    QVERIFY(dialog->BibEdit()->text().isEmpty());
    QCOMPARE(dialog->focusWidget(), dialog->BibEdit());
    QCOMPARE(dialog->DetectorBox()->count(), 3);
    QCOMPARE(dialog->DetectorBox()->currentText(), QStringLiteral("KM5"));
    QCOMPARE(dialog->CorrectionBox()->count(), 4);
    QCOMPARE(dialog->CorrectionBox()->currentIndex(), 1);  // today is race day 1
    QCOMPARE(dialog->CorrectionBox()->itemText(3), ToQt(kMsgCorrection72h));
    QVERIFY(dialog->IndicatorText()->isVisible());
    QCOMPARE(dialog->IndicatorText()->text(), QStringLiteral("+24h"));
    QCOMPARE(dialog->OkButton()->text(), QStringLiteral("OK"));
    QCOMPARE(dialog->CancelButton()->text(), ToQt(kMsgManualCancel));

    QImage picture = dialog->grab().toImage();
    QVERIFY(!picture.isNull());
    QVERIFY(picture.width() > 200 && picture.height() > 100);
    QByteArray path = qgetenv("LAPORA_SCREENSHOT");
    if (!path.isEmpty()) {
      QVERIFY(picture.save(QString::fromLocal8Bit(path)));
    }
  }

  void rememberedIndexOutOfRangeTakesTheFirstDetector() {
    auto dialog = MakeDialog({"FIN", "KM5"}, 7);
    QCOMPARE(dialog->DetectorBox()->currentIndex(), 0);
    auto empty = MakeDialog({}, 0);
    QCOMPARE(empty->DetectorBox()->currentIndex(), -1);
  }

  void indicatorShowsOnlyAboveTheFirstCorrection() {
    auto dialog = MakeDialog({"FIN"}, 0);
    dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
    dialog->CorrectionBox()->setCurrentIndex(0);
    QVERIFY(!dialog->IndicatorText()->isVisible());
    QVERIFY(!dialog->IndicatorImage()->isVisible());
    dialog->CorrectionBox()->setCurrentIndex(3);
    QVERIFY(dialog->IndicatorImage()->isVisible());
    QCOMPARE(dialog->IndicatorText()->text(), QStringLiteral("+72h"));
  }

  void refusedEntryWarnsAndStaysOpen() {
    auto dialog = MakeDialog({"FIN"}, 0);
    dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
    dialog->BibEdit()->setText(QStringLiteral("abc"));
    dialog->OkButton()->click();
    QCOMPARE(m_warnings, QStringList{ToQt(kMsgInvalidBib)});
    QVERIFY(dialog->BibEdit()->text().isEmpty());  // the bib field is emptied
    QVERIFY(dialog->isVisible());
    QCOMPARE(dialog->result(), 0);

    dialog->BibEdit()->setText(QStringLiteral("12"));
    dialog->TimeEdit()->setText(QStringLiteral("later"));
    dialog->OkButton()->click();
    QCOMPARE(m_warnings.back(), ToQt(kMsgInvalidManualTime));
    QCOMPARE(dialog->BibEdit()->text(), QStringLiteral("12"));  // only the bib is ever emptied
    QVERIFY(dialog->isVisible());
  }

  void noDetectorConfiguredEndsWithTheDetectorWarning() {
    auto dialog = MakeDialog({}, 0);
    dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
    dialog->BibEdit()->setText(QStringLiteral("7"));
    dialog->OkButton()->click();
    QCOMPARE(m_warnings, QStringList{ToQt(kMsgNoDetectorId)});
    QVERIFY(dialog->isVisible());
  }

  void enterAcceptsAValidEntry() {
    auto dialog = MakeDialog({"FIN", "KM5"}, 0);
    dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
    dialog->TimeEdit()->setText(QStringLiteral("10:05:30.5"));
    dialog->DetectorBox()->setCurrentIndex(1);
    dialog->CorrectionBox()->setCurrentIndex(1);
    dialog->BibEdit()->setFocus();
    QTest::keyClicks(dialog->BibEdit(), QStringLiteral("007"));
    QTest::keyClick(dialog->BibEdit(), Qt::Key_Return);
    QVERIFY(m_warnings.isEmpty());
    QCOMPARE(dialog->result(), static_cast<int>(QDialog::Accepted));
    QVERIFY(!dialog->isVisible());
    const ManualEntry& entry = dialog->Entry();
    QCOMPARE(entry.bibText, std::string("7"));
    QCOMPARE(entry.detectorLabel, std::string("KM5"));
    QCOMPARE(entry.detectorIndex, 1);
    QCOMPARE(ManualEntryRaceTime(entry).FormatHundredths(), std::string("34:05:30.05"));
  }

  void cancelRecordsNothing() {
    auto dialog = MakeDialog({"FIN"}, 0);
    dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
    dialog->BibEdit()->setText(QStringLiteral("abc"));
    dialog->CancelButton()->click();
    QCOMPARE(dialog->result(), static_cast<int>(QDialog::Rejected));
    QVERIFY(m_warnings.isEmpty());
  }
};

}  // namespace lapora

QTEST_MAIN(lapora::DlgInsertTimeNewTest)
#include "dlg_insert_time_new_test.moc"
