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

void FatalError(const wchar_t* text) {
  wchar_t caption[256] = {};
  ::GetModuleFileNameW(nullptr, caption, 256);
  ::MessageBoxW(::GetActiveWindow(), text, caption, MB_OK);
  ::ExitProcess(static_cast<UINT>(-1));
}

int SetEventMask(SOCKET socket, void* event, long mask) {
  if (::WSAEventSelect(socket, event, mask) != 0) return 0;
  if (mask == 0) {
    u_long dwVal = 0;
    ::ioctlsocket(socket, FIONBIO, &dwVal);
  }
  return 1;
}

}  // namespace vexil
