#include "export/ftp_servers_editor.h"

#include <algorithm>
#include <cstddef>
#include <string_view>
#include <utility>

#include "export/ftp_jobs.h"
#include "foundation/settings_store.h"
#include "foundation/text.h"
#include "platform/ftp_client.h"
#include "resources/messages_ftp_dialogs.h"

namespace lapora {

namespace {

// The list shows labels in ascending order without regard to ASCII case, as operators expect
// of a sorted list; labels equal but for case keep the order they came in.
bool LabelBefore(const std::string& a, const std::string& b) {
  return ToLowerAscii(a) < ToLowerAscii(b);
}

FtpEditCheck Refused(FtpServerField field, std::string message) {
  FtpEditCheck check;
  check.faultyField = field;
  check.message = std::move(message);
  return check;
}

}  // namespace

std::string TrimFtpField(const std::string& text) {
  return std::string(TrimSpace(text));
}

std::string FtpFieldName(FtpServerField field) {
  switch (field) {
    case FtpServerField::kLabel:
      return Tr(kMsgFtpFieldLabel);
    case FtpServerField::kSite:
      return Tr(kMsgFtpFieldSite);
    case FtpServerField::kUser:
      return Tr(kMsgFtpFieldUser);
    case FtpServerField::kPassword:
      return Tr(kMsgFtpFieldPassword);
    case FtpServerField::kDirectory:
      return Tr(kMsgFtpFieldDirectory);
    case FtpServerField::kNone:
      break;
  }
  return std::string();
}

FtpEditCheck CheckFtpServer(const CFtpServer& trimmed) {
  const std::pair<FtpServerField, const std::string*> required[] = {
      {FtpServerField::kLabel, &trimmed.label},
      {FtpServerField::kUser, &trimmed.user},
      {FtpServerField::kPassword, &trimmed.password},
      {FtpServerField::kSite, &trimmed.site},
  };
  for (const auto& [field, text] : required) {
    if (text->empty()) {
      return Refused(field, StrF(Tr(kMsgFtpFieldEmpty).c_str(), FtpFieldName(field).c_str()));
    }
  }
  const std::pair<FtpServerField, const std::string*> all[] = {
      {FtpServerField::kLabel, &trimmed.label},
      {FtpServerField::kSite, &trimmed.site},
      {FtpServerField::kUser, &trimmed.user},
      {FtpServerField::kPassword, &trimmed.password},
      {FtpServerField::kDirectory, &trimmed.directory},
  };
  for (const auto& [field, text] : all) {
    if (HasFtpServerSeparator(*text)) {
      return Refused(field, StrF(Tr(kMsgFtpFieldSeparator).c_str(), FtpFieldName(field).c_str()));
    }
  }
  if (!ParseFtpSite(trimmed.site)) {
    return Refused(FtpServerField::kSite, Tr(kMsgFtpSiteForm));
  }
  if (trimmed.label.find('\\') != std::string::npos) {
    return Refused(FtpServerField::kLabel, Tr(kMsgFtpLabelBackslash));
  }
  FtpEditCheck check;
  check.accepted = true;
  return check;
}

CFtpServersEditor::CFtpServersEditor(std::string serversFilePath,
                                     const std::vector<std::string>& preselectedLabels)
    : m_path(std::move(serversFilePath)) {
  std::vector<CFtpServer> servers;
  std::string error;
  // A missing or unreadable file is an empty list: the operator starts one.
  (void)LoadFtpServers(m_path, &servers, &error);
  m_rows.reserve(servers.size());
  for (CFtpServer& server : servers) {
    InsertSorted(FtpServerRow{std::move(server), false});
  }
  for (const std::string& wanted : preselectedLabels) {
    std::string label = TrimFtpField(wanted);
    auto row = std::find_if(m_rows.begin(), m_rows.end(),
                            [&](const FtpServerRow& r) { return r.server.label == label; });
    if (row != m_rows.end()) {
      row->checked = true;
    }
  }
}

int CFtpServersEditor::InsertSorted(FtpServerRow row) {
  auto place = std::upper_bound(m_rows.begin(), m_rows.end(), row.server.label,
                                [](const std::string& label, const FtpServerRow& r) {
                                  return LabelBefore(label, r.server.label);
                                });
  place = m_rows.insert(place, std::move(row));
  return static_cast<int>(place - m_rows.begin());
}

FtpServersActions CFtpServersEditor::Actions() const {
  FtpServersActions actions;
  if (m_editing) {
    actions.edits = true;
    actions.validateEdit = true;
    actions.cancelEdit = true;
    return actions;
  }
  bool selected = m_selected >= 0;
  actions.list = true;
  actions.add = true;
  actions.remove = selected;
  actions.update = selected;
  actions.toggleForm = true;
  actions.ok = true;
  actions.cancel = true;
  return actions;
}

CFtpServer CFtpServersEditor::SelectedServer() const {
  if (m_selected < 0) {
    return CFtpServer();
  }
  return m_rows[static_cast<std::size_t>(m_selected)].server;
}

bool CFtpServersEditor::Select(int row) {
  if (m_editing) {
    return false;
  }
  m_selected = row >= 0 && static_cast<std::size_t>(row) < m_rows.size() ? row : -1;
  return true;
}

bool CFtpServersEditor::SetChecked(int row, bool checked) {
  if (m_editing || row < 0 || static_cast<std::size_t>(row) >= m_rows.size()) {
    return false;
  }
  m_rows[static_cast<std::size_t>(row)].checked = checked;
  return true;
}

bool CFtpServersEditor::StartAdd() {
  if (m_editing) {
    return false;
  }
  m_selected = -1;
  m_editing = true;
  return true;
}

bool CFtpServersEditor::StartUpdate() {
  if (m_editing || m_selected < 0) {
    return false;
  }
  m_editing = true;
  return true;
}

FtpEditCheck CFtpServersEditor::ValidateEdit(const CFtpServer& typed) {
  if (!m_editing) {
    return FtpEditCheck();
  }
  CFtpServer server;
  server.label = TrimFtpField(typed.label);
  server.site = TrimFtpField(typed.site);
  server.user = TrimFtpField(typed.user);
  server.password = TrimFtpField(typed.password);
  server.directory = TrimFtpField(typed.directory);
  FtpEditCheck check = CheckFtpServer(server);
  if (!check.accepted) {
    return check;
  }
  bool checked = false;
  if (m_selected >= 0) {
    checked = m_rows[static_cast<std::size_t>(m_selected)].checked;
    m_rows.erase(m_rows.begin() + m_selected);
  }
  m_selected = InsertSorted(FtpServerRow{std::move(server), checked});
  m_editing = false;
  return check;
}

bool CFtpServersEditor::CancelEdit() {
  if (!m_editing) {
    return false;
  }
  m_editing = false;
  return true;
}

bool CFtpServersEditor::RemoveSelected() {
  if (m_editing || m_selected < 0) {
    return false;
  }
  m_rows.erase(m_rows.begin() + m_selected);
  m_selected = -1;
  return true;
}

std::vector<std::string> CFtpServersEditor::CheckedLabels() const {
  std::vector<std::string> labels;
  for (const FtpServerRow& row : m_rows) {
    if (row.checked) {
      labels.push_back(row.server.label);
    }
  }
  return labels;
}

CFtpServersEditor::OkResult CFtpServersEditor::Ok() {
  OkResult result;
  if (m_editing) {
    return result;
  }
  result.closes = true;
  std::vector<CFtpServer> servers;
  servers.reserve(m_rows.size());
  for (const FtpServerRow& row : m_rows) {
    servers.push_back(row.server);
  }
  std::string error;
  result.saved = SaveFtpServers(servers, m_path, &error) == 0;
  return result;
}

FtpParameters ReadFtpParameters(const SettingsStore& store) {
  FtpParameters parameters;
  parameters.label = store.ReadSettingText(kFtpSettingsSection, "Label", "");
  parameters.site = store.ReadSettingText(kFtpSettingsSection, "Site", "");
  parameters.user = store.ReadSettingText(kFtpSettingsSection, "User", "");
  parameters.password = store.ReadSettingText(kFtpSettingsSection, "Password", "");
  parameters.directory = store.ReadSettingText(kFtpSettingsSection, "Directory", "");
  return parameters;
}

std::vector<FtpServerField> WriteFtpParameters(SettingsStore& store,
                                               const FtpParameters& parameters) {
  const std::pair<FtpServerField, std::pair<const char*, const std::string*>> keys[] = {
      {FtpServerField::kLabel, {"Label", &parameters.label}},
      {FtpServerField::kSite, {"Site", &parameters.site}},
      {FtpServerField::kUser, {"User", &parameters.user}},
      {FtpServerField::kPassword, {"Password", &parameters.password}},
      {FtpServerField::kDirectory, {"Directory", &parameters.directory}},
  };
  std::vector<FtpServerField> refused;
  for (const auto& [field, key] : keys) {
    if (!store.WriteSettingText(kFtpSettingsSection, key.first, *key.second)) {
      refused.push_back(field);
    }
  }
  return refused;
}

}  // namespace lapora
