// The download dialog of box data files offscreen against a real detection server (tools/
// detserver): the boxes and files it lists, a download into a folder, a removal that empties the
// list, and the two detection-server entries of the import dialog's source menu.
#include <QApplication>
#include <QClipboard>
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
#include "ui/dlg_box_files.h"
#include "ui/dlg_import_varnex.h"
#include "ui/qt_text.h"

namespace lapora {

namespace {

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
    QCOMPARE(dialog->windowTitle(), ToQt(kMsgDownloadTitle));
    QCOMPARE(dialog->BoxSelector()->count(), 0);
    QVERIFY(!dialog->DownloadButton()->isEnabled());
    QVERIFY(dialog->CopyButton()->isEnabled());  // no box at all
    QCOMPARE(dialog->FolderEdit()->text(), ToQt(m_local->path() + "/VARNEX"));

    QTest::mouseClick(dialog->RefreshButton(), Qt::LeftButton);
    QVERIFY(m_warnings.isEmpty());
    QCOMPARE(dialog->BoxSelector()->count(), 2);
    QCOMPARE(dialog->BoxSelector()->currentText(), QStringLiteral("7"));
    QCOMPARE(dialog->FileList()->count(), 1);
    QVERIFY(!dialog->DownloadButton()->isEnabled());

    dialog->BoxSelector()->setCurrentIndex(0);
    QCOMPARE(dialog->FileList()->count(), 2);
    dialog->FileList()->setCurrentRow(1);
    QVERIFY(dialog->DownloadButton()->isEnabled());
    QVERIFY(dialog->RemoveButton()->isEnabled());
    QTest::mouseClick(dialog->CopyButton(), Qt::LeftButton);
    QCOMPARE(QGuiApplication::clipboard()->text(), ToQt(m_base + "/getDataFile/12/day2.csv"));

    // The folder does not exist yet: the question is answered Yes.
    QTest::mouseClick(dialog->DownloadButton(), Qt::LeftButton);
    QVERIFY2(m_warnings.isEmpty(), qPrintable(m_warnings.join("|")));
    QCOMPARE(m_infos, QStringList{ToQt(kMsgDownloadDone)});
    QCOMPARE(dialog->result(), int(QDialog::Accepted));
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
    QCOMPARE(dialog->BoxSelector()->currentText(), QStringLiteral("7"));
    dialog->FileList()->setCurrentRow(0);
    QTest::mouseClick(dialog->RemoveButton(), Qt::LeftButton);
    QVERIFY2(m_warnings.isEmpty(), qPrintable(m_warnings.join("|")));
    QCOMPARE(m_infos.size(), 1);
    QVERIFY(m_infos[0].startsWith(ToQt(kMsgDownloadServerReturned)));
    QVERIFY(!std::filesystem::exists(m_served->File("7/only.csv")));
    // Refreshed from the server: box 7 is gone, box 12 holds its two files.
    QCOMPARE(dialog->BoxSelector()->count(), 1);
    QCOMPARE(dialog->BoxSelector()->currentText(), QStringLiteral("12"));
    QCOMPARE(dialog->FileList()->count(), 2);

    dialog->FileList()->setCurrentRow(0);
    dialog->FolderEdit()->setText(QStringLiteral("   "));
    QTest::mouseClick(dialog->DownloadButton(), Qt::LeftButton);
    QCOMPARE(m_warnings, QStringList{ToQt(kMsgDownloadNoFolder)});
    QVERIFY(dialog->result() != int(QDialog::Accepted));

    dialog->SetFolderChooser([this](const QString&) { return ToQt(m_local->path() + "/"); });
    QTest::mouseClick(dialog->BrowseButton(), Qt::LeftButton);
    QCOMPARE(dialog->FolderEdit()->text(), ToQt(m_local->path()));
    QCOMPARE(m_store->ReadSettingText("DownloadRaceResult", "DownloadRaceResultPath", ""),
             m_local->path());
  }

  void importDialogEntriesDefineTheServerAndTakeTheDownload() {
    CChipTable chips;
    AppSettings settings;
    ImportDialogMemory memory;
    {
      CDlgImportVarnex without(ImportDialogSetup{chips, settings, memory});
      QVERIFY(!without.ImportFromServerAction()->isEnabled());
      QVERIFY(!without.DefineServerAction()->isEnabled());
    }
    ImportDialogSetup setup{chips, settings, memory};
    setup.store = m_store.get();
    CDlgImportVarnex dialog(setup);
    QCOMPARE(dialog.ImportFromServerAction()->text(), ToQt(kMsgDownloadImportFromServer));
    QCOMPARE(dialog.DefineServerAction()->text(), ToQt(kMsgDownloadDefineServer));
    QStringList warnings;
    dialog.SetWarningShower([&](const QString& text) { warnings.push_back(text); });
    int asked = 0;
    dialog.SetServerUrlAsker([&](const QString& current) -> std::optional<QString> {
      ++asked;
      if (!current.isEmpty()) {
        return std::nullopt;
      }
      return ToQt(m_base + "/");
    });
    std::string seenBase;
    std::string seenListing;
    dialog.SetBoxFilesRunner([&](BoxFilesSetup boxSetup) {
      seenBase = boxSetup.base;
      seenListing = boxSetup.listing;
      return std::string("/tmp/LVX_day1.csv");
    });

    // No server yet: the server dialog comes first.
    dialog.ImportFromServerAction()->trigger();
    QCOMPARE(asked, 1);
    QCOMPARE(ReadServerUrl(*m_store), m_base + "/");
    QCOMPARE(seenBase, m_base);
    QVERIFY(seenListing.find("12;day1.csv;1;") == 0);
    QVERIFY(seenListing.find('\r') == std::string::npos);
    QCOMPARE(dialog.FileEdit()->text(), QStringLiteral("/tmp/LVX_day1.csv"));
    QVERIFY(!dialog.Attached().has_value());
    QVERIFY(warnings.isEmpty());

    // An unreachable server: its error, and the file field as it was.
    QVERIFY(WriteServerUrl(*m_store, "http://127.0.0.1:1"));
    dialog.ImportFromServerAction()->trigger();
    QCOMPARE(warnings.size(), 1);
    QVERIFY(warnings[0].startsWith(QStringLiteral("_GetInternetData: ")));
    QCOMPARE(dialog.FileEdit()->text(), QStringLiteral("/tmp/LVX_day1.csv"));

    // Define server: cancel keeps the address.
    dialog.DefineServerAction()->trigger();
    QCOMPARE(asked, 2);
    QCOMPARE(ReadServerUrl(*m_store), std::string("http://127.0.0.1:1"));
  }
};

}  // namespace lapora

QTEST_MAIN(lapora::DlgBoxFilesTest)
#include "dlg_box_files_test.moc"
