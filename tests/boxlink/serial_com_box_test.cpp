#include "boxlink/serial_com_box.h"

#include <gtest/gtest.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>

#include "support/boxlink_support.h"
#include "support/temp_dir.h"

namespace lapora {
namespace {

using testing::BoxLinkHarness;
using namespace std::chrono_literals;

// A pseudo-terminal: the test writes as the box on the master side; the transport opens the
// slave by its path, as an operator's "/dev/..." address.
class SerialComBoxTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[128];
    ASSERT_EQ(::openpty(&m_master, &m_slave, name, nullptr, nullptr), 0);
    box.SetConfig("31", name, 9600);
    std::string error;
    ASSERT_TRUE(box.Connect(&error)) << error;
  }
  void TearDown() override {
    box.Close();
    CloseMaster();
    if (m_slave >= 0) {
      ::close(m_slave);
    }
  }
  void Write(const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
      ssize_t put = ::write(m_master, bytes.data() + done, bytes.size() - done);
      ASSERT_GT(put, 0);
      done += static_cast<std::size_t>(put);
    }
  }
  void CloseMaster() {
    if (m_master >= 0) {
      ::close(m_master);
      m_master = -1;
    }
  }
  long Line(std::string& text) {
    text.clear();
    EXPECT_EQ(box.WaitForData(5000), 1);
    return box.ReadLine(text);
  }

  BoxLinkHarness h;
  CSerialComBox box{h.log};
  int m_master = -1;
  int m_slave = -1;
};

TEST_F(SerialComBoxTest, OnlyALineFeedEndsALineAndItStaysInTheLine) {
  EXPECT_TRUE(box.IsConnected());
  EXPECT_TRUE(box.IsActive());
  EXPECT_TRUE(box.IsSerial());
  EXPECT_EQ(box.Helper().GetState(), CSerialCommHelper::kStarted);
  Write("one;two;\n57@heartBeat@1@x;\n");
  std::string line;
  EXPECT_EQ(Line(line), 9);
  EXPECT_EQ(line, "one;two;\n");
  EXPECT_EQ(Line(line), 18);
  EXPECT_EQ(line, "57@heartBeat@1@x;\n");
}

TEST_F(SerialComBoxTest, ALineCutByPausesKeepsEveryCharacter) {
  std::thread writer([&] {
    Write("57@epc@1@2012-05-13");
    std::this_thread::sleep_for(60ms);  // longer than the transport's 10 ms waits
    Write("_10:23:45.120,");
    std::this_thread::sleep_for(60ms);
    Write("E2003412;\n");
  });
  std::string line;
  EXPECT_EQ(Line(line), 43);
  writer.join();
  EXPECT_EQ(line, "57@epc@1@2012-05-13_10:23:45.120,E2003412;\n");
}

TEST_F(SerialComBoxTest, AReadWithADeadlineKeepsHalfALineForTheNextRead) {
  Write("57@epc@1@2012-05-13");
  std::string line;
  ASSERT_EQ(box.WaitForData(5000), 1);
  EXPECT_EQ(box.ReadLineWithin(line, 100), kNoLineYet);
  EXPECT_EQ(line, "");
  Write("_10:23:45.120,E2003412;\n");
  EXPECT_EQ(box.ReadLineWithin(line, 5000), 43);
  EXPECT_EQ(line, "57@epc@1@2012-05-13_10:23:45.120,E2003412;\n");
}

TEST_F(SerialComBoxTest, AFullBufferHoldsTheReaderBackWithoutLosingBytes) {
  // Three buffers' worth of lines written before anything is read.
  std::string all;
  for (int i = 0; i < 6000; ++i) {
    all += StrF("57@epc@%04d@2012-05-13_10:23:45.120,E2003412;\n", i % 10000);
  }
  ASSERT_GT(all.size(), 3 * CSerialBuffer::kCapacity);
  std::thread writer([&] { Write(all); });
  std::string got;
  int lines = 0;
  while (lines < 6000) {
    std::string line;
    ASSERT_EQ(box.WaitForData(5000), 1) << lines;
    ASSERT_GT(box.ReadLine(line), 0);
    EXPECT_LE(box.Helper().Buffer().Unread(), CSerialBuffer::kCapacity);
    got += line;
    ++lines;
  }
  writer.join();
  EXPECT_EQ(got, all);
}

TEST_F(SerialComBoxTest, SendWritesTheCommandUpToAZeroByte) {
  EXPECT_EQ(box.Send("57@readerOpen@0000@1;", 21), 21);
  char got[64];
  EXPECT_EQ(::read(m_master, got, sizeof got), 21);
  EXPECT_EQ(std::string(got, 21), "57@readerOpen@0000@1;");
  const char withZero[] = "ab\0cd";
  EXPECT_EQ(box.Send(withZero, 5), 5);
  EXPECT_EQ(::read(m_master, got, sizeof got), 2);
}

TEST_F(SerialComBoxTest, HangUpFailsTheReadAndClosesThePort) {
  Write("57@heartBeat@1@x;\n");
  std::string line;
  EXPECT_EQ(Line(line), 18);
  CloseMaster();  // the line hangs up
  ::close(m_slave);
  m_slave = -1;
  EXPECT_EQ(box.WaitForData(5000), 1);
  EXPECT_EQ(box.ReadLine(line), -1);
  EXPECT_FALSE(box.IsConnected());
  EXPECT_FALSE(box.IsActive());
}

TEST_F(SerialComBoxTest, RequestStopEndsAWaitingReadAsExpected) {
  std::atomic<long> result{-5};
  Write("57@epc@1@no-end");
  std::thread reader([&] {
    std::string line;
    result = box.ReadLine(line);
  });
  std::this_thread::sleep_for(30ms);
  box.RequestStop();
  reader.join();
  EXPECT_EQ(result.load(), 0);  // an empty result while stop is requested
  EXPECT_FALSE(box.IsConnected());
  EXPECT_EQ(box.GetHandle(), 0);
  EXPECT_EQ(box.Helper().GetState(), CSerialCommHelper::kClosed);
}

TEST_F(SerialComBoxTest, AnOverlongLineIsReportedOnceAndSkipped) {
  std::thread writer([&] {
    Write(std::string(kMaxBoxLineBytes * 2, 'z'));
    Write("\n57@heartBeat@1@x;\n");
  });
  std::string line;
  EXPECT_EQ(Line(line), 18);
  writer.join();
  EXPECT_EQ(line, "57@heartBeat@1@x;\n");
  h.Pump();
  EXPECT_EQ(h.CountLogs(".. Unknown command format: zzz"), 1);
}

int OpenDescriptorCount() {
  int n = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    ++n;
  }
  return n;
}

TEST(SerialComBoxOpenTest, FailedOpeningsGiveTheirTextsAndReleaseTheDevice) {
  BoxLinkHarness h;
  CSerialComBox box(h.log);
  EXPECT_EQ(box.Address(), "COM1");
  EXPECT_EQ(box.PortValue(), 0);
  EXPECT_FALSE(box.HasPort());
  box.SetConfig("31", "/dev/lapora-missing-port", 9600);
  std::string error;
  EXPECT_FALSE(box.Connect(&error));
  EXPECT_EQ(error,
            "Erreur de connexion au port /dev/lapora-missing-port : [#2]= \"No such file or "
            "directory\"");
  EXPECT_FALSE(box.IsConnected());

  // A file that is no terminal passes the opening and fails at the line settings.
  lapora::testing::TempDir dir;
  std::string file = dir.File("ttyFake");
  std::ofstream(file) << "x";
  box.SetConfig("31", file, 9600);
  int before = OpenDescriptorCount();
  for (int i = 0; i < 5; ++i) {
    EXPECT_FALSE(box.Connect(&error));
  }
  EXPECT_EQ(OpenDescriptorCount(), before);
  EXPECT_EQ(error.rfind("Erreur GetCommState pour le port " + file + " : [#", 0), 0u) << error;
  EXPECT_EQ(box.GetLabel(), "[" + ShortAddress(file) + ":9600 31]");
}

// A box speaks as soon as its port opens: what it sends before the reading starts waits in the
// terminal and is read once started, rather than taken early and thrown away.
TEST(SerialComBoxOpenTest, WhatComesBeforeTheStartIsKeptForIt) {
  int master = -1;
  int slave = -1;
  char name[128];
  ASSERT_EQ(::openpty(&master, &slave, name, nullptr, nullptr), 0);
  CSerialCommHelper helper;
  std::string error;
  ASSERT_TRUE(helper.Open(name, 9600, 'N', 1, 8, &error)) << error;
  const std::string line = "57@epc@0000@2012-05-13_10:23:45.120,E2003412;\n";
  ASSERT_EQ(::write(master, line.data(), line.size()), static_cast<ssize_t>(line.size()));
  // The bytes reach the terminal's queue a moment after the write...
  const auto queuedNow = [&] {
    int count = -1;
    return ::ioctl(slave, FIONREAD, &count) == 0 ? count : -1;
  };
  int queued = 0;
  const auto arrived = std::chrono::steady_clock::now() + 5s;
  while ((queued = queuedNow()) >= 0 && queued < static_cast<int>(line.size()) &&
         std::chrono::steady_clock::now() < arrived) {
    std::this_thread::sleep_for(5ms);
  }
  ASSERT_EQ(queued, static_cast<int>(line.size()));
  // ...and stay there: an early reader would take them within this time.
  const auto end = std::chrono::steady_clock::now() + 300ms;
  while ((queued = queuedNow()) == static_cast<int>(line.size()) &&
         std::chrono::steady_clock::now() < end) {
    std::this_thread::sleep_for(5ms);
  }
  EXPECT_EQ(queued, static_cast<int>(line.size()));
  EXPECT_EQ(helper.Buffer().Unread(), 0u);

  helper.Start();
  ASSERT_TRUE(helper.Buffer().WaitForData(5000ms));
  std::string got;
  while (helper.Buffer().WaitForData(5000ms) && !helper.Buffer().TakeUpToLineFeed(got, 4096)) {
  }
  EXPECT_EQ(got, line);
  helper.Close();
  ::close(master);
  ::close(slave);
}

TEST(SerialComBoxOpenTest, SendBeforeTheHelperStartsWritesNothing) {
  BoxLinkHarness h;
  CSerialComBox box(h.log);
  EXPECT_EQ(box.Send("57@x@1@;", 8), 8);
}

}  // namespace
}  // namespace lapora
