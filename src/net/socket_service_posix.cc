#include "net/socket_service.h"

#include "net/native_socket.h"

namespace vexil {

int StartupSockets(uint16_t) { return 1; }

int CleanupSockets() { return 1; }

int SetEventMask(SOCKET socket, void*, long mask) { return SetSocketBlocking(socket, mask == 0); }

}  // namespace vexil
