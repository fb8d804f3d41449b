// The detection-lines export dialog offscreen over real recorded detections and a settings file
// in a temporary folder: opening from the saved settings, "Filtrer" filling the rows, the side
// controls, the handicap re-timing and reset, the FTP picker, an export, and the closing writes.
#include <QApplication>
#include <QTest>
#include <filesystem>
#include <memory>

#include "detections/recorded_detections.h"
#include "export/export_lines_dialog_model.h"
#include "export/ftp_jobs.h"
#include "foundation/events.h"
#include "foundation/log.h"
#include "foundation/settings_store.h"
#include "resources/messages_export_dialog.h"
#include "support/temp_dir.h"
#include "ui/dlg_export_detection_lines.h"
#include "ui/qt_text.h"

namespace lapora {

class DlgExportDetectionLinesTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<testing::TempDir> m_dir;
  std::unique_ptr<SettingsStore> m_store;
  std::unique_ptr<EventQueue> m_events;
  std::unique_ptr<Logger> m_log;
  std::unique_ptr<CRecordedDetections> m_records;
  std::vector<std::unique_ptr<CFtpJob>> m_jobs;
  QStringList m_messages;
  std::vector<std::vector<std::string>> m_pickerCalls;

  void Add(const std::string& label, const std::string& bib, const std::string& time) {
    CChrono race;
    QVERIFY(race.ParseTimeHundredths(time));
    (void)m_records->AddDetectionRecord(label, bib, CChrono(), race, 0, false);
  }
  std::unique_ptr<CExportLinesDialogModel> MakeModel() {
    return std::make_unique<CExportLinesDialogModel>(
        *m_records, ExportEnvironment{*m_store, m_dir->path(), m_dir->File("FtpServers.dat"),
                                      [this](std::unique_ptr<CFtpJob> job) {
                                        m_jobs.push_back(std::move(job));
                                      }});
  }
  std::unique_ptr<CDlgExportDetectionLines> MakeDialog(CExportLinesDialogModel& model) {
    auto dialog = std::make_unique<CDlgExportDetectionLines>(model);
    dialog->SetMessageShower(
        [this](const QString& text, QMessageBox::Icon) { m_messages.push_back(text); });
    dialog->SetServerPicker([this](const std::vector<std::string>& preselected) {
      m_pickerCalls.push_back(preselected);
      return std::optional<std::vector<std::string>>(std::vector<std::string>{"B", "A"});
    });
    dialog->show();
    return dialog;
  }

 private slots:
  void init() {
    m_dir = std::make_unique<testing::TempDir>();
    m_store = std::make_unique<SettingsStore>(m_dir->File("Lapora.ini"));
    m_events = std::make_unique<EventQueue>();
    m_log = std::make_unique<Logger>(*m_events);
    m_records = std::make_unique<CRecordedDetections>(*m_log);
    m_jobs.clear();
    m_messages.clear();
    m_pickerCalls.clear();
  }

  void opensWithTheSavedSettingsAndAnEmptyList() {
    m_store->WriteSettingText(kExportLinesSection, "Delta", "0:0:6");
    m_store->WriteSettingInt(kExportLinesSection, "DisplayDetectionType", 5);
    m_store->WriteSettingBool(kExportLinesSection, "BZip", true);
    m_store->WriteSettingInt(kBackgroundExportSection, "ExportPeriodMinutes", 4);
    Add("FIN", "1", "10:00:00.00");
    auto model = MakeModel();
    auto dialog = MakeDialog(*model);
    QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
    QCOMPARE(dialog->windowTitle(), ToQt(kMsgExportTitle));
    QCOMPARE(dialog->GapEdit()->text(), QStringLiteral("0:0:6"));
    QCOMPARE(dialog->FolderEdit()->text(), QString::fromStdString(m_dir->path()));
    QCOMPARE(dialog->NameEdit()->text(), QStringLiteral("export"));
    QVERIFY(dialog->ZipBox()->isChecked());
    QVERIFY(!dialog->FtpBox()->isChecked());
    QVERIFY(dialog->TypeRadio(2)->isChecked());
    QCOMPARE(dialog->PeriodEdit()->text(), QStringLiteral("4"));
    QCOMPARE(dialog->DetectorList()->topLevelItemCount(), 0);
    QCOMPARE(dialog->DetectorList()->headerItem()->text(3), ToQt(kMsgExportColumnBestTime));
    QVERIFY(!dialog->ExportButton()->isEnabled());
    QVERIFY(!dialog->TypeRadio(0)->isEnabled());
    QVERIFY(!dialog->RetimingButton()->isEnabled());
    QCOMPARE(dialog->HandicapLabel()->text(), QStringLiteral("..."));
    QCOMPARE(dialog->DataLabel()->text(), ToQt(kMsgExportNoData));
    QCOMPARE(dialog->FtpTarget()->text(), ToQt(kMsgExportNoFtpServer));
    QVERIFY(dialog->ResetButton()->toolTip().contains(ToQt(kMsgExportResetTip)));
  }

  void filterFillsRowsAndSideControlsFollowTheSelection() {
    Add("D2", "7", "10:00:00.00");
    Add("D2", "7", "10:10:00.00");
    Add("D1", "1", "10:15:30.27");
    m_store->WriteSettingText(kExportLinesSection, "Handicap-D1", "10:00:00.00");
    auto model = MakeModel();
    auto dialog = MakeDialog(*model);
    dialog->GapEdit()->setText(QStringLiteral("15:30"));
    dialog->FilterButton()->click();
    QCOMPARE(m_messages, QStringList{ToQt(kMsgExportInvalidGap)});
    QCOMPARE(dialog->DetectorList()->topLevelItemCount(), 0);

    dialog->GapEdit()->setText(QStringLiteral("0:0:6"));
    dialog->FilterButton()->click();
    QTreeWidget* list = dialog->DetectorList();
    QCOMPARE(list->topLevelItemCount(), 2);
    QCOMPARE(list->topLevelItem(0)->text(0), QStringLiteral("D1"));
    QCOMPARE(list->topLevelItem(0)->text(3), QStringLiteral("10:15:30.27"));
    QCOMPARE(list->topLevelItem(0)->text(5), QStringLiteral("10:00:00.00"));
    QCOMPARE(list->topLevelItem(1)->text(1), QStringLiteral("2"));
    QVERIFY(dialog->ExportButton()->isEnabled());
    QCOMPARE(dialog->DataLabel()->text(),
             QString::fromUtf8("3 fichiers de détections - Heures de détections"));

    list->topLevelItem(0)->setSelected(true);
    QVERIFY(dialog->RetimingButton()->isEnabled());
    QCOMPARE(dialog->HandicapLabel()->text(), QStringLiteral("10:00:00.00"));
    // The display type re-filters and keeps the selection.
    dialog->TypeRadio(2)->click();
    QCOMPARE(list->topLevelItem(0)->text(3), QStringLiteral("1531"));
    QVERIFY(list->topLevelItem(0)->isSelected());
    QCOMPARE(dialog->DataLabel()->text(),
             QString::fromUtf8("3 fichiers de détections - Temps format LOGICA"));
    list->topLevelItem(1)->setSelected(true);  // two rows: no handicap to show
    QVERIFY(!dialog->RetimingButton()->isEnabled());
    QCOMPARE(dialog->HandicapLabel()->text(), QStringLiteral("..."));
  }

  void retimingAndResetWriteTheHandicapAtOnce() {
    Add("FIN", "12", "10:15:30.27");
    auto model = MakeModel();
    auto dialog = MakeDialog(*model);
    std::vector<HandicapRetiming> asked;
    dialog->SetRetimingRunner([&](const HandicapRetiming& retiming) {
      asked.push_back(retiming);
      HandicapRetiming done = retiming;
      (void)ApplyRetiming(done, "00:15:30.27");
      return std::optional<CChrono>(done.handicap);
    });
    QStringList questions;
    dialog->SetQuestionAsker([&](const QString& text) {
      questions.push_back(text);
      return true;
    });
    dialog->GapEdit()->setText(QStringLiteral("0:0:0"));
    dialog->FilterButton()->click();
    dialog->DetectorList()->topLevelItem(0)->setSelected(true);
    dialog->RetimingButton()->click();
    QCOMPARE(asked.size(), std::size_t{1});
    QCOMPARE(QString::fromStdString(asked[0].bib), QStringLiteral("12"));
    QCOMPARE(m_store->ReadSettingText(kExportLinesSection, "Handicap-FIN", ""),
             std::string("10:00:00.00"));
    QCOMPARE(dialog->DetectorList()->topLevelItem(0)->text(5), QStringLiteral("10:00:00.00"));
    QCOMPARE(dialog->HandicapLabel()->text(), QStringLiteral("10:00:00.00"));
    dialog->ResetButton()->click();
    QCOMPARE(questions, QStringList{ToQt(kMsgExportResetQuestion)});
    QCOMPARE(m_store->ReadSettingText(kExportLinesSection, "Handicap-FIN", ""),
             std::string("00:00:00.00"));
    QCOMPARE(dialog->DetectorList()->topLevelItem(0)->text(5), QStringLiteral("00:00:00.00"));
  }

  void folderFtpPickerAndExportNow() {
    testing::WriteFile(m_dir->File("FtpServers.dat"),
                       "A\tftp.a.example\tu\tp\t\r\nB\tftp.b.example\tu\tp\t\r\n");
    Add("FIN", "12", "10:15:30.27");
    auto model = MakeModel();
    auto dialog = MakeDialog(*model);
    std::string out = m_dir->File("out");
    std::filesystem::create_directories(out);
    dialog->SetFolderChooser(
        [&](const QString&) { return QString::fromStdString(out) + QStringLiteral("/"); });
    dialog->FolderButton()->click();
    QCOMPARE(dialog->FolderEdit()->text(), QString::fromStdString(out));

    // Switching FTP on with no target opens the picker at once.
    dialog->FtpBox()->click();
    QCOMPARE(m_pickerCalls.size(), std::size_t{1});
    QVERIFY(m_pickerCalls[0].empty());
    QCOMPARE(dialog->FtpTarget()->text(), QStringLiteral("B, A"));
    QVERIFY(dialog->FtpBox()->toolTip().contains(ToQt(kMsgExportTransferTo) + "B, A"));
    QCOMPARE(m_store->ReadSettingText(kExportLinesSection, "FtpServersList", ""),
             std::string("B\\A"));
    dialog->FtpButton()->click();  // pre-selects the saved labels
    QCOMPARE(m_pickerCalls[1], (std::vector<std::string>{"B", "A"}));

    dialog->GapEdit()->setText(QStringLiteral("0:0:0"));
    dialog->FilterButton()->click();
    dialog->NameEdit()->setText(QStringLiteral("  "));
    dialog->ExportButton()->click();
    QCOMPARE(m_messages, QStringList{ToQt(kMsgExportNameMandatory)});
    dialog->NameEdit()->setText(QStringLiteral("race"));
    dialog->ExportButton()->click();
    QCOMPARE(m_messages.size(), 2);
    QVERIFY(m_messages[1].startsWith(ToQt(kMsgExportDone)));
    QVERIFY(m_messages[1].endsWith(ToQt(kMsgExportFtpLaunched)));
    QVERIFY(std::filesystem::exists(out + "/race-FIN-1.kol"));
    QCOMPARE(m_jobs.size(), std::size_t{2});
    QCOMPARE(QString::fromStdString(m_jobs[0]->site), QStringLiteral("ftp.b.example"));
  }

  void closingWritesTheFields() {
    auto model = MakeModel();
    auto dialog = MakeDialog(*model);
    dialog->GapEdit()->setText(QStringLiteral("0:0:3"));
    dialog->NameEdit()->setText(QStringLiteral("race"));
    dialog->BackgroundBox()->setChecked(true);
    dialog->PeriodEdit()->setText(QStringLiteral("10"));
    dialog->PeriodUp()->click();  // the arrows stay within 1..10
    QCOMPARE(dialog->PeriodEdit()->text(), QStringLiteral("10"));
    dialog->PeriodEdit()->setText(QStringLiteral("abc"));
    dialog->CloseButton()->click();
    QVERIFY(!dialog->isVisible());
    ExportSettings saved = ReadExportSettings(*m_store, m_dir->path());
    QCOMPARE(saved.delta, std::string("0:0:3"));
    QCOMPARE(saved.genericFilename, std::string("race"));
    QCOMPARE(saved.exportPeriodMinutes, 2);
    QVERIFY(saved.backgroundExport);
  }
};

}  // namespace lapora

QTEST_MAIN(lapora::DlgExportDetectionLinesTest)
#include "dlg_export_detection_lines_test.moc"
