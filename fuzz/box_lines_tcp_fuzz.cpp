// The lines of a box on TCP: the fuzz input is what the box sends, written by a peer in
// pieces cut at random points; the real TCP transport frames it (line feed or ";"), the
// framing is checked line by line, and each line goes through classification and the handling
// of its kind, detections through the intake into the recorded list.
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "box_line_rig.h"
#include "boxlink/tcp_com_box.h"

namespace {

using namespace lapora;
using namespace lapora::fuzz;

BoxLineRig& Rig() {
  static BoxLineRig rig;
  return rig;
}

// Reads the lines that have fully come, handing each to the check and the box.
void ReadAvailableLines(CComBox& transport, COstraBox& box, FramingCheck& check) {
  std::string line;
  for (;;) {
    line.clear();
    long count = transport.ReadLineWithin(line, 0);
    if (count == kNoLineYet) {
      return;
    }
    Check(count >= 0, "the transport failed while its peer was still there");
    Check(static_cast<std::size_t>(count) == line.size(), "the count is not the line's length");
    check.Returned(line);
    Rig().HandleLine(box, line);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  BoxStream stream = BoxStream::Decode(data, size);
  BoxLineRig& rig = Rig();
  rig.Configure(stream);

  int ends[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
    Fail("socketpair");
  }
  // The peer never blocks: when the connection is full, the transport reads first.
  fcntl(ends[1], F_SETFL, O_NONBLOCK);
  auto owned = std::make_unique<CTcpComBox>(rig.Log(), rig.Settings());
  CTcpComBox& transport = *owned;
  transport.SetHandle(ends[0]);
  std::unique_ptr<COstraBox> box = rig.NewBox(std::move(owned));
  FramingCheck check(ExpectedTcpLines(stream.bytes));

  std::size_t at = 0;
  for (std::size_t piece : stream.pieces) {
    std::size_t end = at + piece;
    while (at < end) {
      ssize_t wrote = write(ends[1], stream.bytes.data() + at, end - at);
      if (wrote > 0) {
        at += static_cast<std::size_t>(wrote);
      }
      ReadAvailableLines(transport, *box, check);
    }
  }
  close(ends[1]);
  // The rest, up to the end of the connection.
  std::string line;
  for (;;) {
    line.clear();
    long count = transport.ReadLine(line);
    if (count < 0) {
      break;
    }
    check.Returned(line);
    rig.HandleLine(*box, line);
  }
  check.Ended();
  Check(!transport.IsConnected(), "the transport stays open after its peer left");
  box.reset();
  rig.Reset();
  return 0;
}
