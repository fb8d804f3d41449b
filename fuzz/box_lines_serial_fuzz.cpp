// The lines of a box on a serial line: the fuzz input is what the box sends, written on a
// pseudo-terminal in pieces cut at random points; the real serial transport (its port, reader
// thread and receive buffer) frames it (line feed only, kept in the line), the framing is
// checked line by line, and each line goes through classification and the handling of its
// kind.
#include <fcntl.h>
#include <pty.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "box_line_rig.h"
#include "boxlink/serial_com_box.h"

namespace {

using namespace lapora;
using namespace lapora::fuzz;

// Far beyond what a line takes to cross the pseudo-terminal and the reader thread.
constexpr int kLineWaitMs = 5000;

BoxLineRig& Rig() {
  static BoxLineRig rig;
  return rig;
}

struct Lines {
  CComBox& transport;
  COstraBox& box;
  FramingCheck& check;
  std::size_t wanted;  // the lines the transport must return for the whole stream
  std::size_t taken = 0;

  // Takes the lines that have come, waiting up to waitMs for the first; mustCome: one line
  // must come within that time.
  void Take(int waitMs, bool mustCome) {
    std::string line;
    for (;;) {
      line.clear();
      long count = transport.ReadLineWithin(line, waitMs);
      if (count == kNoLineYet) {
        Check(!mustCome, "a sent line never came");
        return;
      }
      Check(count > 0, "the transport failed while its port was open");
      Check(static_cast<std::size_t>(count) == line.size(), "the count is not the line's length");
      check.Returned(line);
      Rig().HandleLine(box, line);
      ++taken;
      waitMs = 0;
      mustCome = false;
    }
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  BoxStream stream = BoxStream::Decode(data, size);
  BoxLineRig& rig = Rig();
  rig.Configure(stream);

  int master = -1;
  int slave = -1;
  char name[128];
  if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
    Fail("openpty");
  }
  fcntl(master, F_SETFL, O_NONBLOCK);
  fcntl(master, F_SETFD, FD_CLOEXEC);
  fcntl(slave, F_SETFD, FD_CLOEXEC);
  auto owned = std::make_unique<CSerialComBox>(rig.Log());
  CSerialComBox& transport = *owned;
  transport.SetConfig("31", name, 9600);
  std::string error;
  if (!transport.Connect(&error)) {
    Fail("the pseudo-terminal does not open: " + error);
  }
  std::unique_ptr<COstraBox> box = rig.NewBox(std::move(owned));

  std::vector<ExpectedLine> expected = ExpectedSerialLines(stream.bytes);
  std::size_t wanted = 0;
  for (const ExpectedLine& line : expected) {
    wanted += line.mustBeDropped ? 0 : 1;
  }
  FramingCheck check(std::move(expected));
  Lines lines{transport, *box, check, wanted};

  std::size_t at = 0;
  for (std::size_t piece : stream.pieces) {
    std::size_t end = at + piece;
    while (at < end) {
      ssize_t wrote = write(master, stream.bytes.data() + at, end - at);
      if (wrote > 0) {
        at += static_cast<std::size_t>(wrote);
        lines.Take(0, false);
      } else {
        // The terminal is full: reading makes room (a long line's start is taken too).
        lines.Take(1, false);
      }
    }
  }
  while (lines.taken < wanted) {
    lines.Take(kLineWaitMs, true);
  }
  check.Ended();
  box.reset();
  close(master);
  close(slave);
  rig.Reset();
  return 0;
}
