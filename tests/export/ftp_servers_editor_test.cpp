#include "export/ftp_servers_editor.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "export/ftp_test_server.h"
#include "foundation/settings_store.h"
#include "foundation/text.h"
#include "resources/messages_ftp_dialogs.h"
#include "support/temp_dir.h"

namespace lapora {
namespace {

using testing::ReadFile;
using testing::Server;
using testing::TempDir;
using testing::WriteFile;

std::vector<std::string> Labels(const CFtpServersEditor& editor) {
  std::vector<std::string> labels;
  for (const FtpServerRow& row : editor.Rows()) {
    labels.push_back(row.server.label);
  }
  return labels;
}

std::string Empty(const Message& name) {
  return StrF(Tr(kMsgFtpFieldEmpty).c_str(), Tr(name).c_str());
}

class FtpServersEditorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFile(path,
              "zeta\tz.example.org\tzu\tzp\t/z\r\n"
              "Alpha\ta1.example.org\tau\tap\t\r\n"
              "beta\tb.example.org\tbu\tbp\t/b\r\n"
              "Alpha\ta2.example.org\tau2\tap2\t/a2\r\n");
  }

  TempDir dir;
  std::string path = dir.File("FtpServers.dat");
};

TEST_F(FtpServersEditorTest, OpensSortedByLabelWithTheFirstRowOfEachPreselectedLabelTicked) {
  CFtpServersEditor editor(path, {" Alpha ", "zeta", "missing", "zeta"});
  EXPECT_EQ(Labels(editor), (std::vector<std::string>{"Alpha", "Alpha", "beta", "zeta"}));
  // Equal labels keep the file's order; only the first of them is ticked.
  EXPECT_EQ(editor.Rows()[0].server.site, "a1.example.org");
  EXPECT_EQ(editor.Rows()[1].server.site, "a2.example.org");
  EXPECT_TRUE(editor.Rows()[0].checked);
  EXPECT_FALSE(editor.Rows()[1].checked);
  EXPECT_FALSE(editor.Rows()[2].checked);
  EXPECT_TRUE(editor.Rows()[3].checked);
  EXPECT_EQ(editor.CheckedLabels(), (std::vector<std::string>{"Alpha", "zeta"}));
  EXPECT_EQ(editor.SelectedRow(), -1);
  EXPECT_FALSE(editor.InEditMode());
  EXPECT_EQ(editor.SelectedServer(), CFtpServer());

  // Labels are matched exactly but for the blanks around the pre-selected one.
  CFtpServersEditor caseMatters(path, {"alpha", "BETA"});
  EXPECT_TRUE(caseMatters.CheckedLabels().empty());

  CFtpServersEditor none(dir.File("absent.dat"), {"Alpha"});
  EXPECT_TRUE(none.Rows().empty());
  EXPECT_TRUE(none.CheckedLabels().empty());
}

TEST_F(FtpServersEditorTest, ActionsFollowTheModeAndTheSelection) {
  CFtpServersEditor editor(path, {});
  FtpServersActions browse = editor.Actions();
  EXPECT_TRUE(browse.list && browse.add && browse.toggleForm && browse.ok && browse.cancel);
  EXPECT_FALSE(browse.remove || browse.update);
  EXPECT_FALSE(browse.edits || browse.validateEdit || browse.cancelEdit);
  EXPECT_FALSE(editor.StartUpdate());  // nothing selected
  EXPECT_FALSE(editor.RemoveSelected());

  ASSERT_TRUE(editor.Select(2));
  EXPECT_EQ(editor.SelectedServer(), Server("beta", "b.example.org", "bu", "bp", "/b"));
  EXPECT_TRUE(editor.Actions().remove && editor.Actions().update);

  ASSERT_TRUE(editor.StartUpdate());
  FtpServersActions edit = editor.Actions();
  EXPECT_TRUE(edit.edits && edit.validateEdit && edit.cancelEdit);
  EXPECT_FALSE(edit.list || edit.add || edit.remove || edit.update || edit.toggleForm || edit.ok ||
               edit.cancel);
  // While editing, the list and the other actions do nothing.
  EXPECT_FALSE(editor.Select(0));
  EXPECT_FALSE(editor.SetChecked(0, true));
  EXPECT_FALSE(editor.StartAdd());
  EXPECT_FALSE(editor.RemoveSelected());
  EXPECT_FALSE(editor.Ok().closes);
  EXPECT_FALSE(editor.Cancel());
  EXPECT_EQ(editor.SelectedRow(), 2);

  ASSERT_TRUE(editor.CancelEdit());
  EXPECT_FALSE(editor.InEditMode());
  EXPECT_EQ(editor.SelectedRow(), 2);
  EXPECT_EQ(Labels(editor), (std::vector<std::string>{"Alpha", "Alpha", "beta", "zeta"}));

  ASSERT_TRUE(editor.StartAdd());
  EXPECT_EQ(editor.SelectedRow(), -1);  // "Add" clears the selection
  ASSERT_TRUE(editor.CancelEdit());
  EXPECT_FALSE(editor.CancelEdit());  // not editing any more

  EXPECT_TRUE(editor.Select(17));  // out of range: no selection
  EXPECT_EQ(editor.SelectedRow(), -1);
}

TEST_F(FtpServersEditorTest, EmptyFieldsAreRefusedInOrderLabelUserPasswordSite) {
  CFtpServersEditor editor(path, {});
  ASSERT_TRUE(editor.StartAdd());
  struct Case {
    CFtpServer typed;
    FtpServerField field;
    std::string message;
  };
  const Case cases[] = {
      {Server(" ", "", "", "", ""), FtpServerField::kLabel, Empty(kMsgFtpFieldLabel)},
      {Server("new", "", "\t", "", ""), FtpServerField::kUser, Empty(kMsgFtpFieldUser)},
      {Server("new", "", "u", " ", ""), FtpServerField::kPassword, Empty(kMsgFtpFieldPassword)},
      {Server("new", "  ", "u", "p", "/d"), FtpServerField::kSite, Empty(kMsgFtpFieldSite)},
  };
  for (const Case& c : cases) {
    FtpEditCheck check = editor.ValidateEdit(c.typed);
    EXPECT_FALSE(check.accepted) << c.message;
    EXPECT_EQ(check.faultyField, c.field) << c.message;
    EXPECT_EQ(check.message, c.message);
    EXPECT_TRUE(editor.InEditMode());
    EXPECT_EQ(editor.Rows().size(), 4u);
  }
  // The texts as the operator reads them.
  if (BuildLanguage() == Language::kFrench) {
    EXPECT_EQ(cases[1].message, "Utilisateur vide !");
    EXPECT_EQ(cases[3].message, "Serveur vide !");
  } else {
    EXPECT_EQ(cases[1].message, "User is empty!");
    EXPECT_EQ(cases[3].message, "Server is empty!");
  }
  EXPECT_EQ(StrF(TrIn(Language::kFrench, kMsgFtpFieldEmpty).c_str(),
                 TrIn(Language::kFrench, kMsgFtpFieldPassword).c_str()),
            "Mot de passe vide !");
  EXPECT_EQ(StrF(TrIn(Language::kEnglish, kMsgFtpFieldEmpty).c_str(),
                 TrIn(Language::kEnglish, kMsgFtpFieldLabel).c_str()),
            "Label is empty!");

  // The directory may stay empty; every field is stored trimmed.
  FtpEditCheck check = editor.ValidateEdit(Server("  gamma\t", " g.org ", " gu", "gp ", "  "));
  EXPECT_TRUE(check.accepted);
  EXPECT_FALSE(editor.InEditMode());
  EXPECT_EQ(editor.SelectedServer(), Server("gamma", "g.org", "gu", "gp", ""));
}

TEST_F(FtpServersEditorTest, SeparatorsInAnyFieldAndABackslashInTheLabelAreRefused) {
  CFtpServersEditor editor(path, {});
  ASSERT_TRUE(editor.StartAdd());
  struct Case {
    CFtpServer typed;
    FtpServerField field;
  };
  const Case cases[] = {
      {Server("a\tb", "s", "u", "p", "d"), FtpServerField::kLabel},
      {Server("ab", "s;t", "u", "p", "d"), FtpServerField::kSite},
      {Server("ab", "s", "u\nv", "p", "d"), FtpServerField::kUser},
      {Server("ab", "s", "u", "p;q", "d"), FtpServerField::kPassword},
      {Server("ab", "s", "u", "p", "/x\r\n/y"), FtpServerField::kDirectory},
      {Server("ab", "s", "u", "p", "a;b"), FtpServerField::kDirectory},
  };
  for (const Case& c : cases) {
    FtpEditCheck check = editor.ValidateEdit(c.typed);
    EXPECT_FALSE(check.accepted);
    EXPECT_EQ(check.faultyField, c.field);
    EXPECT_EQ(check.message,
              StrF(Tr(kMsgFtpFieldSeparator).c_str(), FtpFieldName(c.field).c_str()));
  }
  // An empty field is reported before a separator in an earlier one.
  EXPECT_EQ(editor.ValidateEdit(Server("a;b", "", "u", "p", "")).faultyField,
            FtpServerField::kSite);

  FtpEditCheck backslash = editor.ValidateEdit(Server("Main\\Backup", "s", "u", "p", ""));
  EXPECT_FALSE(backslash.accepted);
  EXPECT_EQ(backslash.faultyField, FtpServerField::kLabel);
  EXPECT_EQ(backslash.message, Tr(kMsgFtpLabelBackslash));
  EXPECT_TRUE(editor.InEditMode());
  EXPECT_EQ(editor.Rows().size(), 4u);

  // A backslash elsewhere is a plain character (Windows paths, domain users).
  EXPECT_TRUE(editor.ValidateEdit(Server("Main", "s", "DOM\\u", "p", "\\out")).accepted);

  // None of the refused servers reached the file.
  ASSERT_TRUE(editor.Ok().saved);
  std::vector<CFtpServer> back;
  std::string error;
  ASSERT_EQ(LoadFtpServers(path, &back, &error), 0);
  EXPECT_EQ(back.size(), 5u);
}

TEST_F(FtpServersEditorTest, SecureSitesAreKeptAsTypedAndSitesNoUploadCouldReachAreRefused) {
  CFtpServersEditor editor(path, {});
  ASSERT_TRUE(editor.StartAdd());
  for (const char* site : {"http://results.example.org", "ftps://", "sftp://host:99999",
                           "ftp://host/results", "results example org"}) {
    FtpEditCheck check = editor.ValidateEdit(Server("Web", site, "u", "p", ""));
    EXPECT_FALSE(check.accepted) << site;
    EXPECT_EQ(check.faultyField, FtpServerField::kSite) << site;
  }
  ASSERT_TRUE(editor.InEditMode());
  ASSERT_TRUE(
      editor.ValidateEdit(Server("Web", "sftp://[2001:db8::5]:2222", "u", "p", "")).accepted);
  ASSERT_TRUE(editor.StartAdd());
  ASSERT_TRUE(
      editor.ValidateEdit(Server("Club", "FTPS://club.example.org", "u", "p", "")).accepted);
  ASSERT_TRUE(editor.Ok().saved);

  std::vector<CFtpServer> back;
  std::string error;
  ASSERT_EQ(LoadFtpServers(path, &back, &error), 0);
  ASSERT_EQ(back.size(), 6u);
  EXPECT_EQ(back[3].site, "FTPS://club.example.org");
  EXPECT_EQ(back[4].site, "sftp://[2001:db8::5]:2222");
}

TEST_F(FtpServersEditorTest, UpdateReplacesTheSelectedRowKeepsItsTickAndFollowsItsLabel) {
  CFtpServersEditor editor(path, {"beta"});
  ASSERT_TRUE(editor.Select(2));
  ASSERT_TRUE(editor.StartUpdate());
  ASSERT_TRUE(editor.ValidateEdit(Server("Omega", "o.org", "ou", "op", "/o")).accepted);
  EXPECT_EQ(Labels(editor), (std::vector<std::string>{"Alpha", "Alpha", "Omega", "zeta"}));
  EXPECT_EQ(editor.SelectedRow(), 2);
  EXPECT_TRUE(editor.Rows()[2].checked);
  EXPECT_EQ(editor.SelectedServer(), Server("Omega", "o.org", "ou", "op", "/o"));

  // Moving past its neighbours: the row lands at its sorted place and stays selected.
  ASSERT_TRUE(editor.StartUpdate());
  ASSERT_TRUE(editor.ValidateEdit(Server("Aardvark", "o.org", "ou", "op", "/o")).accepted);
  EXPECT_EQ(Labels(editor), (std::vector<std::string>{"Aardvark", "Alpha", "Alpha", "zeta"}));
  EXPECT_EQ(editor.SelectedRow(), 0);
  EXPECT_TRUE(editor.Rows()[0].checked);
  EXPECT_EQ(editor.CheckedLabels(), (std::vector<std::string>{"Aardvark"}));

  // An unticked row stays unticked.
  ASSERT_TRUE(editor.Select(3));
  ASSERT_TRUE(editor.StartUpdate());
  ASSERT_TRUE(editor.ValidateEdit(Server("Beta", "z", "zu", "zp", "")).accepted);
  EXPECT_EQ(Labels(editor), (std::vector<std::string>{"Aardvark", "Alpha", "Alpha", "Beta"}));
  EXPECT_FALSE(editor.Rows()[3].checked);
  EXPECT_EQ(editor.Rows().size(), 4u);
}

TEST_F(FtpServersEditorTest, AddInsertsAnUntickedRowAtItsPlaceAndRemoveDropsTheSelectedOne) {
  CFtpServersEditor editor(path, {"zeta"});
  ASSERT_TRUE(editor.Select(3));
  ASSERT_TRUE(editor.StartAdd());
  ASSERT_TRUE(editor.ValidateEdit(Server("Alpha", "a3", "u", "p", "")).accepted);
  // Duplicates are allowed; the new one goes after the equal labels.
  EXPECT_EQ(Labels(editor), (std::vector<std::string>{"Alpha", "Alpha", "Alpha", "beta", "zeta"}));
  EXPECT_EQ(editor.SelectedRow(), 2);
  EXPECT_EQ(editor.Rows()[2].server.site, "a3");
  EXPECT_FALSE(editor.Rows()[2].checked);
  EXPECT_TRUE(editor.Rows()[4].checked);

  ASSERT_TRUE(editor.Select(4));
  ASSERT_TRUE(editor.RemoveSelected());
  EXPECT_EQ(editor.SelectedRow(), -1);
  EXPECT_EQ(Labels(editor), (std::vector<std::string>{"Alpha", "Alpha", "Alpha", "beta"}));
  EXPECT_TRUE(editor.CheckedLabels().empty());
}

TEST_F(FtpServersEditorTest, OkWritesEveryServerInRowOrderAndGivesTheTickedLabels) {
  CFtpServersEditor editor(path, {"beta"});
  ASSERT_TRUE(editor.SetChecked(3, true));
  ASSERT_TRUE(editor.SetChecked(2, false));
  ASSERT_TRUE(editor.SetChecked(1, true));
  ASSERT_TRUE(editor.StartAdd());
  ASSERT_TRUE(editor.ValidateEdit(Server("delta", "d.org", "du", "dp", "/d")).accepted);
  ASSERT_TRUE(editor.Select(0));
  ASSERT_TRUE(editor.RemoveSelected());

  CFtpServersEditor::OkResult ok = editor.Ok();
  EXPECT_TRUE(ok.closes);
  EXPECT_TRUE(ok.saved);
  EXPECT_EQ(editor.CheckedLabels(), (std::vector<std::string>{"Alpha", "zeta"}));
  EXPECT_EQ(ReadFile(path),
            "Alpha\ta2.example.org\tau2\tap2\t/a2\r\n"
            "beta\tb.example.org\tbu\tbp\t/b\r\n"
            "delta\td.org\tdu\tdp\t/d\r\n"
            "zeta\tz.example.org\tzu\tzp\t/z\r\n");
  std::vector<CFtpServer> back;
  std::string error;
  ASSERT_EQ(LoadFtpServers(path, &back, &error), 0);
  ASSERT_EQ(back.size(), 4u);
  EXPECT_EQ(back[2], Server("delta", "d.org", "du", "dp", "/d"));

  // A file that cannot be written still closes the dialog.
  CFtpServersEditor nowhere(dir.File("no/such/folder/FtpServers.dat"), {});
  CFtpServersEditor::OkResult failed = nowhere.Ok();
  EXPECT_TRUE(failed.closes);
  EXPECT_FALSE(failed.saved);
}

TEST_F(FtpServersEditorTest, CancelAndAnOkWhileEditingWriteNothing) {
  const std::string before = ReadFile(path);
  CFtpServersEditor editor(path, {});
  ASSERT_TRUE(editor.Select(0));
  ASSERT_TRUE(editor.RemoveSelected());
  ASSERT_TRUE(editor.StartAdd());
  EXPECT_FALSE(editor.Ok().closes);
  EXPECT_FALSE(editor.Cancel());
  ASSERT_TRUE(editor.CancelEdit());
  EXPECT_TRUE(editor.Cancel());
  EXPECT_EQ(ReadFile(path), before);
}

class FtpParametersTest : public ::testing::Test {
 protected:
  TempDir dir;
  std::string path = dir.File("Lapora.ini");
  SettingsStore store{path};
};

TEST_F(FtpParametersTest, ReadsEmptyDefaultsAndWritesTheFiveKeysAsTyped) {
  EXPECT_EQ(ReadFtpParameters(store), FtpParameters());

  FtpParameters typed{"Main", "ftp.example.org", "timer", "s3cret;x", "a\\b\tc"};
  EXPECT_TRUE(WriteFtpParameters(store, typed).empty());
  EXPECT_EQ(ReadFtpParameters(store), typed);
  std::string content = ReadFile(path);
  EXPECT_NE(content.find("[FtpSettings]\r\n"), std::string::npos);
  EXPECT_NE(content.find("Password=s3cret;x\r\n"), std::string::npos);
  EXPECT_NE(content.find("Directory=a\\b\tc\r\n"), std::string::npos);

  // The store refuses a value with a line break: that key keeps its old value, the others
  // are written, and the refused field is named.
  FtpParameters broken{"Other", "site\r\nInjected=1", "u2", "", ""};
  EXPECT_EQ(WriteFtpParameters(store, broken), std::vector<FtpServerField>{FtpServerField::kSite});
  FtpParameters after = ReadFtpParameters(store);
  EXPECT_EQ(after.label, "Other");
  EXPECT_EQ(after.site, "ftp.example.org");
  EXPECT_EQ(after.user, "u2");
  EXPECT_EQ(after.password, "");
  EXPECT_EQ(ReadFile(path).find("Injected"), std::string::npos);
}

}  // namespace
}  // namespace lapora
