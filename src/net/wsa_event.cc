#include "net/wsa_event.h"

#include "sync/check.h"

namespace vexil {

WsaEvent::WsaEvent() : handle_(::WSACreateEvent()) {
  if (handle_ == WSA_INVALID_EVENT) CheckFailed();
}

WsaEvent::~WsaEvent() {
  if (handle_ == WSA_INVALID_EVENT) return;
  if (!::WSACloseEvent(handle_)) CheckFailed();
  handle_ = WSA_INVALID_EVENT;
}

HANDLE WsaEvent::GetHandle() const { return handle_; }

BOOL WsaEvent::Lock(DWORD timeout) {
  const DWORD result = ::WaitForSingleObject(handle_, timeout);
  return result == WAIT_OBJECT_0 || result == WAIT_ABANDONED;
}

BOOL WsaEvent::Unlock() { return TRUE; }

BOOL WsaEvent::Set() { return ::WSASetEvent(handle_); }

BOOL WsaEvent::Reset() { return ::WSAResetEvent(handle_); }

}  // namespace vexil
