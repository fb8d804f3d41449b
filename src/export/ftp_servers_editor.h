// What the FTP servers dialog and the FTP parameters dialog do, without their widgets: the
// server list with its ticks, selection and browse/edit modes, the checks of an edited server,
// the OK and Cancel results; the [FtpSettings] server read and written. Not thread-safe: one
// editor belongs to the dialog that shows it (the interface thread).
#pragma once

#include <string>
#include <vector>

#include "export/ftp_servers.h"

namespace lapora {

class SettingsStore;

// One row of the servers list: the server and its tick (the export's target selection).
struct FtpServerRow {
  CFtpServer server;
  bool checked = false;
};

// Which controls of the servers dialog the operator can use in the current mode.
struct FtpServersActions {
  bool list = false;  // the list: selection and ticks
  bool add = false;
  bool remove = false;
  bool update = false;
  bool toggleForm = false;  // ">>" / "<<"
  bool ok = false;
  bool cancel = false;
  bool edits = false;  // the five server edits
  bool validateEdit = false;
  bool cancelEdit = false;
};

enum class FtpServerField { kNone, kLabel, kSite, kUser, kPassword, kDirectory };

struct FtpEditCheck {
  bool accepted = false;
  std::string message;                                 // the warning of a refused server
  FtpServerField faultyField = FtpServerField::kNone;  // where the focus goes
};

// The text with blanks (space, tab, CR, LF, VT, FF) removed at both ends.
std::string TrimFtpField(const std::string& text);

// The checks of "Validate update" on the trimmed fields, in order: label, user, password and
// site must not be empty; then no field may hold a tab, a line break or ";" (FtpServers.dat
// would not read back, and would hide the servers after it); then the site must be one that
// ParseFtpSite reads; then the label may not hold "\" (it joins the labels of the export's
// server list).
FtpEditCheck CheckFtpServer(const CFtpServer& trimmed);

class CFtpServersEditor {
 public:
  // Loads the servers of the file (a missing or unreadable file gives an empty list), sorted by
  // label, and ticks for each pre-selected label (blanks trimmed) the first row with that
  // label. Opens in browse mode with no row selected.
  CFtpServersEditor(std::string serversFilePath, const std::vector<std::string>& preselectedLabels);

  const std::vector<FtpServerRow>& Rows() const { return m_rows; }
  int SelectedRow() const { return m_selected; }  // -1: none
  bool InEditMode() const { return m_editing; }
  FtpServersActions Actions() const;
  // The fields to show in the edits for the current selection (all empty when none).
  CFtpServer SelectedServer() const;

  // Browse mode only (the list is disabled while editing); row -1 clears the selection. An
  // out-of-range row clears it too. False when ignored.
  bool Select(int row);
  bool SetChecked(int row, bool checked);

  // "Add": clears the selection, enters edit mode. False when not in browse mode.
  bool StartAdd();
  // "Update": enters edit mode on the selected row. False without a selection or in edit mode.
  bool StartUpdate();
  // "Validate update" with the edits' texts: trims them and checks them (CheckFtpServer). When
  // accepted, replaces the selected row (an update, keeping its tick) or adds a new unticked
  // row (an add), at its sorted place; the new row becomes the selected one; back to browse
  // mode. When refused nothing changes and the editor stays in edit mode.
  FtpEditCheck ValidateEdit(const CFtpServer& typed);
  // "Cancel update": back to browse mode, nothing changed.
  bool CancelEdit();
  // "Remove": removes the selected row; no row is selected afterwards. False when ignored.
  bool RemoveSelected();

  // The labels of the ticked rows, in row order.
  std::vector<std::string> CheckedLabels() const;

  struct OkResult {
    bool closes = false;  // false in edit mode: OK is ignored
    bool saved = false;   // FtpServers.dat written (the dialog does not report a failure)
  };
  // OK: writes every server in row order to the file. Ignored in edit mode.
  OkResult Ok();
  // "Cancel": true when the dialog closes (not in edit mode); nothing is written.
  bool Cancel() const { return !m_editing; }

 private:
  // Inserts at the row's sorted place, after the rows of an equal label; returns its index.
  int InsertSorted(FtpServerRow row);

  std::string m_path;
  std::vector<FtpServerRow> m_rows;
  int m_selected = -1;
  bool m_editing = false;
};

// The server of [FtpSettings] that a job given no server uses, as CDlgFtpParameters edits it.
struct FtpParameters {
  std::string label;
  std::string site;
  std::string user;
  std::string password;
  std::string directory;
  bool operator==(const FtpParameters&) const = default;
};

// Label, Site, User, Password and Directory of [FtpSettings], empty by default.
FtpParameters ReadFtpParameters(const SettingsStore& store);
// Writes the five keys as they are, without any check. Returns the fields the store refused
// (a value holding a line break, or a file that cannot be written), empty when all were written.
std::vector<FtpServerField> WriteFtpParameters(SettingsStore& store,
                                               const FtpParameters& parameters);

// The field's name as the warnings show it ("Label", "User", ...), in the build language.
std::string FtpFieldName(FtpServerField field);

}  // namespace lapora
