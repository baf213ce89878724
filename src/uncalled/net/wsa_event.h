// Not called by the connector, whose socket handler waits on a SignalEvent: kept because the
// system's design defines this event object of the socket layer, and kept working by
// tests/uncalled.
// WsaEvent: the manual-reset WinSock event object that sockets' network events are signalled on,
// waitable like any WaitableObject. Windows build only.
#ifndef VEXIL_UNCALLED_NET_WSA_EVENT_H_
#define VEXIL_UNCALLED_NET_WSA_EVENT_H_

#include "uncalled/sync/waitable_object.h"

namespace vexil {

class WsaEvent : public WaitableObject {
 public:
  // Creates the event, not signalled; a failure is an internal check.
  WsaEvent();
  // Closes the event with WSACloseEvent; a failure is an internal check.
  ~WsaEvent() override;

  // Waiting on an event takes nothing that needs giving back.
  int Unlock() override { return 1; }

  // WSASetEvent and WSAResetEvent; TRUE on success.
  int Set();
  int Reset();
};

}  // namespace vexil

#endif  // VEXIL_UNCALLED_NET_WSA_EVENT_H_
