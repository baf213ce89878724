#include "net/socket_service.h"

namespace vexil {

int StartupSockets(uint16_t version) {
  WSADATA wsaData;
  if (::WSAStartup(version, &wsaData) != 0) return 0;
  if (wsaData.wVersion != version) {
    CleanupSockets();
    return 0;
  }
  return 1;
}

int CleanupSockets() { return ::WSACleanup() != SOCKET_ERROR ? 1 : 0; }

int SetEventMask(SOCKET socket, void* event, long mask) {
  if (::WSAEventSelect(socket, event, mask) != 0) return 0;
  if (mask == 0) {
    u_long dwVal = 0;
    ::ioctlsocket(socket, FIONBIO, &dwVal);
  }
  return 1;
}

}  // namespace vexil
