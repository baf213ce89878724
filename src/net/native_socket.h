// The socket calls whose form differs between Windows and POSIX, so that the rest of the network
// layer is written once: the socket service's start-up, then the calls on one socket. The bodies
// are native_socket_win.cc and native_socket_posix.cc, one of which the build chooses. Each
// returns 1 on success and 0 with the cause in the last error unless it says otherwise.
#ifndef VEXIL_NET_NATIVE_SOCKET_H_
#define VEXIL_NET_NATIVE_SOCKET_H_

#include <cstdint>

#include "net/network_events.h"
#include "net/socket_types.h"
#include "sync/ordered_wait.h"
#include "sync/signal_event.h"

namespace vexil {

// Version word for WinSock 2.0 (major in the low byte).
constexpr uint16_t kSocketVersion20 = 0x0002;

// WSAStartup for the version word; 1 only when the service granted exactly that version (any other
// grant is undone with CleanupSockets), else 0. POSIX has no service to start: always 1.
int StartupSockets(uint16_t version);
// WSACleanup; 1 unless it failed. POSIX: always 1.
int CleanupSockets();

// One thread's use of the socket service, from construction to destruction: WSAStartup on the
// thread that needs sockets, before its first one, and WSACleanup after its last one is closed.
// A failed start-up is not undone (the service's count was not raised; a clean-up would drop
// another user's reference): the thread's socket calls then fail with WSANOTINITIALISED.
class SocketServiceUse {
 public:
  explicit SocketServiceUse(uint16_t version) : started_(StartupSockets(version) != 0) {}
  SocketServiceUse(const SocketServiceUse&) = delete;
  SocketServiceUse& operator=(const SocketServiceUse&) = delete;
  ~SocketServiceUse() {
    if (started_) CleanupSockets();
  }

 private:
  const bool started_;
};

// Opens a socket that processes the host starts do not inherit (close-on-exec; on Windows not
// inheritable). INVALID_SOCKET with the cause in the last error on failure.
SOCKET OpenNativeSocket(int family, int type, int protocol);
int CloseNativeSocket(SOCKET handle);
// Shuts the sending side down: the peer reads what was sent so far, then the end of the stream.
int ShutdownNativeSend(SOCKET handle);
// Switches the socket between blocking and non-blocking mode.
int SetSocketBlocking(SOCKET handle, bool blocking);
// The number of bytes waiting to be received.
int PendingByteCount(SOCKET handle, unsigned* count);

// One piece of a gathered send.
struct SendPiece {
  const uint8_t* data;
  unsigned size;
};
// Sends count pieces, in order, in one system call; *sent is what went out (possibly less than
// offered). A would-block is a failure here, with kSocketErrorWouldBlock as the last error.
int GatherSend(SOCKET handle, const SendPiece* pieces, unsigned count, unsigned long* sent);

// Windows: binds the socket's events in mask to event (which the system then sets), and makes the
// socket non-blocking; a mask of 0 unbinds them. POSIX: the readiness of the descriptor itself is
// what a wait watches, so only the mode changes: non-blocking for a mask, blocking for 0.
int SelectNetworkEvents(SOCKET handle, const SignalEvent& event, long mask);
// WSAEventSelect (socket, event, mask) on Windows; a mask of 0 also switches the socket back to
// blocking mode. POSIX: only the mode changes (non-blocking for a mask).
int SetEventMask(SOCKET socket, void* event, long mask);
// What a wait for handle's network events watches: Windows: the bound event; POSIX: the
// descriptor, for input always and for room to write when want_write.
WaitSource NetworkWaitSource(SOCKET handle, const SignalEvent& event, bool want_write);
// The events that occurred on handle since the last enumeration. Windows: the system's record,
// with event (when not null) reset. POSIX: read from a poll that does not wait. While
// connect_pending, room to write or an error is kNetConnect with the socket's pending error (and,
// connected, kNetWrite too); otherwise input is kNetRead, room to write kNetWrite (only asked for
// when want_write), the peer's close or an error kNetClose with the socket's pending error (0 for
// a graceful close).
int EnumerateNetworkEvents(SOCKET handle, const SignalEvent* event, bool want_write,
                           bool connect_pending, NetworkEventReport* report);
// After the peer's close, makes the next wait on the socket's events end at once although the
// system will record none: Windows sets event; POSIX has nothing to do, the descriptor at the end
// of its input stays readable.
void KeepNetworkEventSignalled(SignalEvent& event);

}  // namespace vexil

#endif  // VEXIL_NET_NATIVE_SOCKET_H_
