// The free helpers of the socket layer, the same on both platforms: its own error codes and the
// texts of every code, the local address, and a socket's handle. The socket service's start-up
// and clean-up, which differ, are in native_socket.h.
#ifndef VEXIL_NET_SOCKET_SERVICE_H_
#define VEXIL_NET_SOCKET_SERVICE_H_

#include "net/socket_types.h"

#include <cstdint>
#include <string>

namespace vexil {

class Socket;

// The layer's own error codes, in the WinSock number space.
constexpr int TARNETE_INVALIDSOCKET = 20001;
constexpr int TARNETE_TRYRECEIVE = 20002;
constexpr int TARNETE_ORVELLOADMSG = 20003;
constexpr int TARNETE_NOHANDLER = 20004;
constexpr int TARNETE_NOPROTOCOL = 20005;
constexpr int TARNETE_ONRCVMSG = 20006;
constexpr int TARNETE_DOSENDMSG = 20007;

// The constant text for a WinSock or layer error code; "<UNKNOWN ERROR>" for any other code.
const wchar_t* SocketErrorText(int code);

// The dotted address of this host: with preferNon10 the first address outside 10.0.0.0/8 when
// there is one, else the first address. Clears out first; 0 when the host name or its addresses
// cannot be found. Resolves the machine's own name, which may query the name service.
int GetLocalAddress(std::string& out, int preferNon10);
// The choice GetLocalAddress makes over a host entry's null-terminated address list (each entry a
// 4-byte IPv4 address); a null list or no entry gives 0.
int PickLocalAddress(char* const* addressList, int preferNon10, std::string& out);

// The socket's handle, or INVALID_SOCKET for a null pointer.
SOCKET SocketHandle(const Socket* socket);

}  // namespace vexil

#endif  // VEXIL_NET_SOCKET_SERVICE_H_
