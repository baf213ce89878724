// Guard over any object with Lock() and Unlock(). A null target neither locks nor unlocks.
#ifndef VEXIL_SYNC_SCOPED_LOCK_H_
#define VEXIL_SYNC_SCOPED_LOCK_H_

namespace vexil {

template <typename T>
class ScopedLock {
 public:
  ScopedLock(T* target, bool lock_now) : target_(target) {
    if (target_ != nullptr && lock_now) target_->Lock();
  }
  ScopedLock(const ScopedLock&) = delete;
  ScopedLock& operator=(const ScopedLock&) = delete;
  ~ScopedLock() {
    if (target_ != nullptr) target_->Unlock();
  }

 private:
  T* target_;
};

}  // namespace vexil

#endif  // VEXIL_SYNC_SCOPED_LOCK_H_
