#include "ui/dlg_ftp_servers.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMessageBox>
#include <QSignalBlocker>
#include <QVBoxLayout>
#include <utility>

#include "resources/messages_ftp_dialogs.h"
#include "ui/qt_text.h"

namespace lapora {

namespace {

constexpr int kListWidth = 200;
constexpr int kListHeight = 220;
constexpr int kEditWidth = 200;

QPushButton* MakeButton(const Message& text, QWidget* parent) {
  auto* button = new QPushButton(ToQt(text), parent);
  // The default button is chosen by the mode, not by the focus.
  button->setAutoDefault(false);
  return button;
}

}  // namespace

CDlgFtpServers::CDlgFtpServers(std::vector<std::string> preselectedLabels,
                               std::string serversFilePath, QWidget* parent)
    : QDialog(parent), m_editor(std::move(serversFilePath), preselectedLabels) {
  setWindowTitle(ToQt(kMsgFtpServersTitle));
  m_showWarning = [this](const QString& text) { QMessageBox::warning(this, windowTitle(), text); };

  // The servers list, with the buttons that edit it (full form only) under it.
  auto* listGroup = new QGroupBox(ToQt(kMsgFtpServersGroup), this);
  m_list = new QTreeWidget(listGroup);
  m_list->setColumnCount(1);
  m_list->setHeaderLabels({ToQt(kMsgFtpServersColumn)});
  m_list->setHeaderHidden(true);
  m_list->setRootIsDecorated(false);
  m_list->setSelectionMode(QAbstractItemView::SingleSelection);
  m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
  m_list->setAllColumnsShowFocus(true);
  m_list->setMinimumSize(kListWidth, kListHeight);

  m_listButtons = new QWidget(listGroup);
  auto* listButtons = new QHBoxLayout(m_listButtons);
  listButtons->setContentsMargins(0, 0, 0, 0);
  m_add = MakeButton(kMsgFtpAdd, m_listButtons);
  m_remove = MakeButton(kMsgFtpRemove, m_listButtons);
  m_update = MakeButton(kMsgFtpUpdate, m_listButtons);
  listButtons->addWidget(m_add);
  listButtons->addWidget(m_remove);
  listButtons->addWidget(m_update);

  auto* listLayout = new QVBoxLayout(listGroup);
  listLayout->addWidget(m_list, 1);
  listLayout->addWidget(m_listButtons);

  // The shown server's fields (full form only).
  m_infoGroup = new QGroupBox(ToQt(kMsgFtpServerInfoGroup), this);
  auto* form = new QFormLayout;
  form->setLabelAlignment(Qt::AlignRight | Qt::AlignVCenter);
  auto addEdit = [&](const Message& label) {
    auto* edit = new QLineEdit(m_infoGroup);
    edit->setMinimumWidth(kEditWidth);
    form->addRow(ToQt(label), edit);
    return edit;
  };
  m_label = addEdit(kMsgFtpLabelLabel);
  m_site = addEdit(kMsgFtpSiteLabel);
  m_user = addEdit(kMsgFtpUserLabel);
  m_password = addEdit(kMsgFtpPasswordLabel);
  m_password->setEchoMode(QLineEdit::Password);
  m_directory = addEdit(kMsgFtpDirectoryLabel);
  auto* editButtons = new QHBoxLayout;
  m_validate = MakeButton(kMsgFtpValidateEdit, m_infoGroup);
  m_cancelEdit = MakeButton(kMsgFtpCancelEdit, m_infoGroup);
  editButtons->addStretch(1);
  editButtons->addWidget(m_validate);
  editButtons->addWidget(m_cancelEdit);
  auto* infoLayout = new QVBoxLayout(m_infoGroup);
  infoLayout->addLayout(form);
  infoLayout->addStretch(1);
  infoLayout->addLayout(editButtons);

  // OK and Cancel at the top right, the form button at the bottom right.
  auto* side = new QVBoxLayout;
  m_ok = MakeButton(kMsgFtpOk, this);
  m_cancel = MakeButton(kMsgFtpCancel, this);
  m_form = MakeButton(kMsgFtpFullForm, this);
  side->addWidget(m_ok);
  side->addWidget(m_cancel);
  side->addStretch(1);
  side->addWidget(m_form);

  auto* layout = new QHBoxLayout(this);
  layout->addWidget(listGroup, 1);
  layout->addWidget(m_infoGroup);
  layout->addLayout(side);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  connect(m_list, &QTreeWidget::itemSelectionChanged, this, &CDlgFtpServers::OnSelectionChanged);
  connect(m_list, &QTreeWidget::itemChanged, this, &CDlgFtpServers::OnItemChanged);
  connect(m_list, &QTreeWidget::itemDoubleClicked, this, &CDlgFtpServers::OnDoubleClicked);
  connect(m_form, &QPushButton::clicked, this, &CDlgFtpServers::ToggleForm);
  connect(m_add, &QPushButton::clicked, this, &CDlgFtpServers::StartAdd);
  connect(m_remove, &QPushButton::clicked, this, &CDlgFtpServers::RemoveSelected);
  connect(m_update, &QPushButton::clicked, this, &CDlgFtpServers::StartUpdate);
  connect(m_validate, &QPushButton::clicked, this, &CDlgFtpServers::ValidateEdit);
  connect(m_cancelEdit, &QPushButton::clicked, this, &CDlgFtpServers::CancelEdit);
  connect(m_ok, &QPushButton::clicked, this, &CDlgFtpServers::accept);
  connect(m_cancel, &QPushButton::clicked, this, &CDlgFtpServers::reject);

  // The dialog opens in the compact form.
  m_listButtons->setVisible(false);
  m_infoGroup->setVisible(false);
  FillList();
  ShowFields(m_editor.SelectedServer());
  UpdateActions();
  m_list->setFocus();
}

void CDlgFtpServers::FillList() {
  QSignalBlocker blocker(m_list);
  m_list->clear();
  for (const FtpServerRow& row : m_editor.Rows()) {
    auto* item = new QTreeWidgetItem(m_list, {ToQt(row.server.label)});
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
    item->setCheckState(0, row.checked ? Qt::Checked : Qt::Unchecked);
  }
  int selected = m_editor.SelectedRow();
  if (selected >= 0) {
    QTreeWidgetItem* item = m_list->topLevelItem(selected);
    m_list->setCurrentItem(item);
    item->setSelected(true);
    m_list->scrollToItem(item);
  }
}

void CDlgFtpServers::ShowFields(const CFtpServer& server) {
  m_label->setText(ToQt(server.label));
  m_site->setText(ToQt(server.site));
  m_user->setText(ToQt(server.user));
  m_password->setText(ToQt(server.password));
  m_directory->setText(ToQt(server.directory));
}

void CDlgFtpServers::UpdateActions() {
  FtpServersActions actions = m_editor.Actions();
  m_list->setEnabled(actions.list);
  m_add->setEnabled(actions.add);
  m_remove->setEnabled(actions.remove);
  m_update->setEnabled(actions.update);
  m_form->setEnabled(actions.toggleForm);
  m_ok->setEnabled(actions.ok);
  m_cancel->setEnabled(actions.cancel);
  for (QLineEdit* edit : {m_label, m_site, m_user, m_password, m_directory}) {
    edit->setEnabled(actions.edits);
  }
  m_validate->setEnabled(actions.validateEdit);
  m_cancelEdit->setEnabled(actions.cancelEdit);
  m_validate->setDefault(m_editor.InEditMode());
  m_ok->setDefault(!m_editor.InEditMode());
}

QLineEdit* CDlgFtpServers::EditOf(FtpServerField field) const {
  switch (field) {
    case FtpServerField::kLabel:
      return m_label;
    case FtpServerField::kSite:
      return m_site;
    case FtpServerField::kUser:
      return m_user;
    case FtpServerField::kPassword:
      return m_password;
    case FtpServerField::kDirectory:
      return m_directory;
    case FtpServerField::kNone:
      break;
  }
  return nullptr;
}

void CDlgFtpServers::ToggleForm() {
  if (m_editor.InEditMode()) {
    return;
  }
  m_fullForm = !m_fullForm;
  m_listButtons->setVisible(m_fullForm);
  m_infoGroup->setVisible(m_fullForm);
  m_form->setText(ToQt(m_fullForm ? kMsgFtpCompactForm : kMsgFtpFullForm));
}

void CDlgFtpServers::OnSelectionChanged() {
  QList<QTreeWidgetItem*> selected = m_list->selectedItems();
  int row = selected.isEmpty() ? -1 : m_list->indexOfTopLevelItem(selected.front());
  if (!m_editor.Select(row)) {
    return;
  }
  ShowFields(m_editor.SelectedServer());
  UpdateActions();
}

void CDlgFtpServers::OnItemChanged(QTreeWidgetItem* item) {
  int row = m_list->indexOfTopLevelItem(item);
  if (!m_editor.SetChecked(row, item->checkState(0) == Qt::Checked)) {
    // Not allowed now: show the editor's tick again.
    QSignalBlocker blocker(m_list);
    if (row >= 0 && static_cast<std::size_t>(row) < m_editor.Rows().size()) {
      item->setCheckState(
          0, m_editor.Rows()[static_cast<std::size_t>(row)].checked ? Qt::Checked : Qt::Unchecked);
    }
  }
}

void CDlgFtpServers::OnDoubleClicked() {
  if (m_fullForm) {
    StartUpdate();
  }
}

void CDlgFtpServers::StartAdd() {
  if (!m_editor.StartAdd()) {
    return;
  }
  {
    QSignalBlocker blocker(m_list);
    m_list->clearSelection();
    m_list->setCurrentItem(nullptr);
  }
  ShowFields(CFtpServer());
  UpdateActions();
  m_label->setFocus();
  m_label->selectAll();
}

void CDlgFtpServers::StartUpdate() {
  if (!m_editor.StartUpdate()) {
    return;
  }
  UpdateActions();
  m_label->setFocus();
  m_label->selectAll();
}

void CDlgFtpServers::ValidateEdit() {
  CFtpServer typed;
  typed.label = FromQt(m_label->text());
  typed.site = FromQt(m_site->text());
  typed.user = FromQt(m_user->text());
  typed.password = FromQt(m_password->text());
  typed.directory = FromQt(m_directory->text());
  FtpEditCheck check = m_editor.ValidateEdit(typed);
  if (!check.accepted) {
    if (!check.message.empty()) {
      m_showWarning(ToQt(check.message));
    }
    if (QLineEdit* edit = EditOf(check.faultyField)) {
      edit->setFocus();
    }
    return;
  }
  FillList();
  ShowFields(m_editor.SelectedServer());
  UpdateActions();
  m_list->setFocus();
}

void CDlgFtpServers::CancelEdit() {
  if (!m_editor.CancelEdit()) {
    return;
  }
  // The edits keep what was typed until the next selection.
  UpdateActions();
  m_list->setFocus();
}

void CDlgFtpServers::RemoveSelected() {
  if (!m_editor.RemoveSelected()) {
    return;
  }
  FillList();
  ShowFields(CFtpServer());
  UpdateActions();
}

void CDlgFtpServers::accept() {
  CFtpServersEditor::OkResult result = m_editor.Ok();
  if (!result.closes) {
    return;
  }
  // A file that cannot be written is not reported: the ticked servers are still the targets.
  m_checkedLabels = m_editor.CheckedLabels();
  QDialog::accept();
}

void CDlgFtpServers::reject() {
  if (!m_editor.Cancel()) {
    return;
  }
  QDialog::reject();
}

}  // namespace lapora
