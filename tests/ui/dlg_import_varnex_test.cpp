// The import dialog offscreen over real box data files in a temporary folder, run with exec() and
// driven from inside it: the search fills the information list and the count and enables the
// actions, refused times and paths, the closing actions with their questions, the source menu's
// box entries and the remembered values.
#include <QApplication>
#include <QTest>
#include <filesystem>

#include "detections/chip_table.h"
#include "foundation/app_settings.h"
#include "resources/messages_import.h"
#include "support/temp_dir.h"
#include "ui/dialog_driver.h"
#include "ui/dlg_import_varnex.h"
#include "ui/qt_text.h"

namespace lapora {

namespace {

const std::array<std::string, 4> kRaceDays{"20120512", "20120513", "20120514", "20120515"};

using testing::ExecWith;

constexpr int kAccepted = QDialog::Accepted;
constexpr int kRejected = QDialog::Rejected;

}  // namespace

class DlgImportVarnexTest : public QObject {
  Q_OBJECT

 private:
  testing::TempDir m_dir;
  CChipTable m_chips;
  AppSettings m_settings;
  ImportDialogMemory m_memory;
  QStringList m_warnings;
  QStringList m_questions;
  bool m_answer = true;
  std::vector<std::string> m_announced;
  std::function<ImportBoxFetch(int)> m_fetch;

  std::unique_ptr<CDlgImportVarnex> MakeDialog() {
    ImportDialogSetup setup{m_chips, m_settings, m_memory};
    setup.announcedIds = m_announced;
    setup.boxConnected = [](int box) { return box == 2; };
    setup.fetchFromBox = m_fetch;
    auto dialog = std::make_unique<CDlgImportVarnex>(std::move(setup));
    dialog->SetWarningShower([this](const QString& text) { m_warnings.push_back(text); });
    dialog->SetQuestionAsker([this](const QString& text) {
      m_questions.push_back(text);
      return m_answer;
    });
    return dialog;
  }

  // A file of three detections of 13 May 2012 (two of them repeats 20 ms apart) and one of the
  // next day.
  void WriteBoxFile() {
    testing::WriteFile(m_dir.File("box.csv"),
                       "E1,2012-05-13 10:00:00.000,x,y\n"
                       "E1,2012-05-13 10:00:00.020,x,y\n"
                       "E2:2012-05-13_10:05:00.000,port=1,rssi=-60\n"
                       "E3,2012-05-14 10:00:00.000,x,y\n");
  }

  // Searches the box file over the whole of 13 May.
  void SearchWholeDay(CDlgImportVarnex& dialog) {
    dialog.FileEdit()->setText(ToQt(m_dir.File("box.csv")));
    dialog.DateEdit()->setDate(QDate(2012, 5, 13));
    dialog.StartEdit()->setText(QStringLiteral("00:00:00"));
    dialog.EndEdit()->setText(QStringLiteral("23:59:59"));
    QTest::mouseClick(dialog.SearchButton(), Qt::LeftButton);
  }

 private slots:
  void init() {
    WriteBoxFile();
    m_settings.SetRaceDayDates(kRaceDays);
    m_memory = ImportDialogMemory{};
    m_warnings.clear();
    m_questions.clear();
    m_answer = true;
    m_announced.clear();
    m_fetch = nullptr;
  }

  void opensWithItsFieldsAndNothingToDo() {
    m_announced = {"31", "10"};
    auto dialog = MakeDialog();
    int result = ExecWith(*dialog, [](CDlgImportVarnex& shown) {
      QCOMPARE(shown.windowTitle(), ToQt(kMsgImportTitle));
      QCOMPARE(shown.BoxIdBox()->count(), 22);
      QCOMPARE(shown.BoxIdBox()->itemText(0), QStringLiteral("31     CLASSIC"));
      QCOMPARE(shown.BoxIdBox()->itemText(2), QStringLiteral("11      (?)"));
      QCOMPARE(shown.BoxIdBox()->currentIndex(), -1);
      QCOMPARE(shown.StartEdit()->text(), QStringLiteral("00:00:00"));
      QCOMPARE(shown.EndEdit()->text(), QStringLiteral("23:59:59"));
      QVERIFY(!shown.ReplayButton()->isEnabled());
      QVERIFY(!shown.ImportButton()->isEnabled());
      QVERIFY(!shown.SaveButton()->isEnabled());
      QVERIFY(!shown.CountLabel()->isEnabled());
      // file, boxes 1 to 4, detection server x2
      QCOMPARE(shown.SourceMenu()->actions().size(), 7);
      QCOMPARE(shown.SourceMenu()->actions()[0]->text(), ToQt(kMsgImportSelectFile));

      shown.CorrectionBox()->setCurrentIndex(2);
      QVERIFY(shown.IndicatorText()->isVisible());
      QCOMPARE(shown.IndicatorText()->text(), QStringLiteral("+48h"));
      shown.CorrectionBox()->setCurrentIndex(0);
      QVERIFY(!shown.IndicatorText()->isVisible());

      shown.StartEdit()->clear();
      shown.StartMenu()->actions()[0]->trigger();
      QCOMPARE(shown.StartEdit()->text(), QStringLiteral("00:00:00"));
      shown.EndEdit()->clear();
      shown.EndMenu()->actions()[0]->trigger();
      QCOMPARE(shown.EndEdit()->text(), QStringLiteral("23:59:59"));
      // Nothing found: the closing actions do not close it.
      QTest::mouseClick(shown.ImportButton(), Qt::LeftButton);
      QVERIFY(shown.isVisible());
      QTest::mouseClick(shown.CancelButton(), Qt::LeftButton);
    });
    QCOMPARE(result, kRejected);
    QCOMPARE(dialog->Action(), ImportAction::kNone);
  }

  void searchFillsTheCountAndEnablesTheActions() {
    auto dialog = MakeDialog();
    int result = ExecWith(*dialog, [this](CDlgImportVarnex& shown) {
      SearchWholeDay(shown);
      QVERIFY2(m_warnings.isEmpty(), qPrintable(m_warnings.join('\n')));
      QCOMPARE(shown.Found().size(), std::size_t{2});
      QCOMPARE(shown.CountLabel()->text(), QStringLiteral("2 %1").arg(ToQt(kMsgImportConsistent)));
      QCOMPARE(shown.CorrectionBox()->currentIndex(), 1);  // 13 May is race day 1
      QVERIFY(shown.InformationList()->count() > 5);
      QCOMPARE(shown.InformationList()->item(0)->text(),
               ToQt(StrF(Tr(kMsgImportHeaderFile).c_str(), m_dir.File("box.csv").c_str())));
      // No box id yet: nothing to do.
      QVERIFY(!shown.ReplayButton()->isEnabled());
      shown.BoxIdBox()->setCurrentIndex(3);
      QVERIFY(shown.ReplayButton()->isEnabled());
      QVERIFY(shown.ImportButton()->isEnabled());
      QVERIFY(shown.SaveButton()->isEnabled());

      QTest::mouseClick(shown.ClearButton(), Qt::LeftButton);
      QCOMPARE(shown.InformationList()->count(), 0);
      QCOMPARE(m_memory.dateText, std::string("13/05/2012"));
      QTest::mouseClick(shown.ImportButton(), Qt::LeftButton);
    });
    QCOMPARE(result, kAccepted);
    QCOMPARE(dialog->Action(), ImportAction::kImport);
    QCOMPARE(dialog->TakeRequest().found.size(), std::size_t{2});
  }

  void refusedTimesAndMissingFilesAreWarned() {
    auto dialog = MakeDialog();
    int result = ExecWith(*dialog, [this](CDlgImportVarnex& shown) {
      shown.FileEdit()->setText(ToQt(m_dir.File("box.csv")));
      shown.StartEdit()->setText(QStringLiteral("ten"));
      QTest::mouseClick(shown.SearchButton(), Qt::LeftButton);
      QCOMPARE(m_warnings, QStringList{ToQt(kMsgImportStartInvalid)});
      QCOMPARE(shown.focusWidget(), shown.StartEdit());

      m_warnings.clear();
      shown.StartEdit()->setText(QStringLiteral("10:00:00"));
      shown.EndEdit()->setText(QString());
      QTest::mouseClick(shown.SearchButton(), Qt::LeftButton);
      QCOMPARE(m_warnings, QStringList{ToQt(kMsgImportEndInvalid)});
      QCOMPARE(shown.focusWidget(), shown.EndEdit());

      // A day past what the time values hold is refused as a date, not as a time.
      m_warnings.clear();
      shown.EndEdit()->setText(QStringLiteral("11:00:00"));
      shown.DateEdit()->setDate(QDate(2200, 1, 1));
      QTest::mouseClick(shown.SearchButton(), Qt::LeftButton);
      QCOMPARE(m_warnings,
               QStringList{ToQt(StrF(Tr(kMsgImportDateInvalid).c_str(), "01/01/2200"))});
      QVERIFY(shown.DateEdit()->hasFocus());

      m_warnings.clear();
      shown.DateEdit()->setDate(QDate(2012, 5, 13));
      shown.FileEdit()->setText(ToQt(m_dir.File("missing.csv")));
      QTest::mouseClick(shown.SearchButton(), Qt::LeftButton);
      QCOMPARE(m_warnings, QStringList{ToQt(StrF(Tr(kMsgImportFileMissing).c_str(),
                                                 m_dir.File("missing.csv").c_str()))});
      QCOMPARE(shown.focusWidget(), shown.FileEdit());
      QVERIFY(shown.Found().empty());
      QVERIFY(shown.isVisible());
      QTest::keyClick(&shown, Qt::Key_Escape);
    });
    QCOMPARE(result, kRejected);
    QCOMPARE(m_memory.startText, std::string("10:00:00"));
  }

  void saveAppendsKolAndAsksBeforeReplacing() {
    auto dialog = MakeDialog();
    int result = ExecWith(*dialog, [this](CDlgImportVarnex& shown) {
      SearchWholeDay(shown);
      shown.BoxIdBox()->setCurrentIndex(0);
      QTest::mouseClick(shown.SaveButton(), Qt::LeftButton);
      QCOMPARE(m_warnings, QStringList{ToQt(kMsgImportNoOutput)});
      QVERIFY(shown.isVisible());

      testing::WriteFile(m_dir.File("out.txt.kol"), "old");
      shown.OutputEdit()->setText(ToQt(m_dir.File("out.txt")));
      m_answer = false;
      QTest::mouseClick(shown.SaveButton(), Qt::LeftButton);
      QCOMPARE(m_questions.size(), 1);
      QCOMPARE(shown.Action(), ImportAction::kNone);
      QVERIFY(std::filesystem::exists(m_dir.File("out.txt.kol")));
      QVERIFY(shown.isVisible());

      m_answer = true;
      QTest::mouseClick(shown.SaveButton(), Qt::LeftButton);
    });
    QCOMPARE(result, kAccepted);
    QCOMPARE(dialog->Action(), ImportAction::kSave);
    QCOMPARE(dialog->OutputPath(), m_dir.File("out.txt.kol"));
    QVERIFY(!std::filesystem::exists(m_dir.File("out.txt.kol")));
    ImportRequest request = dialog->TakeRequest();
    QCOMPARE(request.boxId, std::string("31"));
    QCOMPARE(request.found.size(), std::size_t{2});
    QCOMPARE(request.correctionIndex, 1);
  }

  void replayAsksFirstAndCarriesTheAttachedBox() {
    m_fetch = [](int box) {
      ImportBoxFetch fetch;
      fetch.ok = box == 2;
      fetch.url = BoxCurrentDataUrl("192.168.1.12");
      fetch.box = ImportBoxIdentity{2, "[12:10000 12]", "12"};
      return fetch;
    };
    auto dialog = MakeDialog();
    int result = ExecWith(*dialog, [this](CDlgImportVarnex& shown) {
      SearchWholeDay(shown);
      shown.SourceMenu()->actions()[1]->trigger();  // box 1 fails
      QCOMPARE(shown.FileEdit()->text(), ToQt(kMsgImportFailure));
      QVERIFY(!shown.Attached().has_value());
      shown.SourceMenu()->actions()[2]->trigger();  // box 2
      QCOMPARE(shown.FileEdit()->text(), QStringLiteral("http://192.168.1.12/currentData.csv"));
      QCOMPARE(shown.BoxId(), std::string("12"));
      QVERIFY(shown.Attached().has_value());

      m_answer = false;
      QTest::mouseClick(shown.ReplayButton(), Qt::LeftButton);
      QCOMPARE(m_questions, QStringList{ToQt(kMsgImportReplayQuestion)});
      QVERIFY(shown.isVisible());
      m_answer = true;
      QTest::mouseClick(shown.ReplayButton(), Qt::LeftButton);
    });
    QCOMPARE(result, kAccepted);
    QCOMPARE(dialog->Action(), ImportAction::kReplay);
    ImportRequest request = dialog->TakeRequest();
    QVERIFY(request.attached.has_value());
    QCOMPARE(request.attached->connectionName, std::string("[12:10000 12]"));
  }

  void cancelKeepsTheRememberedValuesForTheNextOpening() {
    auto first = MakeDialog();
    int result = ExecWith(*first, [this](CDlgImportVarnex& shown) {
      SearchWholeDay(shown);
      shown.StartEdit()->setText(QStringLiteral("09:00:00"));
      QTest::mouseClick(shown.SearchButton(), Qt::LeftButton);
      QTest::mouseClick(shown.CancelButton(), Qt::LeftButton);
    });
    QCOMPARE(result, kRejected);
    QCOMPARE(first->Action(), ImportAction::kNone);
    first.reset();

    auto second = MakeDialog();
    result = ExecWith(*second, [](CDlgImportVarnex& shown) {
      QCOMPARE(shown.DateEdit()->date(), QDate(2012, 5, 13));
      QCOMPARE(shown.StartEdit()->text(), QStringLiteral("09:00:00"));
      QCOMPARE(shown.CorrectionBox()->currentIndex(), 1);
      QTest::mouseClick(shown.CancelButton(), Qt::LeftButton);
    });
    QCOMPARE(result, kRejected);
  }
};

}  // namespace lapora

QTEST_MAIN(lapora::DlgImportVarnexTest)
#include "dlg_import_varnex_test.moc"
