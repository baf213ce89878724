#include "uncalled/sync/semaphore.h"

#include "sync/check.h"
#include "sync/win32.h"

namespace vexil {

Semaphore::Semaphore(long initialCount, long maximumCount, const wchar_t* name,
                     _SECURITY_ATTRIBUTES* attributes) {
  AdoptNew(::CreateSemaphoreW(attributes, initialCount, maximumCount, name));
}

Semaphore::Semaphore(const wchar_t* name, uint32_t desiredAccess, int inheritHandle) {
  AdoptNew(::OpenSemaphoreW(desiredAccess, inheritHandle, name));
}

int Semaphore::Create(long initialCount, long maximumCount, const wchar_t* name,
                      _SECURITY_ATTRIBUTES* attributes) {
  if (!CheckClosed()) return FALSE;
  return AdoptOpened(::CreateSemaphoreW(attributes, initialCount, maximumCount, name));
}

int Semaphore::Open(const wchar_t* name, uint32_t desiredAccess, int inheritHandle) {
  if (!CheckClosed()) return FALSE;
  return AdoptOpened(::OpenSemaphoreW(desiredAccess, inheritHandle, name));
}

int Semaphore::Unlock() { return Unlock(1, nullptr); }

int Semaphore::Unlock(long count, long* previousCount) {
  if (!IsOpen(this)) CheckFailed();
  return ::ReleaseSemaphore(GetHandle(), count, previousCount);
}

}  // namespace vexil
