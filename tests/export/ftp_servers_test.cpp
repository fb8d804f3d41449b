#include "export/ftp_servers.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "export/ftp_test_server.h"
#include "support/temp_dir.h"

namespace lapora {
namespace {

using testing::ReadFile;
using testing::Server;
using testing::TempDir;
using testing::WriteFile;

class FtpServersTest : public ::testing::Test {
 protected:
  std::vector<CFtpServer> Load(const std::string& content) {
    WriteFile(path, content);
    std::vector<CFtpServer> servers;
    std::string error;
    EXPECT_EQ(LoadFtpServers(path, &servers, &error), 0);
    EXPECT_EQ(error, "");
    return servers;
  }

  TempDir dir;
  std::string path = dir.File("FtpServers.dat");
};

TEST_F(FtpServersTest, SavedFileHasTabsAndCrLfAndReadsBackWithoutCarriageReturns) {
  std::vector<CFtpServer> servers = {Server("Main", "ftp.example.org", "timer", "pw", "/results"),
                                     Server("Backup", "10.0.0.5", "u", "p", "")};
  std::string error;
  ASSERT_EQ(SaveFtpServers(servers, path, &error), 0);
  EXPECT_EQ(ReadFile(path),
            "Main\tftp.example.org\ttimer\tpw\t/results\r\n"
            "Backup\t10.0.0.5\tu\tp\t\r\n");

  std::vector<CFtpServer> read;
  ASSERT_EQ(LoadFtpServers(path, &read, &error), 0);
  EXPECT_EQ(read, servers);  // no CR left in the directory fields
}

TEST_F(FtpServersTest, SaveReplacesTheWholeFile) {
  WriteFile(path, "Old\ta\tb\tc\td\r\nOlder\ta\tb\tc\td\r\n");
  std::string error;
  ASSERT_EQ(SaveFtpServers({Server("New", "s", "u", "p", "d")}, path, &error), 0);
  EXPECT_EQ(ReadFile(path), "New\ts\tu\tp\td\r\n");
  ASSERT_EQ(SaveFtpServers({}, path, &error), 0);
  EXPECT_EQ(ReadFile(path), "");
}

TEST_F(FtpServersTest, LineEndsAndEmptyDirectoryField) {
  // LF alone, CR LF, and a last line without a line end all read the same; an empty fifth
  // field (tab right before the line end) is an empty directory.
  std::vector<CFtpServer> servers = Load("A\ts1\tu1\tp1\t\nB\ts2\tu2\tp2\t\r\nC\ts3\tu3\tp3\tdir");
  ASSERT_EQ(servers.size(), 3u);
  EXPECT_EQ(servers[0], Server("A", "s1", "u1", "p1", ""));
  EXPECT_EQ(servers[1], Server("B", "s2", "u2", "p2", ""));
  EXPECT_EQ(servers[2], Server("C", "s3", "u3", "p3", "dir"));

  // A CR that is not part of a line end stays in its field.
  servers = Load("A\ts\tu\tp\td\rx\r\n");
  ASSERT_EQ(servers.size(), 1u);
  EXPECT_EQ(servers[0].directory, "d\rx");
}

TEST_F(FtpServersTest, SemicolonSeparatesLikeATab) {
  std::vector<CFtpServer> servers = Load("A;s;u;p;d\r\nB\ts;u\tp;\r\n");
  ASSERT_EQ(servers.size(), 2u);
  EXPECT_EQ(servers[0], Server("A", "s", "u", "p", "d"));
  EXPECT_EQ(servers[1], Server("B", "s", "u", "p", ""));
}

TEST_F(FtpServersTest, FirstLineWithoutFiveFieldsEndsTheReading) {
  // Four fields: the servers after it are not loaded.
  EXPECT_EQ(Load("A\ts\tu\tp\td\r\nB\ts\tu\tp\r\nC\ts\tu\tp\td\r\n").size(), 1u);
  // Six fields (a password holding ";"), and a blank line, end it the same way.
  EXPECT_EQ(Load("A\ts\tu\tp;w\td\r\nC\ts\tu\tp\td\r\n").size(), 0u);
  EXPECT_EQ(Load("A\ts\tu\tp\td\r\n\r\nC\ts\tu\tp\td\r\n").size(), 1u);
  // A final separator adds no field: four fields then a tab is still four.
  EXPECT_EQ(Load("A\ts\tu\tp\t").size(), 0u);
  EXPECT_EQ(Load("").size(), 0u);
}

TEST_F(FtpServersTest, LongLineIsReadIn1023CharacterPieces) {
  // The whole line fits in 1023 characters with its line end: read.
  std::string directory(1023 - std::string("A\ts\tu\tp\t\n").size(), 'd');
  std::vector<CFtpServer> servers = Load("A\ts\tu\tp\t" + directory + "\r\nB\ts\tu\tp\td\r\n");
  ASSERT_EQ(servers.size(), 2u);
  EXPECT_EQ(servers[0].directory, directory);

  // One character more: the first 1023 give five fields, the rest of the line (one "d" and the
  // line end) is read as a line of one field, which ends the reading.
  servers = Load("A\ts\tu\tp\t" + directory + "d\r\nB\ts\tu\tp\td\r\n");
  ASSERT_EQ(servers.size(), 1u);
  EXPECT_EQ(servers[0].directory, directory + "d");
}

TEST_F(FtpServersTest, SavedFileIsItsOwnersAloneWhateverTheOldOneWas) {
  auto rights = [&] {
    struct stat info {};
    EXPECT_EQ(stat(path.c_str(), &info), 0);
    return info.st_mode & 07777;
  };
  std::string error;
  ASSERT_EQ(SaveFtpServers({Server("A", "s", "u", "secret", "d")}, path, &error), 0);
  EXPECT_EQ(rights(), 0600u);

  ASSERT_EQ(chmod(path.c_str(), 0644), 0);
  ASSERT_EQ(SaveFtpServers({Server("B", "s", "u", "secret", "d")}, path, &error), 0);
  EXPECT_EQ(rights(), 0600u);
}

TEST_F(FtpServersTest, MissingOrUnwritableFile) {
  std::vector<CFtpServer> servers;
  std::string error;
  EXPECT_EQ(LoadFtpServers(dir.File("none.dat"), &servers, &error), -1);
  EXPECT_EQ(error, "File does not exist");
  EXPECT_TRUE(servers.empty());

  error.clear();
  EXPECT_EQ(
      SaveFtpServers({Server("A", "s", "u", "p", "d")}, dir.File("no/such/FtpServers.dat"), &error),
      -1);
  EXPECT_EQ(error, "Cannot create file");
}

TEST_F(FtpServersTest, FindFtpServerTrimsTheAskedLabelOnly) {
  std::vector<CFtpServer> servers = {Server("Main", "s1", "u", "p", ""),
                                     Server(" Spaced ", "s2", "u", "p", ""),
                                     Server("Main", "s3", "u", "p", "")};
  const CFtpServer* found = FindFtpServer(servers, "  Main\t");
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(found->site, "s1");                            // the first of two with that label
  EXPECT_EQ(FindFtpServer(servers, "main"), nullptr);      // case-sensitive
  EXPECT_EQ(FindFtpServer(servers, " Spaced "), nullptr);  // the server's label is not trimmed
  EXPECT_EQ(FindFtpServer(servers, ""), nullptr);
  EXPECT_EQ(FindFtpServer({}, "Main"), nullptr);
}

TEST_F(FtpServersTest, SeparatorCheckForFieldsEnteredByTheOperator) {
  EXPECT_FALSE(HasFtpServerSeparator("/results 2026"));
  EXPECT_TRUE(HasFtpServerSeparator("pa;ss"));
  EXPECT_TRUE(HasFtpServerSeparator("a\tb"));
  EXPECT_TRUE(HasFtpServerSeparator("a\r"));
  EXPECT_TRUE(HasFtpServerSeparator("a\nb"));
}

}  // namespace
}  // namespace lapora
