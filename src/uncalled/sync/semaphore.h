// Not called by the connector: kept because the system's design defines it among the kernel
// synchronisation classes, and kept working by tests/uncalled.
// A counting kernel semaphore. Windows build only.
#ifndef VEXIL_UNCALLED_SYNC_SEMAPHORE_H_
#define VEXIL_UNCALLED_SYNC_SEMAPHORE_H_

#include <cstdint>

#include "uncalled/sync/waitable_object.h"

struct _SECURITY_ATTRIBUTES;

namespace vexil {

class Semaphore : public WaitableObject {
 public:
  // Nothing open.
  Semaphore() = default;
  // CreateSemaphoreW / OpenSemaphoreW; a failure is a check failure.
  Semaphore(long initialCount, long maximumCount, const wchar_t* name,
            _SECURITY_ATTRIBUTES* attributes);
  Semaphore(const wchar_t* name, uint32_t desiredAccess, int inheritHandle);

  // Two-phase forms: TRUE when open afterwards; FALSE with the system's last error. Calling
  // either on an open object is a check failure (if resumed: FALSE, last error 1247).
  int Create(long initialCount, long maximumCount, const wchar_t* name,
             _SECURITY_ATTRIBUTES* attributes);
  int Open(const wchar_t* name, uint32_t desiredAccess, int inheritHandle);

  // Releases one count.
  int Unlock() override;
  // Releases count; previousCount (may be null) receives the count before. A closed semaphore is
  // a check failure; if resumed, the release fails.
  virtual int Unlock(long count, long* previousCount);
};

}  // namespace vexil

#endif  // VEXIL_UNCALLED_SYNC_SEMAPHORE_H_
