#include "ui/dlg_ftp_parameters.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QMessageBox>
#include <QVBoxLayout>
#include <vector>

#include "foundation/settings_store.h"
#include "foundation/text.h"
#include "resources/messages_ftp_dialogs.h"
#include "ui/qt_text.h"

namespace lapora {

namespace {

constexpr int kEditWidth = 240;

}  // namespace

CDlgFtpParameters::CDlgFtpParameters(SettingsStore& store, QWidget* parent)
    : QDialog(parent), m_store(store) {
  setWindowTitle(ToQt(kMsgFtpParametersTitle));
  m_showWarning = [this](const QString& text) { QMessageBox::warning(this, windowTitle(), text); };

  FtpParameters parameters = ReadFtpParameters(m_store);

  auto* form = new QFormLayout;
  form->setLabelAlignment(Qt::AlignRight | Qt::AlignVCenter);
  form->setHorizontalSpacing(10);
  form->setVerticalSpacing(8);
  auto addEdit = [&](const Message& label, const std::string& value) {
    auto* edit = new QLineEdit(ToQt(value), this);
    edit->setMinimumWidth(kEditWidth);
    form->addRow(ToQt(label), edit);
    return edit;
  };
  m_label = addEdit(kMsgFtpLabelLabel, parameters.label);
  m_site = addEdit(kMsgFtpSiteLabel, parameters.site);
  m_user = addEdit(kMsgFtpUserLabel, parameters.user);
  m_password = addEdit(kMsgFtpPasswordLabel, parameters.password);
  m_password->setEchoMode(QLineEdit::Password);
  m_directory = addEdit(kMsgFtpDirectoryLabel, parameters.directory);

  auto* buttons = new QDialogButtonBox(this);
  m_ok = buttons->addButton(ToQt(kMsgFtpOk), QDialogButtonBox::AcceptRole);
  m_cancel = buttons->addButton(ToQt(kMsgFtpCancel), QDialogButtonBox::RejectRole);
  m_ok->setDefault(true);
  connect(buttons, &QDialogButtonBox::accepted, this, &CDlgFtpParameters::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &CDlgFtpParameters::reject);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(14, 14, 14, 10);
  layout->addLayout(form);
  layout->addWidget(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);
  m_label->setFocus();
}

void CDlgFtpParameters::accept() {
  FtpParameters parameters{FromQt(m_label->text()), FromQt(m_site->text()), FromQt(m_user->text()),
                           FromQt(m_password->text()), FromQt(m_directory->text())};
  std::vector<FtpServerField> refused = WriteFtpParameters(m_store, parameters);
  if (!refused.empty()) {
    // Said once for all refused fields: the others are saved, the dialog closes as OK does.
    std::string text;
    for (FtpServerField field : refused) {
      if (!text.empty()) {
        text += "\n";
      }
      text += StrF(Tr(kMsgFtpParameterNotSaved).c_str(), FtpFieldName(field).c_str());
    }
    m_showWarning(ToQt(text));
  }
  QDialog::accept();
}

}  // namespace lapora
