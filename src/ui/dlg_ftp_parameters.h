// The FTP parameters dialog: the server of [FtpSettings] that an upload given no server uses.
// Its five edits are filled from the settings when it opens; OK writes them as typed, "Cancel"
// writes nothing. Qt thread only.
#pragma once

#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QString>
#include <functional>

#include "export/ftp_servers_editor.h"

namespace lapora {

class SettingsStore;

class CDlgFtpParameters : public QDialog {
  Q_OBJECT

 public:
  // store (whose current file holds [FtpSettings]) must outlive the dialog.
  explicit CDlgFtpParameters(SettingsStore& store, QWidget* parent = nullptr);

  // Where the warning about values the settings file refused goes: a warning message box
  // unless replaced (tests).
  void SetWarningShower(std::function<void(const QString&)> shower) {
    m_showWarning = std::move(shower);
  }

  QLineEdit* LabelEdit() const { return m_label; }
  QLineEdit* SiteEdit() const { return m_site; }
  QLineEdit* UserEdit() const { return m_user; }
  QLineEdit* PasswordEdit() const { return m_password; }
  QLineEdit* DirectoryEdit() const { return m_directory; }
  QPushButton* OkButton() const { return m_ok; }
  QPushButton* CancelButton() const { return m_cancel; }

 public slots:
  // OK (and Enter): writes the five keys and closes; a value the store refused is named in a
  // warning first.
  void accept() override;

 private:
  SettingsStore& m_store;
  std::function<void(const QString&)> m_showWarning;

  QLineEdit* m_label = nullptr;
  QLineEdit* m_site = nullptr;
  QLineEdit* m_user = nullptr;
  QLineEdit* m_password = nullptr;
  QLineEdit* m_directory = nullptr;
  QPushButton* m_ok = nullptr;
  QPushButton* m_cancel = nullptr;
};

}  // namespace lapora
