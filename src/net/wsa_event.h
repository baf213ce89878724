// WsaEvent: the manual-reset WinSock event object that sockets' network events are signalled on,
// waitable like any WaitableObject. Windows build only.
#ifndef VEXIL_NET_WSA_EVENT_H_
#define VEXIL_NET_WSA_EVENT_H_

#include "sync/waitable_object.h"

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

#endif  // VEXIL_NET_WSA_EVENT_H_
