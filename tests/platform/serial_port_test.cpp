#include "platform/serial_port.h"

#include <gtest/gtest.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <string>

#include "support/temp_dir.h"

namespace lapora {
namespace {

class SerialPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[128];
    ASSERT_EQ(::openpty(&m_master, &m_slave, name, nullptr, nullptr), 0);
    m_path = name;
  }
  void TearDown() override {
    if (m_slave >= 0) {
      ::close(m_slave);
    }
    if (m_master >= 0) {
      ::close(m_master);
    }
  }
  int m_master = -1;
  int m_slave = -1;
  std::string m_path;
};

TEST_F(SerialPortTest, OpensRaw9600Eight_N_OneWithoutFlowControl) {
  SerialPort port;
  SerialOpenError error;
  ASSERT_TRUE(port.Open(m_path, 9600, 8, 'N', 1, &error)) << error.systemError;
  termios settings{};
  ASSERT_EQ(::tcgetattr(port.Handle(), &settings), 0);
  EXPECT_EQ(::cfgetispeed(&settings), static_cast<speed_t>(B9600));
  EXPECT_EQ(::cfgetospeed(&settings), static_cast<speed_t>(B9600));
  EXPECT_EQ(settings.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(settings.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
  EXPECT_EQ(settings.c_iflag & (IXON | IXOFF), 0u);
  EXPECT_EQ(settings.c_lflag & (ICANON | ECHO), 0u);
}

TEST_F(SerialPortTest, ReadsAndWritesBytesAsTheyAre) {
  SerialPort port;
  ASSERT_TRUE(port.Open(m_path, 9600, 8, 'N', 1, nullptr));
  char buffer[64];
  EXPECT_EQ(port.Read(buffer, sizeof buffer), 0);  // nothing waiting: returns at once
  EXPECT_EQ(port.WaitReadable(0, -1), 0);
  ASSERT_EQ(::write(m_master, "57@heartBeat@1@x;\r\n", 19), 19);
  EXPECT_EQ(port.WaitReadable(5000, -1), 1);
  EXPECT_EQ(port.Read(buffer, sizeof buffer), 19);
  EXPECT_EQ(std::string(buffer, 19), "57@heartBeat@1@x;\r\n");  // no translation of line ends

  EXPECT_EQ(port.Write("@readerOpen@0000@1;", 19), 19);
  char got[64];
  EXPECT_EQ(::read(m_master, got, sizeof got), 19);
}

TEST_F(SerialPortTest, WakeDescriptorEndsTheWait) {
  SerialPort port;
  ASSERT_TRUE(port.Open(m_path, 9600, 8, 'N', 1, nullptr));
  int pipeFds[2];
  ASSERT_EQ(::pipe(pipeFds), 0);
  ASSERT_EQ(::write(pipeFds[1], "x", 1), 1);
  EXPECT_EQ(port.WaitReadable(-1, pipeFds[0]), 2);
  ::close(pipeFds[0]);
  ::close(pipeFds[1]);
}

TEST_F(SerialPortTest, HangUpIsAFailedRead) {
  SerialPort port;
  ASSERT_TRUE(port.Open(m_path, 9600, 8, 'N', 1, nullptr));
  ::close(m_slave);
  m_slave = -1;
  ::close(m_master);
  m_master = -1;
  EXPECT_EQ(port.WaitReadable(5000, -1), 1);
  char buffer[8];
  EXPECT_LT(port.Read(buffer, sizeof buffer), 0);
}

TEST(SerialPortErrors, MissingDeviceAndNonTerminalAreReportedByStep) {
  SerialPort port;
  SerialOpenError error;
  EXPECT_FALSE(port.Open("/dev/ttyS-lapora-none", 9600, 8, 'N', 1, &error));
  EXPECT_EQ(error.step, SerialOpenStep::kOpen);
  EXPECT_EQ(error.systemError, ENOENT);
  EXPECT_FALSE(port.IsOpen());

  lapora::testing::TempDir dir;
  std::string file = dir.File("not-a-port");
  std::ofstream(file) << "x";
  EXPECT_FALSE(port.Open(file, 9600, 8, 'N', 1, &error));
  EXPECT_EQ(error.step, SerialOpenStep::kGetState);
  EXPECT_FALSE(port.IsOpen());  // the failed attempt released the file
}

TEST(SerialPortErrors, SystemErrorTextDropsTrailingPunctuation) {
  EXPECT_EQ(SerialSystemErrorText(ENOENT), "[#2]= \"No such file or directory\"");
}

}  // namespace
}  // namespace lapora
