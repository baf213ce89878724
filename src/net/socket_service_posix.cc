#include "net/socket_service.h"

#include <unistd.h>

#include <cstdio>
#include <cwchar>

#include "net/native_socket.h"

namespace vexil {

int StartupSockets(uint16_t) { return 1; }

int CleanupSockets() { return 1; }

void FatalError(const wchar_t* text) {
  std::fprintf(stderr, "%ls\n", text);
  ::_exit(255);
}

int SetEventMask(SOCKET socket, void*, long mask) { return SetSocketBlocking(socket, mask == 0); }

}  // namespace vexil
