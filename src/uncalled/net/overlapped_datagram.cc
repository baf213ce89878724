#include "uncalled/net/overlapped_datagram.h"

namespace vexil {

int ReceiveFromEx(Socket& socket, WSABUF* buffers, DWORD count, DWORD* flags, uint32_t& address,
                  uint16_t& port, WSAOVERLAPPED* overlapped,
                  LPWSAOVERLAPPED_COMPLETION_ROUTINE completion) {
  sockaddr_in sockAddr = {};
  int length = static_cast<int>(sizeof(sockAddr));
  DWORD received = 0;
  const int result =
      ::WSARecvFrom(socket.handle(), buffers, count, &received, flags,
                    reinterpret_cast<sockaddr*>(&sockAddr), &length, overlapped, completion);
  address = sockAddr.sin_addr.s_addr;
  port = ::ntohs(sockAddr.sin_port);
  return result == 0 ? static_cast<int>(received) : SOCKET_ERROR;
}

int ReceiveFromEx(Socket& socket, WSABUF* buffers, DWORD count, DWORD* flags, std::string& address,
                  uint16_t& port, WSAOVERLAPPED* overlapped,
                  LPWSAOVERLAPPED_COMPLETION_ROUTINE completion) {
  uint32_t rawAddress = 0;
  const int result =
      ReceiveFromEx(socket, buffers, count, flags, rawAddress, port, overlapped, completion);
  const int error = ::WSAGetLastError();
  in_addr inAddr;
  inAddr.s_addr = rawAddress;
  address = ::inet_ntoa(inAddr);
  ::WSASetLastError(error);
  return result;
}

int SendToEx(Socket& socket, WSABUF* buffers, DWORD count, uint32_t address, uint16_t port,
             DWORD flags, WSAOVERLAPPED* overlapped,
             LPWSAOVERLAPPED_COMPLETION_ROUTINE completion) {
  sockaddr_in sockAddr = {};
  sockAddr.sin_family = AF_INET;
  sockAddr.sin_port = ::htons(port);
  sockAddr.sin_addr.s_addr = address;
  DWORD sent = 0;
  const int result = ::WSASendTo(socket.handle(), buffers, count, &sent, flags,
                                 reinterpret_cast<const sockaddr*>(&sockAddr),
                                 static_cast<int>(sizeof(sockAddr)), overlapped, completion);
  return result == 0 ? static_cast<int>(sent) : SOCKET_ERROR;
}

}  // namespace vexil
