// The download dialog of box data files offscreen against a real detection server (tools/
// detserver), run with exec() and driven from inside it: the boxes and files it lists, a
// download into a folder, a removal that empties the list, and the two detection-server entries
// of the import dialog's source menu, which open the address prompt and the download dialog.
#include <QApplication>
#include <QClipboard>
#include <QInputDialog>
#include <QMessageBox>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <memory>

#include "detections/chip_table.h"
#include "foundation/app_settings.h"
#include "foundation/settings_store.h"
#include "resources/messages_download.h"
#include "support/simulator_process.h"
#include "support/temp_dir.h"
#include "ui/dialog_driver.h"
#include "ui/dlg_box_files.h"
#include "ui/dlg_import_varnex.h"
#include "ui/qt_text.h"

namespace lapora {

namespace {

using testing::ExecWith;
using testing::WhenDialogShown;

void WriteFile(const std::string& path, const std::string& content) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << content;
}

}  // namespace

class DlgBoxFilesTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<testing::TempDir> m_served;
  std::unique_ptr<testing::TempDir> m_local;
  std::unique_ptr<testing::SimulatorProcess> m_server;
  std::unique_ptr<SettingsStore> m_store;
  std::string m_base;
  QStringList m_warnings;
  QStringList m_infos;

  std::unique_ptr<CDlgBoxFiles> MakeDialog(const std::string& listing) {
    auto dialog =
        std::make_unique<CDlgBoxFiles>(BoxFilesSetup{*m_store, m_base, listing, m_local->path()});
    dialog->SetWarningShower([this](const QString& text) { m_warnings.push_back(text); });
    dialog->SetInformationShower([this](const QString& text) { m_infos.push_back(text); });
    dialog->SetQuestionAsker([](const QString&) { return true; });
    return dialog;
  }

 private slots:
  void init() {
    m_served = std::make_unique<testing::TempDir>();
    m_local = std::make_unique<testing::TempDir>();
    WriteFile(m_served->File("12/day1.csv"), "E1,2012-05-13 10:00:00.000,x,y\n");
    WriteFile(m_served->File("12/day2.csv"), "E2,2012-05-14 10:00:00.000,x,y\n");
    WriteFile(m_served->File("7/only.csv"), "E3,2012-05-14 10:00:00.000,x,y\n");
    m_server = std::make_unique<testing::SimulatorProcess>(
        DETSERVER_PATH, std::vector<std::string>{"--folder", m_served->path()});
    std::string port = m_server->WaitEvent("listening on ");
    QVERIFY(!port.empty());
    m_base = "http://127.0.0.1:" + port;
    m_store = std::make_unique<SettingsStore>(m_local->File("Lapora.ini"));
    m_warnings.clear();
    m_infos.clear();
  }
  void cleanup() { m_server.reset(); }

  void refreshListsTheRememberedBoxAndDownloads() {
    WriteDownloadSelection(*m_store, "7", "");
    auto dialog = MakeDialog("");
    int result = ExecWith(*dialog, [this](CDlgBoxFiles& shown) {
      QCOMPARE(shown.windowTitle(), ToQt(kMsgDownloadTitle));
      QCOMPARE(shown.BoxSelector()->count(), 0);
      QVERIFY(!shown.DownloadButton()->isEnabled());
      QVERIFY(shown.CopyButton()->isEnabled());  // no box at all
      QCOMPARE(shown.FolderEdit()->text(), ToQt(m_local->path() + "/VARNEX"));

      QTest::mouseClick(shown.RefreshButton(), Qt::LeftButton);
      QVERIFY(m_warnings.isEmpty());
      QCOMPARE(shown.BoxSelector()->count(), 2);
      QCOMPARE(shown.BoxSelector()->currentText(), QStringLiteral("7"));
      QCOMPARE(shown.FileList()->count(), 1);
      QVERIFY(!shown.DownloadButton()->isEnabled());

      shown.BoxSelector()->setCurrentIndex(0);
      QCOMPARE(shown.FileList()->count(), 2);
      shown.FileList()->setCurrentRow(1);
      QVERIFY(shown.DownloadButton()->isEnabled());
      QVERIFY(shown.RemoveButton()->isEnabled());
      QTest::mouseClick(shown.CopyButton(), Qt::LeftButton);
      QCOMPARE(QGuiApplication::clipboard()->text(), ToQt(m_base + "/getDataFile/12/day2.csv"));

      // The folder does not exist yet: the question is answered Yes.
      QTest::mouseClick(shown.DownloadButton(), Qt::LeftButton);
    });
    QVERIFY2(m_warnings.isEmpty(), qPrintable(m_warnings.join("|")));
    QCOMPARE(m_infos, QStringList{ToQt(kMsgDownloadDone)});
    QCOMPARE(result, int(QDialog::Accepted));
    std::string expected = m_local->path() + "/VARNEX/LVX_day2.csv";
    QCOMPARE(dialog->ResultPath(), expected);
    QVERIFY(std::filesystem::exists(expected));
    DownloadSettings saved = ReadDownloadSettings(*m_store, "/nowhere");
    QCOMPARE(saved.lastBox, std::string("12"));
    QCOMPARE(saved.lastFile, std::string("day2.csv"));
    QCOMPARE(saved.folder, m_local->path() + "/VARNEX");
  }

  void removingTheLastFileRefreshesTheListing() {
    auto dialog = MakeDialog("7;only.csv;1;d;t\n12;day1.csv;1;d;t\n");
    int result = ExecWith(*dialog, [this](CDlgBoxFiles& shown) {
      QCOMPARE(shown.BoxSelector()->currentText(), QStringLiteral("7"));
      shown.FileList()->setCurrentRow(0);
      QTest::mouseClick(shown.RemoveButton(), Qt::LeftButton);
      QVERIFY2(m_warnings.isEmpty(), qPrintable(m_warnings.join("|")));
      QCOMPARE(m_infos.size(), 1);
      QVERIFY(m_infos[0].startsWith(ToQt(kMsgDownloadServerReturned)));
      QVERIFY(!std::filesystem::exists(m_served->File("7/only.csv")));
      // Refreshed from the server: box 7 is gone, box 12 holds its two files.
      QCOMPARE(shown.BoxSelector()->count(), 1);
      QCOMPARE(shown.BoxSelector()->currentText(), QStringLiteral("12"));
      QCOMPARE(shown.FileList()->count(), 2);

      shown.FileList()->setCurrentRow(0);
      shown.FolderEdit()->setText(QStringLiteral("   "));
      QTest::mouseClick(shown.DownloadButton(), Qt::LeftButton);
      QCOMPARE(m_warnings, QStringList{ToQt(kMsgDownloadNoFolder)});
      QVERIFY(shown.isVisible());

      shown.SetFolderChooser([this](const QString&) { return ToQt(m_local->path() + "/"); });
      QTest::mouseClick(shown.BrowseButton(), Qt::LeftButton);
      QCOMPARE(shown.FolderEdit()->text(), ToQt(m_local->path()));
      QCOMPARE(m_store->ReadSettingText("DownloadRaceResult", "DownloadRaceResultPath", ""),
               m_local->path());
      QTest::mouseClick(shown.CancelButton(), Qt::LeftButton);
    });
    QCOMPARE(result, int(QDialog::Rejected));
    QVERIFY(dialog->ResultPath().empty());
  }

  // The import dialog's entries run the address prompt and the download dialog with exec(), as
  // the operator meets them.
  void importDialogEntriesDefineTheServerAndTakeTheDownload() {
    CChipTable chips;
    AppSettings settings;
    ImportDialogMemory memory;
    CDlgImportVarnex without(ImportDialogSetup{chips, settings, memory});
    int result = ExecWith(without, [](CDlgImportVarnex& shown) {
      QVERIFY(!shown.ImportFromServerAction()->isEnabled());
      QVERIFY(!shown.DefineServerAction()->isEnabled());
      QTest::mouseClick(shown.CancelButton(), Qt::LeftButton);
    });
    QCOMPARE(result, int(QDialog::Rejected));

    ImportDialogSetup setup{chips, settings, memory};
    setup.store = m_store.get();
    CDlgImportVarnex dialog(setup);
    QStringList warnings;
    dialog.SetWarningShower([&](const QString& text) { warnings.push_back(text); });
    result = ExecWith(dialog, [&](CDlgImportVarnex& shown) {
      QCOMPARE(shown.ImportFromServerAction()->text(), ToQt(kMsgDownloadImportFromServer));
      QCOMPARE(shown.DefineServerAction()->text(), ToQt(kMsgDownloadDefineServer));

      // No server yet: the address prompt comes first, then the download dialog over the
      // server's listing.
      QString prompted = QStringLiteral("unset");
      auto addressed = WhenDialogShown<QInputDialog>([&](QInputDialog& prompt) {
        prompted = prompt.textValue();
        prompt.setTextValue(ToQt(m_base + "/"));
        prompt.accept();
      });
      QStringList boxes;
      QStringList infos;
      auto downloaded = WhenDialogShown<CDlgBoxFiles>([&](CDlgBoxFiles& download) {
        QCOMPARE(download.parentWidget(), static_cast<QWidget*>(&shown));
        for (int i = 0; i < download.BoxSelector()->count(); ++i) {
          boxes << download.BoxSelector()->itemText(i);
        }
        download.BoxSelector()->setCurrentIndex(download.BoxSelector()->findText("12"));
        download.FileList()->setCurrentRow(0);
        download.FolderEdit()->setText(ToQt(m_local->path()));
        auto told = WhenDialogShown<QMessageBox>([&](QMessageBox& box) {
          infos << box.text();
          box.button(QMessageBox::Ok)->click();
        });
        QTest::mouseClick(download.DownloadButton(), Qt::LeftButton);
        QVERIFY(*told);
      });
      shown.ImportFromServerAction()->trigger();
      QVERIFY(*addressed);
      QVERIFY(*downloaded);
      QCOMPARE(prompted, QString());
      QCOMPARE(ReadServerUrl(*m_store), m_base + "/");
      QCOMPARE(boxes, (QStringList{"12", "7"}));
      QCOMPARE(infos, QStringList{ToQt(kMsgDownloadDone)});
      QCOMPARE(shown.FileEdit()->text(), ToQt(m_local->path() + "/LVX_day1.csv"));
      QVERIFY(std::filesystem::exists(m_local->path() + "/LVX_day1.csv"));
      QVERIFY(!shown.Attached().has_value());
      QVERIFY(warnings.isEmpty());

      // An unreachable server: its error, and the file field as it was.
      QVERIFY(WriteServerUrl(*m_store, "http://127.0.0.1:1"));
      shown.ImportFromServerAction()->trigger();
      QCOMPARE(warnings.size(), 1);
      QVERIFY(warnings[0].startsWith(QStringLiteral("_GetInternetData: ")));
      QCOMPARE(shown.FileEdit()->text(), ToQt(m_local->path() + "/LVX_day1.csv"));

      // Define server: the prompt shows the address; its Cancel keeps it.
      auto cancelled = WhenDialogShown<QInputDialog>([&](QInputDialog& prompt) {
        prompted = prompt.textValue();
        prompt.setTextValue(QStringLiteral("http://elsewhere/"));
        prompt.reject();
      });
      shown.DefineServerAction()->trigger();
      QVERIFY(*cancelled);
      QCOMPARE(prompted, QStringLiteral("http://127.0.0.1:1"));
      QCOMPARE(ReadServerUrl(*m_store), std::string("http://127.0.0.1:1"));
      QTest::mouseClick(shown.CancelButton(), Qt::LeftButton);
    });
    QCOMPARE(result, int(QDialog::Rejected));
  }
};

}  // namespace lapora

QTEST_MAIN(lapora::DlgBoxFilesTest)
#include "dlg_box_files_test.moc"
