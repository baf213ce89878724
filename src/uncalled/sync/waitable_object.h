// Not called by the connector: kept because the system's design defines it among the kernel
// synchronisation classes, and kept working by tests/uncalled.
// A kernel object that can be acquired and given back: the interface that ObjectLock and the
// multi-object waits act on. Windows build only.
#ifndef VEXIL_UNCALLED_SYNC_WAITABLE_OBJECT_H_
#define VEXIL_UNCALLED_SYNC_WAITABLE_OBJECT_H_

#include <cstdint>

#include "uncalled/sync/kernel_object.h"

namespace vexil {

class WaitableObject : public KernelObject {
 public:
  // Waits on the handle: TRUE when it was signalled or is a mutex abandoned by its owner (both
  // leave the caller owning it); FALSE on time-out or failure. A closed object is a check
  // failure; if resumed, the wait fails.
  virtual int Lock(uint32_t timeout);
  // Gives the object back (released semaphore count, released mutex, or nothing for events).
  virtual int Unlock() = 0;
};

}  // namespace vexil

#endif  // VEXIL_UNCALLED_SYNC_WAITABLE_OBJECT_H_
