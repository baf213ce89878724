// The system socket headers and the few names in which the Windows and POSIX socket interfaces
// differ: the one place the network layer's headers see the platform. On POSIX the descriptor type
// keeps the Windows name SOCKET, so that the layer's interfaces read the same on both.
#ifndef VEXIL_NET_SOCKET_TYPES_H_
#define VEXIL_NET_SOCKET_TYPES_H_

#ifdef _WIN32
#include "sync/win32.h"
#else
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace vexil {

#ifdef _WIN32
// The length type of the address arguments.
using SockLength = int;
// What every stream send adds to its flags.
constexpr int kSendFlags = 0;
// Error codes the layer reports or tests for.
constexpr int kSocketErrorInvalid = WSAEINVAL;
constexpr int kSocketErrorWouldBlock = WSAEWOULDBLOCK;
constexpr int kSocketErrorNoBuffers = WSAENOBUFS;
// What a non-blocking connect under way fails with.
constexpr int kSocketErrorConnectPending = WSAEWOULDBLOCK;
#else
using SOCKET = int;
constexpr SOCKET INVALID_SOCKET = -1;
constexpr int SOCKET_ERROR = -1;
using SockLength = socklen_t;
// A peer that closed must fail the send, never raise SIGPIPE in the host.
constexpr int kSendFlags = MSG_NOSIGNAL;
constexpr int kSocketErrorInvalid = EINVAL;
constexpr int kSocketErrorWouldBlock = EWOULDBLOCK;
constexpr int kSocketErrorNoBuffers = ENOBUFS;
constexpr int kSocketErrorConnectPending = EINPROGRESS;
#endif

// The options the connector sets, in its own names.
constexpr int kStreamSocket = SOCK_STREAM;
constexpr int kTcpLevel = IPPROTO_TCP;
constexpr int kTcpNoDelay = TCP_NODELAY;

}  // namespace vexil

#endif  // VEXIL_NET_SOCKET_TYPES_H_
