// The handicap re-timing dialog offscreen: the passage it shows, the first passage time, a
// refused time that keeps it open, and the handicap of an accepted one. With LAPORA_SCREENSHOT
// set to a file path, the first test also saves a picture of the dialog there.
#include <QApplication>
#include <QImage>
#include <QTest>
#include <memory>

#include "foundation/chrono.h"
#include "resources/messages_export.h"
#include "ui/dlg_recalage.h"
#include "ui/qt_text.h"

namespace lapora {

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
    dialog->show();
    return dialog;
  }

 private slots:
  void init() { m_warnings.clear(); }

  void showsThePassageInBoldAndItsCurrentTime() {
    auto dialog = MakeDialog(CChrono(36000, 0));
    QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
    QCOMPARE(dialog->windowTitle(), ToQt(kMsgRetimingTitle));
    QCOMPARE(dialog->PassValue()->text(), QStringLiteral("1"));
    QCOMPARE(dialog->BibValue()->text(), QStringLiteral("1234"));
    QCOMPARE(dialog->ClockValue()->text(), QStringLiteral("10:15:30.27"));
    for (QLabel* value : {dialog->PassValue(), dialog->BibValue(), dialog->ClockValue()}) {
      QCOMPARE(value->font().weight(), QFont::Bold);
    }
    QCOMPARE(dialog->TimeEdit()->text(), QStringLiteral("00:15:30.27"));
    if (const char* path = std::getenv("LAPORA_SCREENSHOT")) {
      dialog->grab().toImage().save(QString::fromLocal8Bit(path));
    }
  }

  void anUnreadableTimeIsRefusedAndTheDialogStaysOpen() {
    auto dialog = MakeDialog(CChrono(36000, 0));
    QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
    dialog->TimeEdit()->setText(QStringLiteral("15:30"));
    dialog->OkButton()->click();
    QCOMPARE(m_warnings, QStringList{ToQt(kMsgRetimingInvalidTime)});
    QVERIFY(dialog->isVisible());
    QCOMPARE(dialog->Handicap(), CChrono(36000, 0));
  }

  void enterGivesTheNewHandicap() {
    auto dialog = MakeDialog(CChrono());
    QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
    dialog->TimeEdit()->clear();
    QTest::keyClicks(dialog->TimeEdit(), QStringLiteral("00.15.30.5"));
    QTest::keyClick(dialog->TimeEdit(), Qt::Key_Return);
    QCOMPARE(dialog->result(), static_cast<int>(QDialog::Accepted));
    QVERIFY(m_warnings.isEmpty());
    QCOMPARE(dialog->Handicap().FormatHundredths(), std::string("10:00:00.22"));
  }

  void cancelKeepsTheHandicap() {
    auto dialog = MakeDialog(CChrono(3600, 0));
    QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
    dialog->TimeEdit()->setText(QStringLiteral("00:00:00.00"));
    dialog->CancelButton()->click();
    QCOMPARE(dialog->result(), static_cast<int>(QDialog::Rejected));
    QCOMPARE(dialog->Handicap(), CChrono(3600, 0));
  }
};

}  // namespace lapora

QTEST_MAIN(lapora::DlgRecalageTest)
#include "dlg_recalage_test.moc"
