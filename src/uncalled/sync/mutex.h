// Not called by the connector: kept because the system's design defines it among the kernel
// synchronisation classes, and kept working by tests/uncalled.
// A kernel mutex: owned by one thread at a time, re-entrant for the owner, and reported as
// abandoned to the next waiter when its owner ends without releasing it. Windows build only.
#ifndef VEXIL_UNCALLED_SYNC_MUTEX_H_
#define VEXIL_UNCALLED_SYNC_MUTEX_H_

#include <cstdint>

#include "uncalled/sync/waitable_object.h"

struct _SECURITY_ATTRIBUTES;

namespace vexil {

class Mutex : public WaitableObject {
 public:
  // Nothing open.
  Mutex() = default;
  // CreateMutexW / OpenMutexW; a failure is a check failure.
  Mutex(int initialOwner, const wchar_t* name, _SECURITY_ATTRIBUTES* attributes);
  Mutex(const wchar_t* name, uint32_t desiredAccess, int inheritHandle);

  // Two-phase forms, as Semaphore's.
  int Create(int initialOwner, const wchar_t* name, _SECURITY_ATTRIBUTES* attributes);
  int Open(const wchar_t* name, uint32_t desiredAccess, int inheritHandle);

  // ReleaseMutex; FALSE when the caller does not own it. A closed mutex is a check failure.
  int Unlock() override;
};

}  // namespace vexil

#endif  // VEXIL_UNCALLED_SYNC_MUTEX_H_
