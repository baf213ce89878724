#include "uncalled/net/wsa_event.h"

#include "sync/win32.h"

#include "sync/check.h"

namespace vexil {

WsaEvent::WsaEvent() { AdoptNew(::WSACreateEvent()); }

WsaEvent::~WsaEvent() {
  if (GetHandle() == nullptr) return;
  // Closed here with the WinSock call, so the base destructor finds nothing left to close.
  if (!::WSACloseEvent(Detach())) CheckFailed();
}

int WsaEvent::Set() { return ::WSASetEvent(GetHandle()); }

int WsaEvent::Reset() { return ::WSAResetEvent(GetHandle()); }

}  // namespace vexil
