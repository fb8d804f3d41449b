// The handicap re-timing dialog offscreen, run with exec() and driven from inside it: the
// passage it shows, the first passage time, a refused time that keeps it open, and the handicap
// of an accepted one. With LAPORA_SCREENSHOT set to a file path, the first test also saves a
// picture of the dialog there.
#include <QApplication>
#include <QImage>
#include <QTest>
#include <memory>

#include "foundation/chrono.h"
#include "resources/messages_export.h"
#include "ui/dialog_driver.h"
#include "ui/dlg_recalage.h"
#include "ui/qt_text.h"

namespace lapora {

using testing::ExecWith;

class DlgRecalageTest : public QObject {
  Q_OBJECT

 private:
  QStringList m_warnings;

  std::unique_ptr<CDlgRecalage> MakeDialog(const CChrono& handicap) {
    HandicapRetiming retiming;
    retiming.bib = "1234";
    retiming.passNumber = 1;
    retiming.clockTime = CChrono(36930, 270);  // 10:15:30.27
    retiming.handicap = handicap;
    auto dialog = std::make_unique<CDlgRecalage>(retiming);
    dialog->SetWarningShower([this](const QString& text) { m_warnings.push_back(text); });
    return dialog;
  }

 private slots:
  void init() { m_warnings.clear(); }

  void showsThePassageInBoldAndItsCurrentTime() {
    auto dialog = MakeDialog(CChrono(36000, 0));
    int result = ExecWith(*dialog, [](CDlgRecalage& shown) {
      QCOMPARE(shown.windowTitle(), ToQt(kMsgRetimingTitle));
      QCOMPARE(shown.PassValue()->text(), QStringLiteral("1"));
      QCOMPARE(shown.BibValue()->text(), QStringLiteral("1234"));
      QCOMPARE(shown.ClockValue()->text(), QStringLiteral("10:15:30.27"));
      for (QLabel* value : {shown.PassValue(), shown.BibValue(), shown.ClockValue()}) {
        QCOMPARE(value->font().weight(), QFont::Bold);
      }
      QCOMPARE(shown.TimeEdit()->text(), QStringLiteral("00:15:30.27"));
      if (const char* path = std::getenv("LAPORA_SCREENSHOT")) {
        shown.grab().toImage().save(QString::fromLocal8Bit(path));
      }
      shown.CancelButton()->click();
    });
    QCOMPARE(result, static_cast<int>(QDialog::Rejected));
  }

  void anUnreadableTimeIsRefusedAndTheDialogStaysOpen() {
    auto dialog = MakeDialog(CChrono(36000, 0));
    int result = ExecWith(*dialog, [this](CDlgRecalage& shown) {
      shown.TimeEdit()->setText(QStringLiteral("15:30"));
      shown.OkButton()->click();
      QCOMPARE(m_warnings, QStringList{ToQt(kMsgRetimingInvalidTime)});
      QVERIFY(shown.isVisible());
      QCOMPARE(shown.Handicap(), CChrono(36000, 0));
      QTest::keyClick(shown.TimeEdit(), Qt::Key_Escape);
    });
    QCOMPARE(result, static_cast<int>(QDialog::Rejected));
    QCOMPARE(dialog->Handicap(), CChrono(36000, 0));
  }

  void enterGivesTheNewHandicap() {
    auto dialog = MakeDialog(CChrono());
    int result = ExecWith(*dialog, [](CDlgRecalage& shown) {
      shown.TimeEdit()->clear();
      QTest::keyClicks(shown.TimeEdit(), QStringLiteral("00.15.30.5"));
      QTest::keyClick(shown.TimeEdit(), Qt::Key_Return);
    });
    QCOMPARE(result, static_cast<int>(QDialog::Accepted));
    QVERIFY(m_warnings.isEmpty());
    QCOMPARE(dialog->Handicap().FormatHundredths(), std::string("10:00:00.22"));
  }

  void cancelKeepsTheHandicap() {
    auto dialog = MakeDialog(CChrono(3600, 0));
    int result = ExecWith(*dialog, [](CDlgRecalage& shown) {
      shown.TimeEdit()->setText(QStringLiteral("00:00:00.00"));
      shown.CancelButton()->click();
    });
    QCOMPARE(result, static_cast<int>(QDialog::Rejected));
    QCOMPARE(dialog->Handicap(), CChrono(3600, 0));
  }
};

}  // namespace lapora

QTEST_MAIN(lapora::DlgRecalageTest)
#include "dlg_recalage_test.moc"
