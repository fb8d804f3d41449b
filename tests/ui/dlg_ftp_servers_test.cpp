// The FTP servers dialog offscreen, run with exec() and driven from inside it: the compact form
// it opens in with the pre-selected ticks, the full form, adding and updating a server through
// the widgets, the edit mode, and the labels and file OK gives. With LAPORA_SCREENSHOT_DIR set to a
// folder, pictures of both forms are saved there.
#include <QApplication>
#include <QImage>
#include <QTest>
#include <memory>

#include "export/ftp_servers.h"
#include "foundation/text.h"
#include "resources/messages_ftp_dialogs.h"
#include "support/temp_dir.h"
#include "ui/dialog_driver.h"
#include "ui/dlg_ftp_servers.h"
#include "ui/qt_text.h"

namespace lapora {

namespace {

using testing::ExecWith;

constexpr int kAccepted = QDialog::Accepted;
constexpr int kRejected = QDialog::Rejected;

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
    int result = ExecWith(*dialog, [](CDlgFtpServers& shown) {
      QCOMPARE(shown.windowTitle(), ToQt(kMsgFtpServersTitle));
      QCOMPARE(Rows(shown), (QStringList{"[ ] Alpha", "[x] beta", "[x] zeta"}));
      QVERIFY(shown.List()->isHeaderHidden());
      QCOMPARE(shown.List()->headerItem()->text(0), ToQt(kMsgFtpServersColumn));
      QCOMPARE(shown.List()->selectionMode(), QAbstractItemView::SingleSelection);
      QCOMPARE(shown.List()->selectionBehavior(), QAbstractItemView::SelectRows);
      QVERIFY(!shown.IsFullForm());
      QCOMPARE(shown.FormButton()->text(), QStringLiteral(">>"));
      QVERIFY(!shown.InfoGroup()->isVisible());
      QVERIFY(!shown.AddButton()->isVisible());
      QVERIFY(shown.OkButton()->isVisible());
      QCOMPARE(shown.CancelButton()->text(), ToQt(kMsgFtpCancel));
      VerifyBrowseMode(shown, false);
      SaveScreenshot(&shown, "ftp_servers_compact.png");
      shown.CancelButton()->click();
    });
    QCOMPARE(result, kRejected);
  }

  void formButtonTogglesTheFullForm() {
    auto dialog = MakeDialog({});
    int result = ExecWith(*dialog, [](CDlgFtpServers& shown) {
      int compactWidth = shown.width();
      shown.FormButton()->click();
      QVERIFY(shown.IsFullForm());
      QCOMPARE(shown.FormButton()->text(), QStringLiteral("<<"));
      QVERIFY(shown.InfoGroup()->isVisible());
      QCOMPARE(shown.InfoGroup()->title(), ToQt(kMsgFtpServerInfoGroup));
      QVERIFY(shown.AddButton()->isVisible());
      QVERIFY(shown.ValidateButton()->isVisible());
      QCOMPARE(shown.PasswordEdit()->echoMode(), QLineEdit::Password);
      QTRY_VERIFY(shown.width() > compactWidth);

      // Selecting a row shows its fields.
      shown.List()->setCurrentItem(shown.List()->topLevelItem(1));
      QCOMPARE(shown.LabelEdit()->text(), QStringLiteral("beta"));
      QCOMPARE(shown.SiteEdit()->text(), QStringLiteral("b.example.org"));
      QCOMPARE(shown.PasswordEdit()->text(), QStringLiteral("bp"));
      QCOMPARE(shown.DirectoryEdit()->text(), QStringLiteral("/b"));
      VerifyBrowseMode(shown, true);
      SaveScreenshot(&shown, "ftp_servers_full.png");

      shown.FormButton()->click();
      QVERIFY(!shown.IsFullForm());
      QCOMPARE(shown.FormButton()->text(), QStringLiteral(">>"));
      QVERIFY(!shown.InfoGroup()->isVisible());
      shown.CancelButton()->click();
    });
    QCOMPARE(result, kRejected);
  }

  void addIsCheckedInOrderAndLandsAtItsSortedPlace() {
    auto dialog = MakeDialog({"zeta"});
    int result = ExecWith(*dialog, [this](CDlgFtpServers& shown) {
      shown.FormButton()->click();
      shown.List()->setCurrentItem(shown.List()->topLevelItem(0));
      shown.AddButton()->click();
      QVERIFY(shown.List()->selectedItems().isEmpty());
      QVERIFY(shown.LabelEdit()->text().isEmpty());
      VerifyEditMode(shown);

      FillEdits(shown, QStringLiteral("  gamma "), QStringLiteral("g.example.org"), QString(),
                QStringLiteral("gp"), QString());
      shown.ValidateButton()->click();
      QCOMPARE(
          m_warnings,
          QStringList{ToQt(StrF(Tr(kMsgFtpFieldEmpty).c_str(), Tr(kMsgFtpFieldUser).c_str()))});
      QCOMPARE(shown.focusWidget(), shown.UserEdit());
      QVERIFY(shown.ValidateButton()->isEnabled());  // still editing

      QTest::keyClicks(shown.UserEdit(), QStringLiteral("gu"));
      QTest::keyClick(shown.UserEdit(), Qt::Key_Return);  // the default button validates
      QVERIFY(shown.isVisible());
      QCOMPARE(m_warnings.size(), 1);
      QCOMPARE(Rows(shown), (QStringList{"[ ] Alpha", "[ ] beta", "[ ] gamma", "[x] zeta"}));
      QCOMPARE(shown.List()->selectedItems().size(), 1);
      QCOMPARE(shown.List()->selectedItems().front()->text(0), QStringLiteral("gamma"));
      QCOMPARE(shown.LabelEdit()->text(), QStringLiteral("gamma"));  // trimmed
      VerifyBrowseMode(shown, true);

      // A label with the export's list separator is refused with its own warning.
      shown.AddButton()->click();
      FillEdits(shown, QStringLiteral("a\\b"), QStringLiteral("s"), QStringLiteral("u"),
                QStringLiteral("p"), QString());
      shown.ValidateButton()->click();
      QCOMPARE(m_warnings.back(), ToQt(kMsgFtpLabelBackslash));
      QCOMPARE(shown.focusWidget(), shown.LabelEdit());
      shown.CancelEditButton()->click();
      VerifyBrowseMode(shown, false);
      QCOMPARE(shown.LabelEdit()->text(), QStringLiteral("a\\b"));  // kept until a selection
      QCOMPARE(shown.List()->topLevelItemCount(), 4);
      shown.OkButton()->click();
    });
    QCOMPARE(result, kAccepted);
    QCOMPARE(dialog->CheckedLabels(), std::vector<std::string>{"zeta"});
    std::vector<CFtpServer> back;
    std::string error;
    QCOMPARE(LoadFtpServers(m_path, &back, &error), 0);
    QCOMPARE(back.size(), std::size_t{4});
  }

  void doubleClickUpdatesInTheFullFormAndTheTickStays() {
    auto dialog = MakeDialog({"beta"});
    int result = ExecWith(*dialog, [this](CDlgFtpServers& shown) {
      QTreeWidget* list = shown.List();
      QPoint beta = list->visualItemRect(list->topLevelItem(1)).center();

      // In the compact form a double-click edits nothing.
      QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, beta);
      QVERIFY(list->isEnabled());
      QVERIFY(!shown.Editor().InEditMode());

      shown.FormButton()->click();
      list->setCurrentItem(list->topLevelItem(1));
      QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, beta);
      QVERIFY(shown.Editor().InEditMode());
      VerifyEditMode(shown);
      QCOMPARE(shown.LabelEdit()->selectedText(), QStringLiteral("beta"));

      // OK, Cancel and Escape do nothing while editing: the dialog goes on running.
      shown.accept();
      shown.reject();
      QTest::keyClick(shown.LabelEdit(), Qt::Key_Escape);
      QVERIFY(shown.isVisible());
      QCOMPARE(QApplication::activeModalWidget(), static_cast<QWidget*>(&shown));

      QTest::keyClicks(shown.LabelEdit(), QStringLiteral("Omega"));
      shown.ValidateButton()->click();
      QVERIFY(m_warnings.isEmpty());
      QCOMPARE(Rows(shown), (QStringList{"[ ] Alpha", "[x] Omega", "[ ] zeta"}));
      QCOMPARE(list->selectedItems().front()->text(0), QStringLiteral("Omega"));
      QCOMPARE(shown.SiteEdit()->text(), QStringLiteral("b.example.org"));
      VerifyBrowseMode(shown, true);
      QTest::keyClick(list, Qt::Key_Escape);
    });
    QCOMPARE(result, kRejected);
  }

  void okGivesTheTickedLabelsAndWritesTheServersInRowOrder() {
    auto dialog = MakeDialog({"Alpha"});
    int result = ExecWith(*dialog, [](CDlgFtpServers& shown) {
      shown.FormButton()->click();
      shown.List()->topLevelItem(2)->setCheckState(0, Qt::Checked);
      shown.List()->topLevelItem(0)->setCheckState(0, Qt::Unchecked);
      shown.List()->topLevelItem(1)->setCheckState(0, Qt::Checked);
      shown.List()->setCurrentItem(shown.List()->topLevelItem(0));
      shown.RemoveButton()->click();
      QVERIFY(shown.LabelEdit()->text().isEmpty());
      QCOMPARE(Rows(shown), (QStringList{"[x] beta", "[x] zeta"}));
      shown.OkButton()->click();
    });
    QCOMPARE(result, kAccepted);
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
    int result = ExecWith(*dialog, [](CDlgFtpServers& shown) {
      shown.FormButton()->click();
      shown.List()->setCurrentItem(shown.List()->topLevelItem(0));
      shown.RemoveButton()->click();
      shown.CancelButton()->click();
    });
    QCOMPARE(result, kRejected);
    QVERIFY(dialog->CheckedLabels().empty());
    QCOMPARE(testing::ReadFile(m_path), before);
  }
};

}  // namespace lapora

QTEST_MAIN(lapora::DlgFtpServersTest)
#include "dlg_ftp_servers_test.moc"
