// The socket calls whose form differs between Windows and POSIX, so that the rest of the network
// layer is written once. Each returns 1 on success and 0 with the cause in the last error.
#ifndef VEXIL_NET_NATIVE_SOCKET_H_
#define VEXIL_NET_NATIVE_SOCKET_H_

#include <cstdint>

#include "net/network_events.h"
#include "net/socket_types.h"
#include "sync/ordered_wait.h"
#include "sync/signal_event.h"

namespace vexil {

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
