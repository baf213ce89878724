#include "uncalled/sync/mutex.h"

#include "sync/check.h"
#include "sync/win32.h"

namespace vexil {

Mutex::Mutex(int initialOwner, const wchar_t* name, _SECURITY_ATTRIBUTES* attributes) {
  AdoptNew(::CreateMutexW(attributes, initialOwner, name));
}

Mutex::Mutex(const wchar_t* name, uint32_t desiredAccess, int inheritHandle) {
  AdoptNew(::OpenMutexW(desiredAccess, inheritHandle, name));
}

int Mutex::Create(int initialOwner, const wchar_t* name, _SECURITY_ATTRIBUTES* attributes) {
  if (!CheckClosed()) return FALSE;
  return AdoptOpened(::CreateMutexW(attributes, initialOwner, name));
}

int Mutex::Open(const wchar_t* name, uint32_t desiredAccess, int inheritHandle) {
  if (!CheckClosed()) return FALSE;
  return AdoptOpened(::OpenMutexW(desiredAccess, inheritHandle, name));
}

int Mutex::Unlock() {
  if (!IsOpen(this)) CheckFailed();
  return ::ReleaseMutex(GetHandle());
}

}  // namespace vexil
