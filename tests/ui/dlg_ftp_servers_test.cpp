// The FTP servers dialog offscreen: the compact form it opens in with the pre-selected ticks,
// the full form, adding and updating a server through the widgets, the edit mode, and the
// labels and file OK gives. With LAPORA_SCREENSHOT_DIR set to a folder, pictures of both forms
// are saved there.
#include <QApplication>
#include <QImage>
#include <QTest>
#include <memory>

#include "export/ftp_servers.h"
#include "foundation/text.h"
#include "resources/messages_ftp_dialogs.h"
#include "support/temp_dir.h"
#include "ui/dlg_ftp_servers.h"
#include "ui/qt_text.h"

namespace lapora {

namespace {

void SaveScreenshot(QWidget* widget, const char* name) {
  QByteArray folder = qgetenv("LAPORA_SCREENSHOT_DIR");
  if (!folder.isEmpty()) {
    widget->grab().toImage().save(QString::fromLocal8Bit(folder) + "/" + name);
  }
}

}  // namespace

class DlgFtpServersTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<testing::TempDir> m_dir;
  std::string m_path;
  QStringList m_warnings;

  std::unique_ptr<CDlgFtpServers> MakeDialog(std::vector<std::string> preselected) {
    auto dialog = std::make_unique<CDlgFtpServers>(std::move(preselected), m_path);
    dialog->SetWarningShower([this](const QString& text) { m_warnings.push_back(text); });
    dialog->show();
    return dialog;
  }

  static QStringList Rows(const CDlgFtpServers& dialog) {
    QStringList rows;
    for (int i = 0; i < dialog.List()->topLevelItemCount(); ++i) {
      QTreeWidgetItem* item = dialog.List()->topLevelItem(i);
      rows.push_back((item->checkState(0) == Qt::Checked ? "[x] " : "[ ] ") + item->text(0));
    }
    return rows;
  }

  static void FillEdits(CDlgFtpServers& dialog, const QString& label, const QString& site,
                        const QString& user, const QString& password, const QString& directory) {
    QLineEdit* edits[] = {dialog.LabelEdit(), dialog.SiteEdit(), dialog.UserEdit(),
                          dialog.PasswordEdit(), dialog.DirectoryEdit()};
    const QString* texts[] = {&label, &site, &user, &password, &directory};
    for (int i = 0; i < 5; ++i) {
      edits[i]->selectAll();
      QTest::keyClicks(edits[i], *texts[i]);
      if (texts[i]->isEmpty()) {
        edits[i]->clear();
      }
    }
  }

  static void VerifyBrowseMode(const CDlgFtpServers& dialog, bool selected) {
    QVERIFY(dialog.List()->isEnabled());
    QVERIFY(dialog.AddButton()->isEnabled());
    QCOMPARE(dialog.RemoveButton()->isEnabled(), selected);
    QCOMPARE(dialog.UpdateButton()->isEnabled(), selected);
    QVERIFY(dialog.FormButton()->isEnabled());
    QVERIFY(dialog.OkButton()->isEnabled());
    QVERIFY(dialog.CancelButton()->isEnabled());
    QVERIFY(dialog.OkButton()->isDefault());
    for (QWidget* w :
         {static_cast<QWidget*>(dialog.LabelEdit()), static_cast<QWidget*>(dialog.SiteEdit()),
          static_cast<QWidget*>(dialog.UserEdit()), static_cast<QWidget*>(dialog.PasswordEdit()),
          static_cast<QWidget*>(dialog.DirectoryEdit()),
          static_cast<QWidget*>(dialog.ValidateButton()),
          static_cast<QWidget*>(dialog.CancelEditButton())}) {
      QVERIFY(!w->isEnabled());
    }
  }

  static void VerifyEditMode(const CDlgFtpServers& dialog) {
    for (QWidget* w :
         {static_cast<QWidget*>(dialog.List()), static_cast<QWidget*>(dialog.AddButton()),
          static_cast<QWidget*>(dialog.RemoveButton()),
          static_cast<QWidget*>(dialog.UpdateButton()), static_cast<QWidget*>(dialog.FormButton()),
          static_cast<QWidget*>(dialog.OkButton()), static_cast<QWidget*>(dialog.CancelButton())}) {
      QVERIFY(!w->isEnabled());
    }
    for (QLineEdit* edit : {dialog.LabelEdit(), dialog.SiteEdit(), dialog.UserEdit(),
                            dialog.PasswordEdit(), dialog.DirectoryEdit()}) {
      QVERIFY(edit->isEnabled());
    }
    QVERIFY(dialog.ValidateButton()->isEnabled());
    QVERIFY(dialog.CancelEditButton()->isEnabled());
    QVERIFY(dialog.ValidateButton()->isDefault());
    QVERIFY(!dialog.OkButton()->isDefault());
    QCOMPARE(dialog.focusWidget(), dialog.LabelEdit());
  }

 private slots:
  void init() {
    m_warnings.clear();
    m_dir = std::make_unique<testing::TempDir>();
    m_path = m_dir->File("FtpServers.dat");
    testing::WriteFile(m_path,
                       "zeta\tz.example.org\tzu\tzp\t/z\r\n"
                       "Alpha\ta.example.org\tau\tap\t\r\n"
                       "beta\tb.example.org\tbu\tbp\t/b\r\n");
  }

  void opensCompactWithThePreselectedTicks() {
    auto dialog = MakeDialog({"zeta", "beta"});
    QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
    QCOMPARE(dialog->windowTitle(), ToQt(kMsgFtpServersTitle));
    QCOMPARE(Rows(*dialog), (QStringList{"[ ] Alpha", "[x] beta", "[x] zeta"}));
    QVERIFY(dialog->List()->isHeaderHidden());
    QCOMPARE(dialog->List()->headerItem()->text(0), ToQt(kMsgFtpServersColumn));
    QCOMPARE(dialog->List()->selectionMode(), QAbstractItemView::SingleSelection);
    QCOMPARE(dialog->List()->selectionBehavior(), QAbstractItemView::SelectRows);
    QVERIFY(!dialog->IsFullForm());
    QCOMPARE(dialog->FormButton()->text(), QStringLiteral(">>"));
    QVERIFY(!dialog->InfoGroup()->isVisible());
    QVERIFY(!dialog->AddButton()->isVisible());
    QVERIFY(dialog->OkButton()->isVisible());
    QCOMPARE(dialog->CancelButton()->text(), ToQt(kMsgFtpCancel));
    VerifyBrowseMode(*dialog, false);
    SaveScreenshot(dialog.get(), "ftp_servers_compact.png");
  }

  void formButtonTogglesTheFullForm() {
    auto dialog = MakeDialog({});
    QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
    int compactWidth = dialog->width();
    dialog->FormButton()->click();
    QVERIFY(dialog->IsFullForm());
    QCOMPARE(dialog->FormButton()->text(), QStringLiteral("<<"));
    QVERIFY(dialog->InfoGroup()->isVisible());
    QCOMPARE(dialog->InfoGroup()->title(), ToQt(kMsgFtpServerInfoGroup));
    QVERIFY(dialog->AddButton()->isVisible());
    QVERIFY(dialog->ValidateButton()->isVisible());
    QCOMPARE(dialog->PasswordEdit()->echoMode(), QLineEdit::Password);
    QTRY_VERIFY(dialog->width() > compactWidth);

    // Selecting a row shows its fields.
    dialog->List()->setCurrentItem(dialog->List()->topLevelItem(1));
    QCOMPARE(dialog->LabelEdit()->text(), QStringLiteral("beta"));
    QCOMPARE(dialog->SiteEdit()->text(), QStringLiteral("b.example.org"));
    QCOMPARE(dialog->PasswordEdit()->text(), QStringLiteral("bp"));
    QCOMPARE(dialog->DirectoryEdit()->text(), QStringLiteral("/b"));
    VerifyBrowseMode(*dialog, true);
    SaveScreenshot(dialog.get(), "ftp_servers_full.png");

    dialog->FormButton()->click();
    QVERIFY(!dialog->IsFullForm());
    QCOMPARE(dialog->FormButton()->text(), QStringLiteral(">>"));
    QVERIFY(!dialog->InfoGroup()->isVisible());
  }

  void addIsCheckedInOrderAndLandsAtItsSortedPlace() {
    auto dialog = MakeDialog({"zeta"});
    QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
    dialog->FormButton()->click();
    dialog->List()->setCurrentItem(dialog->List()->topLevelItem(0));
    dialog->AddButton()->click();
    QVERIFY(dialog->List()->selectedItems().isEmpty());
    QVERIFY(dialog->LabelEdit()->text().isEmpty());
    VerifyEditMode(*dialog);

    FillEdits(*dialog, QStringLiteral("  gamma "), QStringLiteral("g.example.org"), QString(),
              QStringLiteral("gp"), QString());
    dialog->ValidateButton()->click();
    QCOMPARE(m_warnings,
             QStringList{ToQt(StrF(Tr(kMsgFtpFieldEmpty).c_str(), Tr(kMsgFtpFieldUser).c_str()))});
    QCOMPARE(dialog->focusWidget(), dialog->UserEdit());
    QVERIFY(dialog->ValidateButton()->isEnabled());  // still editing

    QTest::keyClicks(dialog->UserEdit(), QStringLiteral("gu"));
    QTest::keyClick(dialog->UserEdit(), Qt::Key_Return);  // the default button validates
    QCOMPARE(m_warnings.size(), 1);
    QCOMPARE(Rows(*dialog), (QStringList{"[ ] Alpha", "[ ] beta", "[ ] gamma", "[x] zeta"}));
    QCOMPARE(dialog->List()->selectedItems().size(), 1);
    QCOMPARE(dialog->List()->selectedItems().front()->text(0), QStringLiteral("gamma"));
    QCOMPARE(dialog->LabelEdit()->text(), QStringLiteral("gamma"));  // trimmed
    VerifyBrowseMode(*dialog, true);

    // A label with the export's list separator is refused with its own warning.
    dialog->AddButton()->click();
    FillEdits(*dialog, QStringLiteral("a\\b"), QStringLiteral("s"), QStringLiteral("u"),
              QStringLiteral("p"), QString());
    dialog->ValidateButton()->click();
    QCOMPARE(m_warnings.back(), ToQt(kMsgFtpLabelBackslash));
    QCOMPARE(dialog->focusWidget(), dialog->LabelEdit());
    dialog->CancelEditButton()->click();
    VerifyBrowseMode(*dialog, false);
    QCOMPARE(dialog->LabelEdit()->text(), QStringLiteral("a\\b"));  // kept until a selection
    QCOMPARE(dialog->List()->topLevelItemCount(), 4);
  }

  void doubleClickUpdatesInTheFullFormAndTheTickStays() {
    auto dialog = MakeDialog({"beta"});
    QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
    QTreeWidget* list = dialog->List();
    QPoint beta = list->visualItemRect(list->topLevelItem(1)).center();

    // In the compact form a double-click edits nothing.
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, beta);
    QVERIFY(list->isEnabled());
    QVERIFY(!dialog->Editor().InEditMode());

    dialog->FormButton()->click();
    list->setCurrentItem(list->topLevelItem(1));
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, beta);
    QVERIFY(dialog->Editor().InEditMode());
    VerifyEditMode(*dialog);
    QCOMPARE(dialog->LabelEdit()->selectedText(), QStringLiteral("beta"));

    // OK, Cancel and Escape do nothing while editing.
    dialog->accept();
    dialog->reject();
    QTest::keyClick(dialog->LabelEdit(), Qt::Key_Escape);
    QVERIFY(dialog->isVisible());

    QTest::keyClicks(dialog->LabelEdit(), QStringLiteral("Omega"));
    dialog->ValidateButton()->click();
    QVERIFY(m_warnings.isEmpty());
    QCOMPARE(Rows(*dialog), (QStringList{"[ ] Alpha", "[x] Omega", "[ ] zeta"}));
    QCOMPARE(list->selectedItems().front()->text(0), QStringLiteral("Omega"));
    QCOMPARE(dialog->SiteEdit()->text(), QStringLiteral("b.example.org"));
    VerifyBrowseMode(*dialog, true);
  }

  void okGivesTheTickedLabelsAndWritesTheServersInRowOrder() {
    auto dialog = MakeDialog({"Alpha"});
    QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
    dialog->FormButton()->click();
    dialog->List()->topLevelItem(2)->setCheckState(0, Qt::Checked);
    dialog->List()->topLevelItem(0)->setCheckState(0, Qt::Unchecked);
    dialog->List()->topLevelItem(1)->setCheckState(0, Qt::Checked);
    dialog->List()->setCurrentItem(dialog->List()->topLevelItem(0));
    dialog->RemoveButton()->click();
    QVERIFY(dialog->LabelEdit()->text().isEmpty());
    QCOMPARE(Rows(*dialog), (QStringList{"[x] beta", "[x] zeta"}));

    dialog->OkButton()->click();
    QCOMPARE(dialog->result(), static_cast<int>(QDialog::Accepted));
    QCOMPARE(dialog->CheckedLabels(), (std::vector<std::string>{"beta", "zeta"}));
    std::vector<CFtpServer> back;
    std::string error;
    QCOMPARE(LoadFtpServers(m_path, &back, &error), 0);
    QCOMPARE(back.size(), std::size_t{2});
    QCOMPARE(back[0].label, std::string("beta"));
    QCOMPARE(back[1].directory, std::string("/z"));
  }

  void cancelWritesNothing() {
    const std::string before = testing::ReadFile(m_path);
    auto dialog = MakeDialog({"Alpha"});
    QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
    dialog->FormButton()->click();
    dialog->List()->setCurrentItem(dialog->List()->topLevelItem(0));
    dialog->RemoveButton()->click();
    dialog->CancelButton()->click();
    QCOMPARE(dialog->result(), static_cast<int>(QDialog::Rejected));
    QVERIFY(dialog->CheckedLabels().empty());
    QCOMPARE(testing::ReadFile(m_path), before);
  }
};

}  // namespace lapora

QTEST_MAIN(lapora::DlgFtpServersTest)
#include "dlg_ftp_servers_test.moc"
