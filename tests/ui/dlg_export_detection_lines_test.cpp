// The detection-lines export dialog offscreen over real recorded detections and a settings file
// in a temporary folder, run with exec() and driven from inside it: opening from the saved
// settings, "Filtrer" filling the rows, the side controls, the handicap re-timing dialog and the
// reset, the FTP servers dialog as the target picker, an export, and the closing writes.
#include <QApplication>
#include <QProgressDialog>
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
#include "ui/dialog_driver.h"
#include "ui/dlg_export_detection_lines.h"
#include "ui/dlg_ftp_servers.h"
#include "ui/dlg_recalage.h"
#include "ui/qt_text.h"

namespace lapora {

namespace {

using testing::ExecWith;
using testing::WhenDialogShown;

constexpr int kRejected = QDialog::Rejected;

// The labels of the FTP servers dialog's rows, each with its tick.
QStringList TickedRows(const CDlgFtpServers& dialog) {
  QStringList rows;
  for (int i = 0; i < dialog.List()->topLevelItemCount(); ++i) {
    QTreeWidgetItem* item = dialog.List()->topLevelItem(i);
    rows.push_back((item->checkState(0) == Qt::Checked ? "[x] " : "[ ] ") + item->text(0));
  }
  return rows;
}

}  // namespace

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
  }

  void opensWithTheSavedSettingsAndAnEmptyList() {
    m_store->WriteSettingText(kExportLinesSection, "Delta", "0:0:6");
    m_store->WriteSettingInt(kExportLinesSection, "DisplayDetectionType", 5);
    m_store->WriteSettingBool(kExportLinesSection, "BZip", true);
    m_store->WriteSettingInt(kBackgroundExportSection, "ExportPeriodMinutes", 4);
    Add("FIN", "1", "10:00:00.00");
    auto model = MakeModel();
    auto dialog = MakeDialog(*model);
    int result = ExecWith(*dialog, [this](CDlgExportDetectionLines& shown) {
      QCOMPARE(shown.windowTitle(), ToQt(kMsgExportTitle));
      QCOMPARE(shown.GapEdit()->text(), QStringLiteral("0:0:6"));
      QCOMPARE(shown.FolderEdit()->text(), QString::fromStdString(m_dir->path()));
      QCOMPARE(shown.NameEdit()->text(), QStringLiteral("export"));
      QVERIFY(shown.ZipBox()->isChecked());
      QVERIFY(!shown.FtpBox()->isChecked());
      QVERIFY(shown.TypeRadio(2)->isChecked());
      QCOMPARE(shown.PeriodEdit()->text(), QStringLiteral("4"));
      QCOMPARE(shown.DetectorList()->topLevelItemCount(), 0);
      QCOMPARE(shown.DetectorList()->headerItem()->text(3), ToQt(kMsgExportColumnBestTime));
      QVERIFY(!shown.ExportButton()->isEnabled());
      QVERIFY(!shown.TypeRadio(0)->isEnabled());
      QVERIFY(!shown.RetimingButton()->isEnabled());
      QCOMPARE(shown.HandicapLabel()->text(), QStringLiteral("..."));
      QCOMPARE(shown.DataLabel()->text(), ToQt(kMsgExportNoData));
      QCOMPARE(shown.FtpTarget()->text(), ToQt(kMsgExportNoFtpServer));
      QVERIFY(shown.ResetButton()->toolTip().contains(ToQt(kMsgExportResetTip)));
      QTest::keyClick(&shown, Qt::Key_Escape);
    });
    QCOMPARE(result, kRejected);
  }

  void filterFillsRowsAndSideControlsFollowTheSelection() {
    Add("D2", "7", "10:00:00.00");
    Add("D2", "7", "10:10:00.00");
    Add("D1", "1", "10:15:30.27");
    m_store->WriteSettingText(kExportLinesSection, "Handicap-D1", "10:00:00.00");
    auto model = MakeModel();
    auto dialog = MakeDialog(*model);
    int result = ExecWith(*dialog, [this](CDlgExportDetectionLines& shown) {
      shown.GapEdit()->setText(QStringLiteral("15:30"));
      shown.FilterButton()->click();
      QCOMPARE(m_messages, QStringList{ToQt(kMsgExportInvalidGap)});
      QCOMPARE(shown.DetectorList()->topLevelItemCount(), 0);

      shown.GapEdit()->setText(QStringLiteral("0:0:6"));
      shown.FilterButton()->click();
      QTreeWidget* list = shown.DetectorList();
      QCOMPARE(list->topLevelItemCount(), 2);
      QCOMPARE(list->topLevelItem(0)->text(0), QStringLiteral("D1"));
      QCOMPARE(list->topLevelItem(0)->text(3), QStringLiteral("10:15:30.27"));
      QCOMPARE(list->topLevelItem(0)->text(5), QStringLiteral("10:00:00.00"));
      QCOMPARE(list->topLevelItem(1)->text(1), QStringLiteral("2"));
      QVERIFY(shown.ExportButton()->isEnabled());
      QCOMPARE(shown.DataLabel()->text(),
               QString::fromUtf8("3 fichiers de détections - Heures de détections"));

      list->topLevelItem(0)->setSelected(true);
      QVERIFY(shown.RetimingButton()->isEnabled());
      QCOMPARE(shown.HandicapLabel()->text(), QStringLiteral("10:00:00.00"));
      // The display type re-filters and keeps the selection.
      shown.TypeRadio(2)->click();
      QCOMPARE(list->topLevelItem(0)->text(3), QStringLiteral("1531"));
      QVERIFY(list->topLevelItem(0)->isSelected());
      QCOMPARE(shown.DataLabel()->text(),
               QString::fromUtf8("3 fichiers de détections - Temps format LOGICA"));
      list->topLevelItem(1)->setSelected(true);  // two rows: no handicap to show
      QVERIFY(!shown.RetimingButton()->isEnabled());
      QCOMPARE(shown.HandicapLabel()->text(), QStringLiteral("..."));
      shown.CloseButton()->click();
    });
    QCOMPARE(result, kRejected);
  }

  void retimingAndResetWriteTheHandicapAtOnce() {
    Add("FIN", "12", "10:15:30.27");
    auto model = MakeModel();
    auto dialog = MakeDialog(*model);
    QStringList questions;
    dialog->SetQuestionAsker([&](const QString& text) {
      questions.push_back(text);
      return true;
    });
    int result = ExecWith(*dialog, [&](CDlgExportDetectionLines& shown) {
      shown.GapEdit()->setText(QStringLiteral("0:0:0"));
      shown.FilterButton()->click();
      shown.DetectorList()->topLevelItem(0)->setSelected(true);

      // The re-timing dialog runs over the export dialog: its Cancel changes nothing.
      auto cancelled = WhenDialogShown<CDlgRecalage>([](CDlgRecalage& retiming) {
        retiming.TimeEdit()->setText(QStringLiteral("00:00:01.00"));
        retiming.CancelButton()->click();
      });
      shown.RetimingButton()->click();
      QVERIFY(*cancelled);
      QCOMPARE(shown.DetectorList()->topLevelItem(0)->text(5), QStringLiteral("00:00:00.00"));
      QCOMPARE(m_store->ReadSettingText(kExportLinesSection, "Handicap-FIN", "none"),
               std::string("none"));

      // Its OK gives the handicap that makes the first passage this time.
      QString bib;
      auto retimed = WhenDialogShown<CDlgRecalage>([&](CDlgRecalage& retiming) {
        QCOMPARE(retiming.parentWidget(), static_cast<QWidget*>(&shown));
        bib = retiming.BibValue()->text();
        retiming.TimeEdit()->setText(QStringLiteral("00:15:30.27"));
        retiming.OkButton()->click();
      });
      shown.RetimingButton()->click();
      QVERIFY(*retimed);
      QCOMPARE(bib, QStringLiteral("12"));
      QCOMPARE(m_store->ReadSettingText(kExportLinesSection, "Handicap-FIN", ""),
               std::string("10:00:00.00"));
      QCOMPARE(shown.DetectorList()->topLevelItem(0)->text(5), QStringLiteral("10:00:00.00"));
      QCOMPARE(shown.HandicapLabel()->text(), QStringLiteral("10:00:00.00"));
      shown.ResetButton()->click();
      QCOMPARE(questions, QStringList{ToQt(kMsgExportResetQuestion)});
      QCOMPARE(m_store->ReadSettingText(kExportLinesSection, "Handicap-FIN", ""),
               std::string("00:00:00.00"));
      QCOMPARE(shown.DetectorList()->topLevelItem(0)->text(5), QStringLiteral("00:00:00.00"));
      shown.CloseButton()->click();
    });
    QCOMPARE(result, kRejected);
  }

  void handicapThatCannotBeStoredIsReported() {
    Add("D=1", "12", "10:15:30.27");
    auto model = MakeModel();
    auto dialog = MakeDialog(*model);
    int result = ExecWith(*dialog, [&](CDlgExportDetectionLines& shown) {
      shown.GapEdit()->setText(QStringLiteral("0:0:0"));
      shown.FilterButton()->click();
      shown.DetectorList()->topLevelItem(0)->setSelected(true);
      auto retimed = WhenDialogShown<CDlgRecalage>([](CDlgRecalage& retiming) {
        retiming.TimeEdit()->setText(QStringLiteral("00:15:30.27"));
        retiming.OkButton()->click();
      });
      shown.RetimingButton()->click();
      QVERIFY(*retimed);
      // Told, and shown the handicap the exports will really use.
      QCOMPARE(m_messages,
               QStringList{ToQt(StrF(Tr(kMsgExportHandicapNotStorable).c_str(), "D=1"))});
      QCOMPARE(shown.HandicapLabel()->text(), QStringLiteral("00:00:00.00"));
      QCOMPARE(shown.DetectorList()->topLevelItem(0)->text(5), QStringLiteral("00:00:00.00"));
      QVERIFY(testing::ReadFile(m_store->SettingsFile()).find("D=1") == std::string::npos);
      shown.CloseButton()->click();
    });
    QCOMPARE(result, kRejected);
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
    int result = ExecWith(*dialog, [&](CDlgExportDetectionLines& shown) {
      shown.FolderButton()->click();
      QCOMPARE(shown.FolderEdit()->text(), QString::fromStdString(out));

      // Switching FTP on with no target opens the FTP servers dialog at once, nothing ticked.
      QStringList rows;
      auto picked = WhenDialogShown<CDlgFtpServers>([&](CDlgFtpServers& picker) {
        rows = TickedRows(picker);
        picker.List()->topLevelItem(1)->setCheckState(0, Qt::Checked);
        picker.List()->topLevelItem(0)->setCheckState(0, Qt::Checked);
        picker.OkButton()->click();
      });
      shown.FtpBox()->click();
      QVERIFY(*picked);
      QCOMPARE(rows, (QStringList{"[ ] A", "[ ] B"}));
      QCOMPARE(shown.FtpTarget()->text(), QStringLiteral("A, B"));
      QVERIFY(shown.FtpBox()->toolTip().contains(ToQt(kMsgExportTransferTo) + "A, B"));
      QCOMPARE(m_store->ReadSettingText(kExportLinesSection, "FtpServersList", ""),
               std::string("A\\B"));
      // The button opens it with the saved labels ticked; its Cancel keeps them.
      auto cancelled = WhenDialogShown<CDlgFtpServers>([&](CDlgFtpServers& picker) {
        rows = TickedRows(picker);
        picker.List()->topLevelItem(0)->setCheckState(0, Qt::Unchecked);
        picker.CancelButton()->click();
      });
      shown.FtpButton()->click();
      QVERIFY(*cancelled);
      QCOMPARE(rows, (QStringList{"[x] A", "[x] B"}));
      QCOMPARE(shown.FtpTarget()->text(), QStringLiteral("A, B"));

      shown.GapEdit()->setText(QStringLiteral("0:0:0"));
      shown.FilterButton()->click();
      shown.NameEdit()->setText(QStringLiteral("  "));
      shown.ExportButton()->click();
      QCOMPARE(m_messages, QStringList{ToQt(kMsgExportNameMandatory)});
      shown.NameEdit()->setText(QStringLiteral("race"));
      // The export runs under a progress dialog that ends by itself, before the final message.
      QString progressTitle;
      int messagesWhileInProgress = -1;
      auto progressShown = WhenDialogShown<QProgressDialog>([&](QProgressDialog& progress) {
        progressTitle = progress.windowTitle();
        messagesWhileInProgress = static_cast<int>(m_messages.size());
        QVERIFY(!progress.labelText().isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(!progress.isVisible(), 20000);
      });
      shown.ExportButton()->click();
      QVERIFY(*progressShown);
      QCOMPARE(progressTitle, shown.windowTitle());
      QCOMPARE(messagesWhileInProgress, 1);
      QCOMPARE(m_messages.size(), 2);
      QVERIFY(m_messages[1].startsWith(ToQt(kMsgExportDone)));
      QVERIFY(m_messages[1].endsWith(ToQt(kMsgExportFtpLaunched)));
      QVERIFY(std::filesystem::exists(out + "/race-FIN-1.kol"));
      QCOMPARE(m_jobs.size(), std::size_t{2});
      QCOMPARE(QString::fromStdString(m_jobs[0]->site), QStringLiteral("ftp.a.example"));
      QCOMPARE(QString::fromStdString(m_jobs[1]->site), QStringLiteral("ftp.b.example"));
      shown.CloseButton()->click();
    });
    QCOMPARE(result, kRejected);
  }

  void closingWritesTheFields() {
    auto model = MakeModel();
    auto dialog = MakeDialog(*model);
    int result = ExecWith(*dialog, [](CDlgExportDetectionLines& shown) {
      shown.GapEdit()->setText(QStringLiteral("0:0:3"));
      shown.NameEdit()->setText(QStringLiteral("race"));
      shown.BackgroundBox()->setChecked(true);
      shown.PeriodEdit()->setText(QStringLiteral("10"));
      shown.PeriodUp()->click();  // the arrows stay within 1..10
      QCOMPARE(shown.PeriodEdit()->text(), QStringLiteral("10"));
      shown.PeriodEdit()->setText(QStringLiteral("abc"));
      shown.CloseButton()->click();
    });
    QCOMPARE(result, kRejected);
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
