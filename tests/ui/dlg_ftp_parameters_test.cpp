// The FTP parameters dialog offscreen: the [FtpSettings] server it shows, OK writing the five
// keys as typed, and "Cancel" writing nothing. With LAPORA_SCREENSHOT_DIR set to a folder, a
// picture of the dialog is saved there.
#include <QApplication>
#include <QFormLayout>
#include <QImage>
#include <QLabel>
#include <QTest>
#include <memory>

#include "foundation/settings_store.h"
#include "foundation/text.h"
#include "resources/messages_ftp_dialogs.h"
#include "support/temp_dir.h"
#include "ui/dlg_ftp_parameters.h"
#include "ui/qt_text.h"

namespace lapora {

class DlgFtpParametersTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<testing::TempDir> m_dir;
  std::unique_ptr<SettingsStore> m_store;
  QStringList m_warnings;

  std::unique_ptr<CDlgFtpParameters> MakeDialog() {
    auto dialog = std::make_unique<CDlgFtpParameters>(*m_store);
    dialog->SetWarningShower([this](const QString& text) { m_warnings.push_back(text); });
    dialog->show();
    return dialog;
  }

 private slots:
  void init() {
    m_warnings.clear();
    m_dir = std::make_unique<testing::TempDir>();
    m_store = std::make_unique<SettingsStore>(m_dir->File("Lapora.ini"));
    QVERIFY(m_store->WriteSettingText("FtpSettings", "Label", "Main"));
    QVERIFY(m_store->WriteSettingText("FtpSettings", "Site", "ftp.example.org"));
    QVERIFY(m_store->WriteSettingText("FtpSettings", "Password", "pw"));
    QVERIFY(m_store->WriteSettingBool("FtpSettings", "BPutInPassiveMode", false));
  }

  void showsTheSettingsServerWithTheLabelsAndAMaskedPassword() {
    auto dialog = MakeDialog();
    QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
    QCOMPARE(dialog->windowTitle(), ToQt(kMsgFtpParametersTitle));
    QCOMPARE(dialog->LabelEdit()->text(), QStringLiteral("Main"));
    QCOMPARE(dialog->SiteEdit()->text(), QStringLiteral("ftp.example.org"));
    QVERIFY(dialog->UserEdit()->text().isEmpty());
    QCOMPARE(dialog->PasswordEdit()->text(), QStringLiteral("pw"));
    QCOMPARE(dialog->PasswordEdit()->echoMode(), QLineEdit::Password);
    QVERIFY(dialog->DirectoryEdit()->text().isEmpty());
    auto* form = dialog->findChild<QFormLayout*>();
    QVERIFY(form != nullptr);
    auto* userLabel = qobject_cast<QLabel*>(form->labelForField(dialog->UserEdit()));
    QVERIFY(userLabel != nullptr);
    QCOMPARE(userLabel->text(), ToQt(kMsgFtpUserLabel));
    QCOMPARE(dialog->CancelButton()->text(), ToQt(kMsgFtpCancel));
    QByteArray folder = qgetenv("LAPORA_SCREENSHOT_DIR");
    if (!folder.isEmpty()) {
      QVERIFY(
          dialog->grab().toImage().save(QString::fromLocal8Bit(folder) + "/ftp_parameters.png"));
    }
  }

  void okWritesTheFiveKeysWithoutAnyCheck() {
    auto dialog = MakeDialog();
    QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
    dialog->LabelEdit()->clear();
    dialog->SiteEdit()->setText(QStringLiteral("10.0.0.5"));
    dialog->UserEdit()->setText(QStringLiteral("timer;1"));
    dialog->DirectoryEdit()->setText(QStringLiteral("/r\u00e9sultats"));
    QTest::keyClick(dialog->DirectoryEdit(), Qt::Key_Return);
    QCOMPARE(dialog->result(), static_cast<int>(QDialog::Accepted));
    QVERIFY(m_warnings.isEmpty());
    FtpParameters saved = ReadFtpParameters(*m_store);
    QCOMPARE(saved.label, std::string());
    QCOMPARE(saved.site, std::string("10.0.0.5"));
    QCOMPARE(saved.user, std::string("timer;1"));
    QCOMPARE(saved.password, std::string("pw"));
    QCOMPARE(saved.directory, Utf8ToCp1252("/résultats"));
    // The passive flag is not the dialog's.
    QCOMPARE(m_store->ReadSettingBool("FtpSettings", "BPutInPassiveMode", true), false);
  }

  void aValueTheSettingsRefuseIsNamedAndTheOthersAreSaved() {
    auto dialog = MakeDialog();
    QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
    dialog->UserEdit()->setText(QStringLiteral("u"));
    dialog->PasswordEdit()->setText(QStringLiteral("a\nb"));
    dialog->OkButton()->click();
    QCOMPARE(dialog->result(), static_cast<int>(QDialog::Accepted));
    // QLineEdit keeps a line break given by program; the settings store refuses it.
    QVERIFY(dialog->PasswordEdit()->text().contains('\n'));
    QCOMPARE(m_warnings, QStringList{ToQt(StrF(Tr(kMsgFtpParameterNotSaved).c_str(),
                                               Tr(kMsgFtpFieldPassword).c_str()))});
    QCOMPARE(ReadFtpParameters(*m_store).password, std::string("pw"));
    QCOMPARE(ReadFtpParameters(*m_store).user, std::string("u"));
  }

  void cancelWritesNothing() {
    const std::string before = testing::ReadFile(m_store->SettingsFile());
    auto dialog = MakeDialog();
    QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
    dialog->SiteEdit()->setText(QStringLiteral("other"));
    dialog->CancelButton()->click();
    QCOMPARE(dialog->result(), static_cast<int>(QDialog::Rejected));
    QCOMPARE(testing::ReadFile(m_store->SettingsFile()), before);
  }
};

}  // namespace lapora

QTEST_MAIN(lapora::DlgFtpParametersTest)
#include "dlg_ftp_parameters_test.moc"
