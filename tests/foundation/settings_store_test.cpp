#include "foundation/settings_store.h"

#include <climits>
#include <filesystem>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "support/temp_dir.h"

namespace lapora {
namespace {

class SettingsStoreTest : public ::testing::Test {
 protected:
  void SetUp() override { m_store.SetSettingsFile(Path()); }
  std::string Path() const { return m_dir.File("Lapora.ini"); }
  std::string Content() const { return testing::ReadFile(Path()); }
  void Write(const std::string& content) { testing::WriteFile(Path(), content); }
  std::vector<std::string> FolderEntries() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(m_dir.path())) {
      names.push_back(entry.path().filename().string());
    }
    return names;
  }

  testing::TempDir m_dir;
  SettingsStore m_store;
};

TEST_F(SettingsStoreTest, ReadRulesForEachForm) {
  Write(
      "[Settings]\r\n"
      "digits=12abc\r\n"
      "letters=abc\r\n"
      "signed=  -7  \r\n"
      "plus=+5\r\n"
      "empty=\r\n"
      "huge=99999999999\r\n"
      "two=2\r\n"
      "zero=0\r\n"
      "rect4=[10,-20,30,40]\r\n"
      "rectBlanks=[ 1, 2,3, 4]\r\n"
      "rectBlankBeforeComma=[1 ,2,3,4]\r\n"
      "rect3=[1,2,3]\r\n"
      "rectEmpty=\r\n"
      "rectWords=left\r\n"
      "text=  a value with blanks  \r\n");

  EXPECT_EQ(m_store.ReadSettingInt("Settings", "digits", 99), 12);
  EXPECT_EQ(m_store.ReadSettingInt("Settings", "letters", 99), 0);
  EXPECT_EQ(m_store.ReadSettingInt("Settings", "signed", 99), -7);
  EXPECT_EQ(m_store.ReadSettingInt("Settings", "plus", 99), 5);
  EXPECT_EQ(m_store.ReadSettingInt("Settings", "empty", 99), 99);
  EXPECT_EQ(m_store.ReadSettingInt("Settings", "huge", 99), INT_MAX);
  EXPECT_EQ(m_store.ReadSettingInt("Settings", "missing", 99), 99);
  EXPECT_EQ(m_store.ReadSettingInt("Other", "digits", 99), 99);

  EXPECT_TRUE(m_store.ReadSettingBool("Settings", "two", false));
  EXPECT_FALSE(m_store.ReadSettingBool("Settings", "zero", true));
  EXPECT_FALSE(m_store.ReadSettingBool("Settings", "letters", true));
  EXPECT_TRUE(m_store.ReadSettingBool("Settings", "missing", true));
  EXPECT_FALSE(m_store.ReadSettingBool("Settings", "missing", false));

  EXPECT_EQ(m_store.ReadSettingRect("Settings", "rect4"), (SettingsRect{10, -20, 30, 40}));
  EXPECT_EQ(m_store.ReadSettingRect("Settings", "rectBlanks"), (SettingsRect{1, 2, 3, 4}));
  EXPECT_EQ(m_store.ReadSettingRect("Settings", "rectBlankBeforeComma"), SettingsRect{});
  EXPECT_EQ(m_store.ReadSettingRect("Settings", "rect3"), SettingsRect{});
  EXPECT_EQ(m_store.ReadSettingRect("Settings", "rectEmpty"), SettingsRect{});
  EXPECT_EQ(m_store.ReadSettingRect("Settings", "rectWords"), SettingsRect{});
  EXPECT_EQ(m_store.ReadSettingRect("Settings", "missing"), SettingsRect{});

  EXPECT_EQ(m_store.ReadSettingText("Settings", "text", "d"), "a value with blanks");
  EXPECT_EQ(m_store.ReadSettingText("Settings", "empty", "d"), "");
  EXPECT_EQ(m_store.ReadSettingText("Settings", "missing", "d"), "d");
}

TEST_F(SettingsStoreTest, TextIsCutAt2047Characters) {
  std::string longValue(3000, 'x');
  Write("[S]\nlong=" + longValue + "\nexact=" + std::string(2047, 'y') + "\n");
  EXPECT_EQ(m_store.ReadSettingText("S", "long", ""), std::string(2047, 'x'));
  EXPECT_EQ(m_store.ReadSettingText("S", "exact", ""), std::string(2047, 'y'));
  EXPECT_EQ(m_store.ReadSettingText("S", "missing", longValue), std::string(2047, 'x'));
}

TEST_F(SettingsStoreTest, NamesMatchWithoutRegardToCaseAndKeepTheirSpelling) {
  Write("[SETTINGS]\r\nGvarnexReadMsDelta=5\r\n");
  EXPECT_EQ(m_store.ReadSettingInt("Settings", "GVarnexReadMsDelta", 1), 5);
  EXPECT_TRUE(m_store.WriteSettingInt("settings", "GVARNEXREADMSDELTA", 7));
  EXPECT_EQ(Content(), "[SETTINGS]\r\nGvarnexReadMsDelta=7\r\n");
}

TEST_F(SettingsStoreTest, WritesKeepEveryOtherLineByteForByte) {
  const std::string original =
      "; written by hand\r\n"
      "[Settings]\r\n"
      "  Indented = old value \r\n"
      "junk line without equals\r\n"
      "Other=1\r\n"
      "\r\n"
      "[OstraBoxes]\r\n"
      "Box1=tcp;10.0.0.1\r\n"
      "\r\n";
  Write(original);

  EXPECT_TRUE(m_store.WriteSettingText("Settings", "Indented", "new"));
  EXPECT_EQ(Content(),
            "; written by hand\r\n"
            "[Settings]\r\n"
            "  Indented=new\r\n"
            "junk line without equals\r\n"
            "Other=1\r\n"
            "\r\n"
            "[OstraBoxes]\r\n"
            "Box1=tcp;10.0.0.1\r\n"
            "\r\n");

  // A new key goes after the last non-blank line of its section.
  EXPECT_TRUE(m_store.WriteSettingInt("Settings", "Added", 3));
  // A new section goes at the end.
  EXPECT_TRUE(m_store.WriteSettingBool("Application", "Flag", true));
  EXPECT_EQ(Content(),
            "; written by hand\r\n"
            "[Settings]\r\n"
            "  Indented=new\r\n"
            "junk line without equals\r\n"
            "Other=1\r\n"
            "Added=3\r\n"
            "\r\n"
            "[OstraBoxes]\r\n"
            "Box1=tcp;10.0.0.1\r\n"
            "\r\n"
            "[Application]\r\n"
            "Flag=1\r\n");
}

TEST_F(SettingsStoreTest, NewLinesFollowTheFileLineEndsAndMendAMissingLastOne) {
  Write("[A]\nx=1");
  EXPECT_TRUE(m_store.WriteSettingInt("A", "y", 2));
  EXPECT_EQ(Content(), "[A]\nx=1\ny=2\n");

  Write("[A]\nx=1");
  EXPECT_TRUE(m_store.WriteSettingInt("B", "y", 2));
  EXPECT_EQ(Content(), "[A]\nx=1\n[B]\ny=2\n");
}

TEST_F(SettingsStoreTest, FirstWriteCreatesTheFileAndFormsRoundTrip) {
  EXPECT_EQ(m_store.ReadSettingInt("S", "i", 4), 4);
  EXPECT_TRUE(m_store.WriteSettingInt("S", "i", INT_MIN));
  EXPECT_TRUE(m_store.WriteSettingBool("S", "b", false));
  EXPECT_TRUE(m_store.WriteSettingRect("S", "r", {1, 2, -3, 4}));
  EXPECT_TRUE(m_store.WriteSettingText("S", "t", "C:\\x y\xE9"));
  EXPECT_EQ(Content(), "[S]\r\ni=-2147483648\r\nb=0\r\nr=[1,2,-3,4]\r\nt=C:\\x y\xE9\r\n");
  EXPECT_EQ(m_store.ReadSettingInt("S", "i", 4), INT_MIN);
  EXPECT_FALSE(m_store.ReadSettingBool("S", "b", true));
  EXPECT_EQ(m_store.ReadSettingRect("S", "r"), (SettingsRect{1, 2, -3, 4}));
  EXPECT_EQ(m_store.ReadSettingText("S", "t", ""), "C:\\x y\xE9");
}

TEST_F(SettingsStoreTest, ReplaceIsAtomicAndLeavesNoTemporaryFile) {
  Write("[S]\r\na=1\r\n");
  // Rights that are neither a new file's nor a private file's: the file keeps whatever it has.
  ASSERT_EQ(chmod(Path().c_str(), 0640), 0);
  // A reader that opened the old file keeps reading the old content in full: the new file
  // is put in place by a rename, never written over the old one.
  int oldFile = open(Path().c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(oldFile, 0);

  for (int i = 0; i < 20; ++i) {
    EXPECT_TRUE(m_store.WriteSettingInt("S", "k" + std::to_string(i), i));
  }
  m_store.FlushSettings();

  struct stat old {};
  ASSERT_EQ(fstat(oldFile, &old), 0);
  EXPECT_EQ(old.st_nlink, 0u);
  char buffer[64] = {};
  EXPECT_EQ(pread(oldFile, buffer, sizeof buffer, 0), 10);
  EXPECT_STREQ(buffer, "[S]\r\na=1\r\n");
  close(oldFile);

  struct stat after {};
  ASSERT_EQ(stat(Path().c_str(), &after), 0);
  EXPECT_EQ(after.st_mode & 07777, 0640u);
  EXPECT_EQ(FolderEntries(), std::vector<std::string>{"Lapora.ini"});
  EXPECT_EQ(m_store.ReadSettingInt("S", "k19", 0), 19);
}

TEST_F(SettingsStoreTest, WriteThroughALinkReplacesItsTarget) {
  const std::string real = m_dir.File("real.ini");
  testing::WriteFile(real, "[S]\r\na=1\r\n");
  ASSERT_EQ(symlink(real.c_str(), Path().c_str()), 0);
  EXPECT_TRUE(m_store.WriteSettingInt("S", "a", 2));
  EXPECT_EQ(testing::ReadFile(real), "[S]\r\na=2\r\n");
  struct stat info {};
  ASSERT_EQ(lstat(Path().c_str(), &info), 0);
  EXPECT_TRUE(S_ISLNK(info.st_mode));
}

TEST_F(SettingsStoreTest, FailedOrRefusedWritesChangeNothing) {
  Write("[S]\r\na=1\r\n");
  EXPECT_FALSE(m_store.WriteSettingText("S", "a", "two\r\nlines"));
  EXPECT_FALSE(m_store.WriteSettingText("S", "b=c", "x"));
  EXPECT_FALSE(m_store.WriteSettingText("S", "", "x"));
  EXPECT_FALSE(m_store.WriteSettingText("S]x", "b", "x"));
  EXPECT_EQ(Content(), "[S]\r\na=1\r\n");

  // A file that cannot be read is never replaced (its settings would be lost).
  SettingsStore unreadable(m_dir.File("folder.ini"));
  std::filesystem::create_directory(m_dir.File("folder.ini"));
  EXPECT_FALSE(unreadable.WriteSettingInt("S", "a", 2));
  EXPECT_TRUE(std::filesystem::is_directory(m_dir.File("folder.ini")));
  EXPECT_EQ(unreadable.ReadSettingInt("S", "a", 9), 9);

  // A folder that does not exist: nothing is created, reads give their defaults.
  SettingsStore nowhere(m_dir.File("missing/Lapora.ini"));
  EXPECT_FALSE(nowhere.WriteSettingInt("S", "a", 2));
  EXPECT_FALSE(std::filesystem::exists(m_dir.File("missing")));

  SettingsStore noPath;
  EXPECT_FALSE(noPath.WriteSettingInt("S", "a", 2));
  EXPECT_EQ(noPath.ReadSettingInt("S", "a", 9), 9);
}

// Found by fuzzing: such names were written, reported as written, never read back, and
// written again as a new line at the next write.
TEST_F(SettingsStoreTest, NamesThatCouldNotBeReadBackAreRefused) {
  const std::string content = "\xEF\xBB\xBF[box2]\nport = 1\n; comment=1\n[Box2]\ngvarnexport=2\n";
  Write(content);
  EXPECT_FALSE(m_store.WriteSettingText("", "; comment", ""));
  EXPECT_FALSE(m_store.WriteSettingText("Box2", "[x", "1"));
  EXPECT_FALSE(m_store.WriteSettingText("Box2", " port", "1"));
  EXPECT_FALSE(m_store.WriteSettingText("Box2", "port\t", "1"));
  EXPECT_FALSE(m_store.WriteSettingText(" Box2", "port", "1"));
  EXPECT_EQ(Content(), content);
  // The same names without the blanks are the file's own, matched without regard to case.
  EXPECT_TRUE(m_store.WriteSettingText("Box2", "PORT", " 10001 "));
  EXPECT_EQ(m_store.ReadSettingText("box2", "port", ""), "10001");
  EXPECT_EQ(m_store.ReadSettingInt("Box2", "GVarnexPort", 0), 2);
}

TEST_F(SettingsStoreTest, SwitchingFilesSendsLaterWritesToTheNewOne) {
  EXPECT_TRUE(m_store.WriteSettingInt("S", "a", 1));
  m_store.SetSettingsFile(m_dir.File("second.ini"));
  EXPECT_EQ(m_store.SettingsFile(), m_dir.File("second.ini"));
  EXPECT_TRUE(m_store.WriteSettingInt("S", "a", 2));
  EXPECT_EQ(Content(), "[S]\r\na=1\r\n");
  EXPECT_EQ(testing::ReadFile(m_dir.File("second.ini")), "[S]\r\na=2\r\n");
}

// Found by fuzzing: a file ending in a lone carriage return (a CR LF cut short) had the new
// key glued to its last line, where it could not be found.
TEST(IniTextTest, AFileEndingInALoneCarriageReturnGetsItsLineFeed) {
  const std::string content = "[Window]\r\nR,ect=[10,2300,400S]et\r";
  std::string updated = SetIniValue(content, "Window", "Rect", "[1,2,3,4]");
  EXPECT_EQ(updated, "[Window]\r\nR,ect=[10,2300,400S]et\r\nRect=[1,2,3,4]\r\n");
  std::string value;
  ASSERT_TRUE(FindIniValue(updated, "Window", "Rect", &value));
  EXPECT_EQ(value, "[1,2,3,4]");
  ASSERT_TRUE(FindIniValue(updated, "Window", "R,ect", &value));
  EXPECT_EQ(value, "[10,2300,400S]et");
  // The same for a new section at the end of the file.
  EXPECT_EQ(SetIniValue("[A]\na=1\r", "B", "b", "2"), "[A]\na=1\r\n[B]\nb=2\n");
}

TEST(IniTextTest, FirstMatchWinsAndDuplicateSectionsAreSearched) {
  const std::string content =
      "\xEF\xBB\xBF[A]\nk=first\nk=second\n[B]\nonlyB=1\n[a]\nlater=3\n; k=comment\n";
  std::string value;
  ASSERT_TRUE(FindIniValue(content, "A", "k", &value));
  EXPECT_EQ(value, "first");
  ASSERT_TRUE(FindIniValue(content, "A", "later", &value));
  EXPECT_EQ(value, "3");
  EXPECT_FALSE(FindIniValue(content, "A", "onlyB", &value));
  EXPECT_FALSE(FindIniValue(content, "A", "; k", &value));
  EXPECT_EQ(SetIniValue(content, "A", "K", "new"),
            "\xEF\xBB\xBF[A]\nk=new\nk=second\n[B]\nonlyB=1\n[a]\nlater=3\n; k=comment\n");
  // A new key goes to the first section of that name.
  EXPECT_EQ(SetIniValue(content, "a", "n", "1"),
            "\xEF\xBB\xBF[A]\nk=first\nk=second\nn=1\n[B]\nonlyB=1\n[a]\nlater=3\n; k=comment\n");
}

}  // namespace
}  // namespace lapora
