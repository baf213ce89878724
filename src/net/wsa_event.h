// WsaEvent: a manual-reset WinSock event object that sockets' network events are signalled on.
// Windows build only.
#ifndef VEXIL_NET_WSA_EVENT_H_
#define VEXIL_NET_WSA_EVENT_H_

#include "sync/win32.h"

namespace vexil {

class WsaEvent {
 public:
  // Creates the event, not signalled; a failure is an internal check.
  WsaEvent();
  WsaEvent(const WsaEvent&) = delete;
  WsaEvent& operator=(const WsaEvent&) = delete;
  // Closes the event; a failure is an internal check.
  virtual ~WsaEvent();

  virtual HANDLE GetHandle() const;
  // Waits up to timeout milliseconds for the event; TRUE when it is signalled.
  virtual BOOL Lock(DWORD timeout);
  // Nothing to give back for an event: always 1.
  virtual BOOL Unlock();

  BOOL Set();
  BOOL Reset();

 private:
  WSAEVENT handle_ = WSA_INVALID_EVENT;  // Owned.
};

}  // namespace vexil

#endif  // VEXIL_NET_WSA_EVENT_H_
