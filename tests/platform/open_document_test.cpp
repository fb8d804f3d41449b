// The desktop's opener started detached, with a stand-in xdg-open first on PATH that writes
// down what it was given and what it inherited, then waits for the test's word.
#include "platform/open_document.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "support/env_override.h"
#include "support/temp_dir.h"

namespace lapora {
namespace {

namespace fs = std::filesystem;
using testing::EnvOverride;
using testing::ReadFile;
using testing::TempDir;

// A descriptor number the stand-in's shell does not use for itself.
constexpr int kOurDescriptor = 57;

bool WaitForFile(const std::string& path) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!fs::exists(path)) {
    if (std::chrono::steady_clock::now() > deadline) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

class OpenDocumentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(m_bin);
    const std::string script = m_bin + "/xdg-open";
    // Bounded wait for "go" (30 s), so a failed test leaves no process behind for long.
    testing::WriteFile(script,
                       "#!/bin/sh\n"
                       "ls /proc/$$/fd > '" +
                           m_dir.File("fds") +
                           "'\n"
                           "printf '%s' \"$1\" > '" +
                           m_dir.File("arg.part") +
                           "'\n"
                           "mv '" +
                           m_dir.File("arg.part") + "' '" + m_dir.File("arg") +
                           "'\n"
                           "n=0\n"
                           "while [ ! -e '" +
                           m_dir.File("go") +
                           "' ] && [ $n -lt 600 ]; do\n"
                           "  sleep 0.05; n=$((n+1))\n"
                           "done\n"
                           "touch '" +
                           m_dir.File("finished") + "'\n");
    chmod(script.c_str(), 0755);
  }

  TempDir m_dir;
  std::string m_bin = m_dir.File("bin");
};

TEST_F(OpenDocumentTest, StartsTheOpenerDetachedWithThePathAndNothingOfOurs) {
  EnvOverride path("PATH", m_bin + ":/usr/bin:/bin");
  // A descriptor the program holds without close-on-exec, as a socket or file might be: a
  // viewer that inherited it would keep it open after we close it.
  int pipeEnds[2];
  ASSERT_EQ(pipe(pipeEnds), 0);
  ASSERT_EQ(dup2(pipeEnds[1], kOurDescriptor), kOurDescriptor);

  const std::string document = m_dir.File("Lapora manual.pdf");
  std::string error;
  ASSERT_TRUE(OpenWithDefaultApplication(document, &error)) << error;
  ASSERT_TRUE(WaitForFile(m_dir.File("arg")));
  // Back with the opener still running: it waits for our word.
  EXPECT_FALSE(fs::exists(m_dir.File("finished")));
  EXPECT_EQ(ReadFile(m_dir.File("arg")), document);

  // The opener saw its standard descriptors and the script it runs, not ours.
  std::string fds = ReadFile(m_dir.File("fds"));
  EXPECT_EQ(("\n" + fds).find("\n" + std::to_string(kOurDescriptor) + "\n"), std::string::npos)
      << fds;

  testing::WriteFile(m_dir.File("go"), "");
  EXPECT_TRUE(WaitForFile(m_dir.File("finished")));
  close(kOurDescriptor);
  close(pipeEnds[0]);
  close(pipeEnds[1]);
}

TEST_F(OpenDocumentTest, NoOpenerOnThePathIsAnErrorWithItsName) {
  EnvOverride path("PATH", m_dir.File("empty") + ":" + m_dir.File("nowhere"));
  std::string error;
  EXPECT_FALSE(OpenWithDefaultApplication(m_dir.File("x.pdf"), &error));
  EXPECT_NE(error.find("xdg-open"), std::string::npos) << error;
  EXPECT_EQ(FindOpener(m_bin + "::/nowhere"), m_bin + "/xdg-open");
  EXPECT_EQ(FindOpener(""), "");
}

}  // namespace
}  // namespace lapora
