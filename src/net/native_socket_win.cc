#include "net/native_socket.h"

namespace vexil {

static_assert(kNetRead == FD_READ && kNetWrite == FD_WRITE && kNetOutOfBand == FD_OOB &&
                  kNetAccept == FD_ACCEPT && kNetConnect == FD_CONNECT && kNetClose == FD_CLOSE &&
                  kNetQos == FD_QOS && kNetGroupQos == FD_GROUP_QOS &&
                  kNetRoutingInterfaceChange == FD_ROUTING_INTERFACE_CHANGE &&
                  kNetAddressListChange == FD_ADDRESS_LIST_CHANGE &&
                  kNetworkEventCount == FD_MAX_EVENTS,
              "the layer's event bits are the system's");

namespace {
HANDLE EventHandle(const SignalEvent& event) {
  return reinterpret_cast<HANDLE>(event.Source().native);
}
}  // namespace

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

SOCKET OpenNativeSocket(int family, int type, int protocol) {
  // Overlapped, as socket() makes them. The no-inherit flag needs Windows 7 SP1 or later; an older
  // system refuses it (WSAEINVAL), and the handle's flag is cleared after the fact instead.
  SOCKET handle = ::WSASocketW(family, type, protocol, nullptr, 0,
                               WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
  if (handle == INVALID_SOCKET && ::WSAGetLastError() == WSAEINVAL) {
    handle = ::WSASocketW(family, type, protocol, nullptr, 0, WSA_FLAG_OVERLAPPED);
    if (handle != INVALID_SOCKET) {
      ::SetHandleInformation(reinterpret_cast<HANDLE>(handle), HANDLE_FLAG_INHERIT, 0);
    }
  }
  return handle;
}

int CloseNativeSocket(SOCKET handle) { return ::closesocket(handle) == 0 ? 1 : 0; }

int ShutdownNativeSend(SOCKET handle) { return ::shutdown(handle, SD_SEND) == 0 ? 1 : 0; }

int SetSocketBlocking(SOCKET handle, bool blocking) {
  u_long dwVal = blocking ? 0 : 1;
  return ::ioctlsocket(handle, FIONBIO, &dwVal) == 0 ? 1 : 0;
}

int PendingByteCount(SOCKET handle, unsigned* count) {
  u_long dwToRead = 0;
  if (::ioctlsocket(handle, FIONREAD, &dwToRead) != 0) return 0;
  *count = dwToRead;
  return 1;
}

int GatherSend(SOCKET handle, const SendPiece* pieces, unsigned count, unsigned long* sent) {
  constexpr unsigned kMostPieces = 64;
  WSABUF buffers[kMostPieces];
  if (count > kMostPieces) count = kMostPieces;
  for (unsigned i = 0; i < count; ++i) {
    buffers[i].buf = reinterpret_cast<char*>(const_cast<uint8_t*>(pieces[i].data));
    buffers[i].len = pieces[i].size;
  }
  DWORD went_out = 0;
  *sent = 0;
  if (::WSASend(handle, buffers, count, &went_out, 0, nullptr, nullptr) != 0) return 0;
  *sent = went_out;
  return 1;
}

int SelectNetworkEvents(SOCKET handle, const SignalEvent& event, long mask) {
  return ::WSAEventSelect(handle, EventHandle(event), mask) == 0 ? 1 : 0;
}

int SetEventMask(SOCKET socket, void* event, long mask) {
  if (::WSAEventSelect(socket, event, mask) != 0) return 0;
  if (mask == 0) {
    u_long dwVal = 0;
    ::ioctlsocket(socket, FIONBIO, &dwVal);
  }
  return 1;
}

WaitSource NetworkWaitSource(SOCKET, const SignalEvent& event, bool) { return event.Source(); }

int EnumerateNetworkEvents(SOCKET handle, const SignalEvent* event, bool, bool,
                           NetworkEventReport* report) {
  WSANETWORKEVENTS wsaEvents = {};
  // Given the event, the enumeration resets it in the same request: no separate reset before it.
  if (::WSAEnumNetworkEvents(handle, event != nullptr ? EventHandle(*event) : nullptr,
                             &wsaEvents) != 0)
    return 0;
  report->events = wsaEvents.lNetworkEvents;
  for (int index = 0; index < kNetworkEventCount; ++index) {
    report->errors[index] = wsaEvents.iErrorCode[index];
  }
  return 1;
}

void KeepNetworkEventSignalled(SignalEvent& event) { event.Set(); }

}  // namespace vexil
