// Noticing a TCP peer that stopped reading, on a connected socket descriptor: the count of
// bytes the peer has not acknowledged yet, and a send that never waits longer than asked (the
// keep-alive of a peer that is gone is EnableDeadPeerDetection in tcp_socket.h). Plain functions on
// a descriptor the caller keeps open for the call (TcpSocket::WithDescriptor); any thread.
#pragma once

#include <cstddef>
#include <string>

namespace lapora {

// Bytes handed to the socket that the peer has not acknowledged yet (waiting in the send
// queue or in flight), or -1 when the count cannot be had.
long UnsentByteCount(int fd);

// Sends what the socket takes of the bytes, waiting at most waitMs for room when it takes
// nothing at once: the count sent (0 when the wait ended without room), or minus errno on a
// failure of the connection.
long SendWithin(int fd, const char* data, std::size_t size, int waitMs);

}  // namespace lapora
