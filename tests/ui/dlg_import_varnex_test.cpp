// The import dialog offscreen over real box data files in a temporary folder: the search fills
// the information list and the count and enables the actions, refused times and paths, the
// closing actions with their questions, the source menu's box entries and the remembered values.
#include <QApplication>
#include <QTest>
#include <filesystem>

#include "detections/chip_table.h"
#include "foundation/app_settings.h"
#include "resources/messages_import.h"
#include "support/temp_dir.h"
#include "ui/dlg_import_varnex.h"
#include "ui/qt_text.h"

namespace lapora {

namespace {

const std::array<std::string, 4> kRaceDays{"20120512", "20120513", "20120514", "20120515"};

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
  // next day, searched over the whole of 13 May.
  std::unique_ptr<CDlgImportVarnex> SearchedDialog() {
    testing::WriteFile(m_dir.File("box.csv"),
                       "E1,2012-05-13 10:00:00.000,x,y\n"
                       "E1,2012-05-13 10:00:00.020,x,y\n"
                       "E2:2012-05-13_10:05:00.000,port=1,rssi=-60\n"
                       "E3,2012-05-14 10:00:00.000,x,y\n");
    auto dialog = MakeDialog();
    dialog->FileEdit()->setText(ToQt(m_dir.File("box.csv")));
    dialog->DateEdit()->setDate(QDate(2012, 5, 13));
    dialog->StartEdit()->setText(QStringLiteral("00:00:00"));
    dialog->EndEdit()->setText(QStringLiteral("23:59:59"));
    QTest::mouseClick(dialog->SearchButton(), Qt::LeftButton);
    return dialog;
  }

 private slots:
  void init() {
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
    dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
    QCOMPARE(dialog->windowTitle(), ToQt(kMsgImportTitle));
    QCOMPARE(dialog->BoxIdBox()->count(), 22);
    QCOMPARE(dialog->BoxIdBox()->itemText(0), QStringLiteral("31     CLASSIC"));
    QCOMPARE(dialog->BoxIdBox()->itemText(2), QStringLiteral("11      (?)"));
    QCOMPARE(dialog->BoxIdBox()->currentIndex(), -1);
    QCOMPARE(dialog->StartEdit()->text(), QStringLiteral("00:00:00"));
    QCOMPARE(dialog->EndEdit()->text(), QStringLiteral("23:59:59"));
    QVERIFY(!dialog->ReplayButton()->isEnabled());
    QVERIFY(!dialog->ImportButton()->isEnabled());
    QVERIFY(!dialog->SaveButton()->isEnabled());
    QVERIFY(!dialog->CountLabel()->isEnabled());
    QCOMPARE(dialog->SourceMenu()->actions().size(), 7);  // file, boxes 1 to 4, detection server x2
    QCOMPARE(dialog->SourceMenu()->actions()[0]->text(), ToQt(kMsgImportSelectFile));

    dialog->CorrectionBox()->setCurrentIndex(2);
    QVERIFY(dialog->IndicatorText()->isVisible());
    QCOMPARE(dialog->IndicatorText()->text(), QStringLiteral("+48h"));
    dialog->CorrectionBox()->setCurrentIndex(0);
    QVERIFY(!dialog->IndicatorText()->isVisible());

    dialog->StartEdit()->clear();
    dialog->StartMenu()->actions()[0]->trigger();
    QCOMPARE(dialog->StartEdit()->text(), QStringLiteral("00:00:00"));
    dialog->EndEdit()->clear();
    dialog->EndMenu()->actions()[0]->trigger();
    QCOMPARE(dialog->EndEdit()->text(), QStringLiteral("23:59:59"));
  }

  void searchFillsTheCountAndEnablesTheActions() {
    auto dialog = SearchedDialog();
    QVERIFY2(m_warnings.isEmpty(), qPrintable(m_warnings.join('\n')));
    QCOMPARE(dialog->Found().size(), std::size_t{2});
    QCOMPARE(dialog->CountLabel()->text(), QStringLiteral("2 %1").arg(ToQt(kMsgImportConsistent)));
    QCOMPARE(dialog->CorrectionBox()->currentIndex(), 1);  // 13 May is race day 1
    QVERIFY(dialog->InformationList()->count() > 5);
    QCOMPARE(dialog->InformationList()->item(0)->text(),
             ToQt(StrF(Tr(kMsgImportHeaderFile).c_str(), m_dir.File("box.csv").c_str())));
    // No box id yet: nothing to do.
    QVERIFY(!dialog->ReplayButton()->isEnabled());
    dialog->BoxIdBox()->setCurrentIndex(3);
    QVERIFY(dialog->ReplayButton()->isEnabled());
    QVERIFY(dialog->ImportButton()->isEnabled());
    QVERIFY(dialog->SaveButton()->isEnabled());

    QTest::mouseClick(dialog->ClearButton(), Qt::LeftButton);
    QCOMPARE(dialog->InformationList()->count(), 0);
    QCOMPARE(m_memory.dateText, std::string("13/05/2012"));
  }

  void refusedTimesAndMissingFilesAreWarned() {
    auto dialog = MakeDialog();
    dialog->FileEdit()->setText(ToQt(m_dir.File("box.csv")));
    dialog->StartEdit()->setText(QStringLiteral("ten"));
    QTest::mouseClick(dialog->SearchButton(), Qt::LeftButton);
    QCOMPARE(m_warnings, QStringList{ToQt(kMsgImportStartInvalid)});
    QCOMPARE(dialog->focusWidget(), dialog->StartEdit());

    m_warnings.clear();
    dialog->StartEdit()->setText(QStringLiteral("10:00:00"));
    dialog->EndEdit()->setText(QString());
    QTest::mouseClick(dialog->SearchButton(), Qt::LeftButton);
    QCOMPARE(m_warnings, QStringList{ToQt(kMsgImportEndInvalid)});
    QCOMPARE(dialog->focusWidget(), dialog->EndEdit());

    m_warnings.clear();
    dialog->EndEdit()->setText(QStringLiteral("11:00:00"));
    dialog->FileEdit()->setText(ToQt(m_dir.File("missing.csv")));
    QTest::mouseClick(dialog->SearchButton(), Qt::LeftButton);
    QCOMPARE(m_warnings, QStringList{ToQt(StrF(Tr(kMsgImportFileMissing).c_str(),
                                               m_dir.File("missing.csv").c_str()))});
    QCOMPARE(dialog->focusWidget(), dialog->FileEdit());
    QVERIFY(dialog->Found().empty());
    QCOMPARE(m_memory.startText, std::string("10:00:00"));
  }

  void saveAppendsKolAndAsksBeforeReplacing() {
    auto dialog = SearchedDialog();
    dialog->BoxIdBox()->setCurrentIndex(0);
    QTest::mouseClick(dialog->SaveButton(), Qt::LeftButton);
    QCOMPARE(m_warnings, QStringList{ToQt(kMsgImportNoOutput)});
    QCOMPARE(dialog->result(), int(QDialog::Rejected));

    testing::WriteFile(m_dir.File("out.txt.kol"), "old");
    dialog->OutputEdit()->setText(ToQt(m_dir.File("out.txt")));
    m_answer = false;
    QTest::mouseClick(dialog->SaveButton(), Qt::LeftButton);
    QCOMPARE(m_questions.size(), 1);
    QCOMPARE(dialog->Action(), ImportAction::kNone);
    QVERIFY(std::filesystem::exists(m_dir.File("out.txt.kol")));

    m_answer = true;
    QTest::mouseClick(dialog->SaveButton(), Qt::LeftButton);
    QCOMPARE(dialog->result(), int(QDialog::Accepted));
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
    auto dialog = SearchedDialog();
    dialog->SourceMenu()->actions()[1]->trigger();  // box 1 fails
    QCOMPARE(dialog->FileEdit()->text(), ToQt(kMsgImportFailure));
    QVERIFY(!dialog->Attached().has_value());
    dialog->SourceMenu()->actions()[2]->trigger();  // box 2
    QCOMPARE(dialog->FileEdit()->text(), QStringLiteral("http://192.168.1.12/currentData.csv"));
    QCOMPARE(dialog->BoxId(), std::string("12"));
    QVERIFY(dialog->Attached().has_value());

    m_answer = false;
    QTest::mouseClick(dialog->ReplayButton(), Qt::LeftButton);
    QCOMPARE(m_questions, QStringList{ToQt(kMsgImportReplayQuestion)});
    QCOMPARE(dialog->result(), int(QDialog::Rejected));
    m_answer = true;
    QTest::mouseClick(dialog->ReplayButton(), Qt::LeftButton);
    QCOMPARE(dialog->Action(), ImportAction::kReplay);
    QCOMPARE(dialog->result(), int(QDialog::Accepted));
    ImportRequest request = dialog->TakeRequest();
    QVERIFY(request.attached.has_value());
    QCOMPARE(request.attached->connectionName, std::string("[12:10000 12]"));
  }

  void cancelKeepsTheRememberedValuesForTheNextOpening() {
    {
      auto dialog = SearchedDialog();
      dialog->StartEdit()->setText(QStringLiteral("09:00:00"));
      QTest::mouseClick(dialog->SearchButton(), Qt::LeftButton);
      QTest::mouseClick(dialog->CancelButton(), Qt::LeftButton);
      QCOMPARE(dialog->Action(), ImportAction::kNone);
    }
    auto dialog = MakeDialog();
    QCOMPARE(dialog->DateEdit()->date(), QDate(2012, 5, 13));
    QCOMPARE(dialog->StartEdit()->text(), QStringLiteral("09:00:00"));
    QCOMPARE(dialog->CorrectionBox()->currentIndex(), 1);
  }
};

}  // namespace lapora

QTEST_MAIN(lapora::DlgImportVarnexTest)
#include "dlg_import_varnex_test.moc"
