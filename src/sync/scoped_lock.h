// Guard over any object with Lock() and Unlock(). A null target neither locks nor unlocks.
#ifndef VEXIL_SYNC_SCOPED_LOCK_H_
#define VEXIL_SYNC_SCOPED_LOCK_H_

#include "sync/thread_annotations.h"

namespace vexil {

// To the thread-safety analysis the guard holds *target from its construction to its end, so T
// must be a CAPABILITY. lock_now false adopts a lock the caller already holds, which the analysis
// does not check; a null target is for tests only.
template <typename T>
class SCOPED_CAPABILITY ScopedLock {
 public:
  ScopedLock(T* target, bool lock_now) ACQUIRE(target) : target_(target) {
    if (target_ != nullptr && lock_now) target_->Lock();
  }
  ScopedLock(const ScopedLock&) = delete;
  ScopedLock& operator=(const ScopedLock&) = delete;
  ~ScopedLock() RELEASE() {
    if (target_ != nullptr) target_->Unlock();
  }

 private:
  T* target_;
};

}  // namespace vexil

#endif  // VEXIL_SYNC_SCOPED_LOCK_H_
