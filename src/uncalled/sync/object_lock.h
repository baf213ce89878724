// Not called by the connector: kept because the system's design defines it among the kernel
// synchronisation classes, and kept working by tests/uncalled.
// A guard over one WaitableObject, which it borrows and never deletes. Lives on one thread's
// stack. Windows build only.
#ifndef VEXIL_UNCALLED_SYNC_OBJECT_LOCK_H_
#define VEXIL_UNCALLED_SYNC_OBJECT_LOCK_H_

#include <cstdint>

#include "uncalled/sync/waitable_object.h"

namespace vexil {

class ObjectLock {
 public:
  // A null object is a check failure; if resumed, the guard never locks anything. With lockNow,
  // waits without a time limit.
  ObjectLock(WaitableObject* object, int lockNow);
  ObjectLock(const ObjectLock&) = delete;
  ObjectLock& operator=(const ObjectLock&) = delete;
  ~ObjectLock() { Unlock(); }

  // TRUE when the guard now holds the object. Locking while held is a check failure; if resumed,
  // it does not wait again (the guard gives back only once) and returns TRUE.
  int Lock(uint32_t timeout);
  // TRUE when the guard no longer holds the object; a failed give-back keeps it held.
  int Unlock();
  int IsHeld() const { return held_; }

 private:
  WaitableObject* const object_;  // Borrowed.
  int held_ = 0;
};

}  // namespace vexil

#endif  // VEXIL_UNCALLED_SYNC_OBJECT_LOCK_H_
