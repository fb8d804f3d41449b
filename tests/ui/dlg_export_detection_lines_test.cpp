// The detection-lines export dialog offscreen over real recorded detections and a settings file
// in a temporary folder, run with exec() and driven from inside it: opening from the saved
// settings, "Filtrer" filling the rows (under the progress dialog, with the window going on, and
// its Cancel), the side controls, the handicap re-timing dialog and the reset, the FTP servers
// dialog as the target picker, an export under the progress dialog, and the closing writes.
#include <QApplication>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <filesystem>
#include <future>
#include <memory>
#include <optional>

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
#include "ui/dlg_job_progress.h"
#include "ui/dlg_recalage.h"
#include "ui/qt_text.h"

namespace lapora {

namespace {

using testing::ExecWith;
using testing::WhenDialogShown;

constexpr int kRejected = QDialog::Rejected;

// The rows of the detector list, their columns joined with "|".
QStringList Rows(const QTreeWidget& list) {
  QStringList rows;
  for (int i = 0; i < list.topLevelItemCount(); ++i) {
    QStringList columns;
    for (int c = 0; c < list.columnCount(); ++c) {
      columns.push_back(list.topLevelItem(i)->text(c));
    }
    rows.push_back(columns.join('|'));
  }
  return rows;
}

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
  // When set, the export's queueing of its uploads (on its worker) waits for it.
  std::optional<std::shared_future<void>> m_uploadGate;
  QStringList m_messages;

  void Add(const std::string& label, const std::string& bib, const std::string& time) {
    CChrono race;
    QVERIFY(race.ParseTimeHundredths(time));
    (void)m_records->AddDetectionRecord(label, bib, CChrono(), race, 0, false);
  }
  std::unique_ptr<CExportLinesDialogModel> MakeModel() {
    auto model = std::make_unique<CExportLinesDialogModel>(
        *m_records, ExportEnvironment{*m_store, m_dir->path(), m_dir->File("FtpServers.dat"),
                                      [this](std::unique_ptr<CFtpJob> job) {
                                        if (m_uploadGate) {
                                          m_uploadGate->wait();
                                        }
                                        m_jobs.push_back(std::move(job));
                                      }});
    [&] { QVERIFY(model->TakeSnapshot()); }();
    return model;
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
    m_uploadGate.reset();
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
    // D1: runners 1 and 2, two passages each once the gap has dropped 10:20:03; D2: runner 7,
    // three passages; D3: one passage at 10:15:30.27, 10 h of handicap.
    Add("D2", "7", "10:00:00.00");
    Add("D1", "1", "10:00:10.00");
    Add("D1", "2", "10:00:05.00");
    Add("D2", "7", "10:10:00.00");
    Add("D1", "1", "10:20:00.00");
    Add("D1", "1", "10:20:03.00");
    Add("D2", "7", "10:20:00.00");
    Add("D1", "2", "10:21:00.00");
    Add("D3", "12", "10:15:30.27");
    m_store->WriteSettingText(kExportLinesSection, "Handicap-D3", "10:00:00.00");
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
      QCOMPARE(Rows(*list),
               (QStringList{"D1|2|4|10:00:05.00|2|00:00:00.00", "D2|3|3|10:00:00.00|7|00:00:00.00",
                            "D3|1|1|10:15:30.27|12|10:00:00.00"}));
      QVERIFY(shown.ExportButton()->isEnabled());
      QCOMPARE(shown.DataLabel()->text(),
               QString::fromUtf8("6 fichiers de détections - Heures de détections"));

      list->topLevelItem(2)->setSelected(true);
      QVERIFY(shown.RetimingButton()->isEnabled());
      QCOMPARE(shown.HandicapLabel()->text(), QStringLiteral("10:00:00.00"));
      // The display type re-filters and keeps the selection and the focus on the list.
      shown.TypeRadio(2)->click();
      QCOMPARE(Rows(*list),
               (QStringList{"D1|2|4|100005|2|00:00:00.00", "D2|3|3|100000|7|00:00:00.00",
                            "D3|1|1|1531|12|10:00:00.00"}));
      QVERIFY(list->topLevelItem(2)->isSelected());
      QVERIFY(list->hasFocus());
      QCOMPARE(shown.DataLabel()->text(),
               QString::fromUtf8("6 fichiers de détections - Temps format LOGICA"));
      list->topLevelItem(1)->setSelected(true);  // two rows: no handicap to show
      QVERIFY(!shown.RetimingButton()->isEnabled());
      QCOMPARE(shown.HandicapLabel()->text(), QStringLiteral("..."));
      shown.CloseButton()->click();
    });
    QCOMPARE(result, kRejected);
  }

  // On a race's worth of detections "Filtrer" runs on a worker under the progress dialog, over
  // the export dialog: the window handles posted events before the rows come, and Cancel leaves
  // the dialog as it was, rows, selection, display type and all.
  void filterOfARaceRunsUnderTheProgressDialogAndCancelKeepsTheDialog() {
    constexpr int kRunners = 1000;
    constexpr int kPassages = 50;
    int firstSpread = 12000;
    int firstRunner = 0;
    for (int p = 0; p < kPassages; ++p) {
      for (int r = 1; r <= kRunners; ++r) {
        const int spread = (r * 7919) % 12000;  // hundredths within a 3 min lap
        if (p == 0 && spread < firstSpread) {
          firstSpread = spread;
          firstRunner = r;
        }
        for (int d = 1; d <= 4; ++d) {
          const int hundredths = 8 * 360000 + p * 18000 + spread + d * 3;
          CChrono race(hundredths / 100, static_cast<std::uint16_t>(hundredths % 100 * 10));
          (void)m_records->AddDetectionRecord("D" + std::to_string(d), std::to_string(r), CChrono(),
                                              race, 0, false);
        }
      }
    }
    QStringList expected;
    for (int d = 1; d <= 4; ++d) {
      const int first = 8 * 360000 + firstSpread + d * 3;
      expected.push_back(
          QStringLiteral("D%1|50|%2|%3|%4|00:00:00.00")
              .arg(d)
              .arg(kRunners * kPassages)
              .arg(ToQt(CChrono(first / 100, static_cast<std::uint16_t>(first % 100 * 10))
                            .FormatHundredths()))
              .arg(firstRunner));
    }
    auto model = MakeModel();
    auto dialog = MakeDialog(*model);
    int result = ExecWith(*dialog, [&](CDlgExportDetectionLines& shown) {
      QTreeWidget* list = shown.DetectorList();
      shown.GapEdit()->setText(QStringLiteral("0:1:0"));
      bool overDialog = false;
      bool cancellable = false;
      bool handled = false;
      int rowsWhenHandled = -1;
      auto waited = WhenDialogShown<CDlgJobProgress>([&](CDlgJobProgress& progress) {
        overDialog = progress.parentWidget() == &shown && progress.isModal() &&
                     progress.windowTitle() == shown.windowTitle();
        cancellable = progress.CancelButton() != nullptr;
        QMetaObject::invokeMethod(
            &shown,
            [&] {
              handled = true;
              rowsWhenHandled = list->topLevelItemCount();
            },
            Qt::QueuedConnection);
        QVERIFY(QTest::qWaitFor([&] { return handled; }, 20000));
        QTRY_VERIFY_WITH_TIMEOUT(!progress.isVisible(), 60000);
      });
      shown.FilterButton()->click();
      QVERIFY(*waited);
      QVERIFY(overDialog);
      QVERIFY(cancellable);
      QVERIFY(handled);
      QCOMPARE(rowsWhenHandled, 0);  // handled while the rows were being computed
      QCOMPARE(Rows(*list), expected);
      const QString data = shown.DataLabel()->text();
      QCOMPARE(data, QString::fromUtf8("200 fichiers de détections - Heures de détections"));

      // Cancelled, "Filtrer" with another gap changes nothing.
      list->topLevelItem(1)->setSelected(true);
      auto cancel = [] {
        return WhenDialogShown<CDlgJobProgress>([](CDlgJobProgress& progress) {
          progress.CancelButton()->click();
          QTRY_VERIFY_WITH_TIMEOUT(!progress.isVisible(), 60000);
        });
      };
      auto cancelled = cancel();
      shown.GapEdit()->setText(QStringLiteral("2:0:0"));
      shown.FilterButton()->click();
      QVERIFY(*cancelled);
      QCOMPARE(Rows(*list), expected);
      QCOMPARE(list->selectedItems(), QList<QTreeWidgetItem*>{list->topLevelItem(1)});
      QCOMPARE(shown.DataLabel()->text(), data);
      QVERIFY(shown.RetimingButton()->isEnabled());

      // Cancelled after a change of display type: the former type comes back.
      cancelled = cancel();
      shown.TypeRadio(2)->click();
      QVERIFY(*cancelled);
      QVERIFY(shown.TypeRadio(0)->isChecked());
      QCOMPARE(model->DisplayType(), 0);
      QCOMPARE(Rows(*list), expected);
      QCOMPARE(list->selectedItems(), QList<QTreeWidgetItem*>{list->topLevelItem(1)});
      QCOMPARE(shown.DataLabel()->text(), data);
      // The list has the focus when the dialog is active again (offscreen, nothing activates
      // it once the progress dialog is gone).
      QCOMPARE(shown.focusWidget(), static_cast<QWidget*>(list));
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
      // The export runs under the progress dialog, which ends by itself before the final
      // message. Held when it queues its uploads, it shows its files written and its detectors
      // done, and offers no way out: files are not left half exported.
      std::promise<void> gate;
      m_uploadGate = gate.get_future().share();
      QString progressTitle;
      bool noCancel = false;
      bool countsShown = false;
      bool barFull = false;
      bool escapeIgnored = false;
      int messagesWhileInProgress = -1;
      auto progressShown = WhenDialogShown<CDlgJobProgress>([&](CDlgJobProgress& progress) {
        progressTitle = progress.windowTitle();
        noCancel = progress.CancelButton() == nullptr;
        messagesWhileInProgress = static_cast<int>(m_messages.size());
        countsShown = QTest::qWaitFor(
            [&] {
              return progress.TextLabel()->text() ==
                     ToQt(StrF(Tr(kMsgExportProgress).c_str(), 1, 1, 1));
            },
            20000);
        barFull = progress.Bar()->maximum() == 1 && progress.Bar()->value() == 1;
        QTest::keyClick(&progress, Qt::Key_Escape);
        progress.close();
        escapeIgnored = progress.isVisible();
        gate.set_value();
        QTRY_VERIFY_WITH_TIMEOUT(!progress.isVisible(), 20000);
      });
      shown.ExportButton()->click();
      QVERIFY(*progressShown);
      QCOMPARE(progressTitle, shown.windowTitle());
      QVERIFY(noCancel);
      QVERIFY(countsShown);
      QVERIFY(barFull);
      QVERIFY(escapeIgnored);
      QCOMPARE(messagesWhileInProgress, 1);
      QCOMPARE(m_messages.size(), 2);
      QVERIFY(m_messages[1].startsWith(ToQt(kMsgExportDone)));
      QVERIFY(m_messages[1].endsWith(ToQt(kMsgExportFtpLaunched)));
      QCOMPARE(testing::ReadFile(out + "/race-FIN-1.kol"),
               std::string("1\tFIN\t12\t1\t10:15:30.27\t1\r\n"));
      QCOMPARE(m_jobs.size(), std::size_t{2});
      QCOMPARE(QString::fromStdString(m_jobs[0]->site), QStringLiteral("ftp.a.example"));
      QCOMPARE(QString::fromStdString(m_jobs[1]->site), QStringLiteral("ftp.b.example"));
      shown.CloseButton()->click();
    });
    QCOMPARE(result, kRejected);
  }

  // An export of many files lists them all in its final message; the message keeps its whole
  // text yet fits the screen, its OK button within reach and taken by Return.
  void messageOfAnExportOfManyFilesFitsTheScreen() {
    constexpr int kDetectors = 80;
    for (int d = 1; d <= kDetectors; ++d) {
      Add("D" + std::to_string(d), "7", "10:00:00.00");
    }
    auto model = MakeModel();
    CDlgExportDetectionLines dialog(*model);  // the program's own message box
    std::string out = m_dir->File("many");
    std::filesystem::create_directories(out);
    QString text;
    bool fits = false;
    bool okOnScreen = false;
    bool closedByReturn = false;
    int result = ExecWith(dialog, [&](CDlgExportDetectionLines& shown) {
      shown.FolderEdit()->setText(QString::fromStdString(out));
      shown.NameEdit()->setText(QStringLiteral("race"));
      shown.GapEdit()->setText(QStringLiteral("0:0:0"));
      shown.FilterButton()->click();
      auto message = testing::WhenShown(
          [] {
            QWidget* top = QApplication::activeModalWidget();
            return top != nullptr && top->findChild<QLabel*>(QStringLiteral("messageText"))
                       ? top
                       : nullptr;
          },
          [&](QWidget* box) {
            QVERIFY(QTest::qWaitForWindowExposed(box));
            text = box->findChild<QLabel*>(QStringLiteral("messageText"))->text();
            const QRect room = box->screen()->availableGeometry();
            fits = box->frameGeometry().height() <= room.height();
            auto* buttons = box->findChild<QDialogButtonBox*>();
            QPushButton* ok = buttons->button(QDialogButtonBox::Ok);
            const QRect okRect(ok->mapToGlobal(QPoint(0, 0)), ok->size());
            okOnScreen = ok->isVisible() && room.contains(okRect);
            QTest::keyClick(box, Qt::Key_Return);
            closedByReturn = !box->isVisible();
          });
      shown.ExportButton()->click();
      QVERIFY(*message);
      shown.CloseButton()->click();
    });
    QCOMPARE(result, kRejected);
    QVERIFY(text.startsWith(ToQt(kMsgExportDone)));
    for (int d = 1; d <= kDetectors; ++d) {
      QVERIFY2(text.contains(QStringLiteral("race-D%1-1.kol").arg(d)), qPrintable(text));
    }
    QVERIFY(fits);
    QVERIFY(okOnScreen);
    QVERIFY(closedByReturn);
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
