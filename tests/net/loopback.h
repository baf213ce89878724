// Loopback socket pairs for the network tests: a listener on an ephemeral port of one 127.0.0.N
// address, a client connected to it and the accepted peer. Also starts the socket service once
// per test program, and names the few reports in which the platforms' sockets differ.
#ifndef VEXIL_TESTS_NET_LOOPBACK_H_
#define VEXIL_TESTS_NET_LOOPBACK_H_

#include <string>

#include "net/socket.h"
#include "support/test_platform.h"  // RunningUnderWine

namespace vexil::testing {

// Error codes the tests expect from the system, in its own numbers (WinSock's or errno's).
#ifdef _WIN32
constexpr int kErrorAddressInUse = WSAEADDRINUSE;
constexpr int kErrorConnectionReset = WSAECONNRESET;
constexpr int kErrorNetworkDown = WSAENETDOWN;
// The shutdown of the sending side.
constexpr int kShutdownSend = SD_SEND;
// Windows reports room to write once, as soon as an event selection is made. POSIX asks for room
// to write only while bytes wait to be sent, so a fresh selection signals nothing.
constexpr bool kSelectionReportsWritable = true;
#else
constexpr int kErrorAddressInUse = EADDRINUSE;
constexpr int kErrorConnectionReset = ECONNRESET;
constexpr int kErrorNetworkDown = ENETDOWN;
constexpr int kShutdownSend = SHUT_WR;
constexpr bool kSelectionReportsWritable = false;
#endif

// The calling thread's last socket error.
int SocketError();

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

}  // namespace vexil::testing

#endif  // VEXIL_TESTS_NET_LOOPBACK_H_
