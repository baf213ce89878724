#include "uncalled/sync/event.h"

#include "sync/check.h"
#include "sync/win32.h"

namespace vexil {

Event::Event(int initialState, int manualReset, const wchar_t* name,
             _SECURITY_ATTRIBUTES* attributes) {
  AdoptNew(::CreateEventW(attributes, manualReset, initialState, name));
}

Event::Event(const wchar_t* name, uint32_t desiredAccess, int inheritHandle) {
  if (name == nullptr) CheckFailed();
  AdoptNew(::OpenEventW(desiredAccess, inheritHandle, name));
}

int Event::Create(int initialState, int manualReset, const wchar_t* name,
                  _SECURITY_ATTRIBUTES* attributes) {
  if (!CheckClosed()) return FALSE;
  return AdoptOpened(::CreateEventW(attributes, manualReset, initialState, name));
}

int Event::Open(const wchar_t* name, uint32_t desiredAccess, int inheritHandle) {
  if (!CheckClosed()) return FALSE;
  if (name == nullptr) CheckFailed();
  return AdoptOpened(::OpenEventW(desiredAccess, inheritHandle, name));
}

int Event::Set() {
  if (!IsOpen(this)) CheckFailed();
  return ::SetEvent(GetHandle());
}

int Event::Pulse() {
  if (!IsOpen(this)) CheckFailed();
  return ::PulseEvent(GetHandle());
}

int Event::Reset() {
  if (!IsOpen(this)) CheckFailed();
  return ::ResetEvent(GetHandle());
}

}  // namespace vexil
