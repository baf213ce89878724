// Socket-service start-up and clean-up and the free helpers of the socket layer: error texts, the
// local address and the event-selection switch. On POSIX there is no service
// to start: start-up and clean-up succeed at once.
#ifndef VEXIL_NET_SOCKET_SERVICE_H_
#define VEXIL_NET_SOCKET_SERVICE_H_

#include "net/socket_types.h"

#include <cstdint>
#include <string>

namespace vexil {

class Socket;

// Version word for WinSock 2.0 (major in the low byte).
constexpr uint16_t kSocketVersion20 = 0x0002;

// The layer's own error codes, in the WinSock number space.
constexpr int TARNETE_INVALIDSOCKET = 20001;
constexpr int TARNETE_TRYRECEIVE = 20002;
constexpr int TARNETE_ORVELLOADMSG = 20003;
constexpr int TARNETE_NOHANDLER = 20004;
constexpr int TARNETE_NOPROTOCOL = 20005;
constexpr int TARNETE_ONRCVMSG = 20006;
constexpr int TARNETE_DOSENDMSG = 20007;

// WSAStartup for the version word; 1 only when the service granted exactly that version (any other
// grant is undone with CleanupSockets), else 0.
int StartupSockets(uint16_t version);
// WSACleanup; 1 unless it failed.
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

// The constant text for a WinSock or layer error code; "<UNKNOWN ERROR>" for any other code.
const wchar_t* SocketErrorText(int code);

// The dotted address of this host: with preferNon10 the first address outside 10.0.0.0/8 when
// there is one, else the first address. Clears out first; 0 when the host name or its addresses
// cannot be found. Resolves the machine's own name, which may query the name service.
int GetLocalAddress(std::string& out, int preferNon10);
// The choice GetLocalAddress makes over a host entry's null-terminated address list (each entry a
// 4-byte IPv4 address); a null list or no entry gives 0.
int PickLocalAddress(char* const* addressList, int preferNon10, std::string& out);

// WSAEventSelect (socket, event, mask) on Windows; a mask of 0 also switches the socket back to
// blocking mode. POSIX: only the mode changes (non-blocking for a mask). 1 on success.
int SetEventMask(SOCKET socket, void* event, long mask);

// The socket's handle, or INVALID_SOCKET for a null pointer.
SOCKET SocketHandle(const Socket* socket);

}  // namespace vexil

#endif  // VEXIL_NET_SOCKET_SERVICE_H_
