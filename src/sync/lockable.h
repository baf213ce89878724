// Anything that can be locked and unlocked through a ScopedLock, over its own CriticalSection.
// To the thread-safety analysis the object itself is the lock: a member it guards is declared
// GUARDED_BY(this), and a function called with it held REQUIRES(this).
#ifndef VEXIL_SYNC_LOCKABLE_H_
#define VEXIL_SYNC_LOCKABLE_H_

#include "sync/thread_annotations.h"

namespace vexil {

class CAPABILITY("mutex") Lockable {
 public:
  // Slot order is part of the objects' layout: Lock, then Unlock.
  virtual void Lock() ACQUIRE() = 0;
  virtual void Unlock() RELEASE() = 0;

 protected:
  ~Lockable() = default;
};

}  // namespace vexil

#endif  // VEXIL_SYNC_LOCKABLE_H_
