// The FTP parameters dialog offscreen, run with exec() and driven from inside it: the
// [FtpSettings] server it shows, OK writing the five keys as typed, and "Cancel" writing nothing.
// With LAPORA_SCREENSHOT_DIR set to a folder, a picture of the dialog is saved there.
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
#include "ui/dialog_driver.h"
#include "ui/dlg_ftp_parameters.h"
#include "ui/qt_text.h"

namespace lapora {

using testing::ExecWith;

class DlgFtpParametersTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<testing::TempDir> m_dir;
  std::unique_ptr<SettingsStore> m_store;
  QStringList m_warnings;

  std::unique_ptr<CDlgFtpParameters> MakeDialog() {
    auto dialog = std::make_unique<CDlgFtpParameters>(*m_store);
    dialog->SetWarningShower([this](const QString& text) { m_warnings.push_back(text); });
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
    int result = ExecWith(*dialog, [](CDlgFtpParameters& shown) {
      QCOMPARE(shown.windowTitle(), ToQt(kMsgFtpParametersTitle));
      QCOMPARE(shown.LabelEdit()->text(), QStringLiteral("Main"));
      QCOMPARE(shown.SiteEdit()->text(), QStringLiteral("ftp.example.org"));
      QVERIFY(shown.UserEdit()->text().isEmpty());
      QCOMPARE(shown.PasswordEdit()->text(), QStringLiteral("pw"));
      QCOMPARE(shown.PasswordEdit()->echoMode(), QLineEdit::Password);
      QVERIFY(shown.DirectoryEdit()->text().isEmpty());
      auto* form = shown.findChild<QFormLayout*>();
      QVERIFY(form != nullptr);
      auto* userLabel = qobject_cast<QLabel*>(form->labelForField(shown.UserEdit()));
      QVERIFY(userLabel != nullptr);
      QCOMPARE(userLabel->text(), ToQt(kMsgFtpUserLabel));
      QCOMPARE(shown.CancelButton()->text(), ToQt(kMsgFtpCancel));
      QByteArray folder = qgetenv("LAPORA_SCREENSHOT_DIR");
      if (!folder.isEmpty()) {
        QVERIFY(
            shown.grab().toImage().save(QString::fromLocal8Bit(folder) + "/ftp_parameters.png"));
      }
      QTest::keyClick(shown.SiteEdit(), Qt::Key_Escape);
    });
    QCOMPARE(result, static_cast<int>(QDialog::Rejected));
  }

  void okWritesTheFiveKeysWithoutAnyCheck() {
    auto dialog = MakeDialog();
    int result = ExecWith(*dialog, [](CDlgFtpParameters& shown) {
      shown.LabelEdit()->clear();
      shown.SiteEdit()->setText(QStringLiteral("10.0.0.5"));
      shown.UserEdit()->setText(QStringLiteral("timer;1"));
      shown.DirectoryEdit()->setText(QStringLiteral("/r\u00e9sultats"));
      QTest::keyClick(shown.DirectoryEdit(), Qt::Key_Return);
    });
    QCOMPARE(result, static_cast<int>(QDialog::Accepted));
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
    int result = ExecWith(*dialog, [](CDlgFtpParameters& shown) {
      shown.UserEdit()->setText(QStringLiteral("u"));
      shown.PasswordEdit()->setText(QStringLiteral("a\nb"));
      shown.OkButton()->click();
    });
    QCOMPARE(result, static_cast<int>(QDialog::Accepted));
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
    int result = ExecWith(*dialog, [](CDlgFtpParameters& shown) {
      shown.SiteEdit()->setText(QStringLiteral("other"));
      shown.CancelButton()->click();
    });
    QCOMPARE(result, static_cast<int>(QDialog::Rejected));
    QCOMPARE(testing::ReadFile(m_store->SettingsFile()), before);
  }
};

}  // namespace lapora

QTEST_MAIN(lapora::DlgFtpParametersTest)
#include "dlg_ftp_parameters_test.moc"
