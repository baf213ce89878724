// Not called by the connector, which sends no datagram: kept because the system's design defines
// these among the socket operations, and kept working by tests/uncalled.
// The WinSock scatter/gather datagram calls on a Socket. Windows build only.
#ifndef VEXIL_UNCALLED_NET_OVERLAPPED_DATAGRAM_H_
#define VEXIL_UNCALLED_NET_OVERLAPPED_DATAGRAM_H_

#include <cstdint>
#include <string>

#include "net/socket.h"

namespace vexil {

// WSARecvFrom on socket; the byte count received, or SOCKET_ERROR with the error kept. The source
// is given as the raw address (network byte order) and port, or as dotted text and port.
int ReceiveFromEx(Socket& socket, WSABUF* buffers, DWORD count, DWORD* flags, uint32_t& address,
                  uint16_t& port, WSAOVERLAPPED* overlapped,
                  LPWSAOVERLAPPED_COMPLETION_ROUTINE completion);
int ReceiveFromEx(Socket& socket, WSABUF* buffers, DWORD count, DWORD* flags, std::string& address,
                  uint16_t& port, WSAOVERLAPPED* overlapped,
                  LPWSAOVERLAPPED_COMPLETION_ROUTINE completion);
// WSASendTo from socket to address (network byte order) and port; the byte count sent, or
// SOCKET_ERROR.
int SendToEx(Socket& socket, WSABUF* buffers, DWORD count, uint32_t address, uint16_t port,
             DWORD flags, WSAOVERLAPPED* overlapped, LPWSAOVERLAPPED_COMPLETION_ROUTINE completion);

}  // namespace vexil

#endif  // VEXIL_UNCALLED_NET_OVERLAPPED_DATAGRAM_H_
