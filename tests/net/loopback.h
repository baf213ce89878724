// Loopback socket pairs for the network tests: a listener on an ephemeral port of one 127.0.0.N
// address, a client connected to it and the accepted peer. Also starts the socket service once
// per test program.
#ifndef VEXIL_TESTS_NET_LOOPBACK_H_
#define VEXIL_TESTS_NET_LOOPBACK_H_

#include "sync/win32.h"

#include <string>

#include "net/socket.h"

namespace vexil::testing {

// Connects client (which must hold no handle) to a fresh listener on address and moves the
// accepted connection into peer. Both stay blocking. False (with a gtest failure) on any error.
bool ConnectPair(const char* address, Socket& client, Socket& peer);

// Waits, bounded by a few seconds, until at least count bytes are pending on handle.
bool WaitPending(SOCKET handle, unsigned count);

// Sends all of bytes from a blocking socket.
bool SendBytes(Socket& from, const std::string& bytes);

// Receives and drops exactly count bytes on a blocking socket.
bool ReceiveBytes(Socket& on, unsigned count);

// Resets the connection when closed: a close with SO_LINGER 0 sends RST instead of FIN.
void SetAbortiveClose(Socket& socket);

// True when the program runs under Wine, whose sockets differ from Windows in a few reports.
bool RunningUnderWine();

}  // namespace vexil::testing

#endif  // VEXIL_TESTS_NET_LOOPBACK_H_
