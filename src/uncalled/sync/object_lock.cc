#include "uncalled/sync/object_lock.h"

#include "sync/check.h"

namespace vexil {

ObjectLock::ObjectLock(WaitableObject* object, int lockNow) : object_(object) {
  if (object_ == nullptr) {
    CheckFailed();
    return;
  }
  if (lockNow) Lock(kInfinite);
}

int ObjectLock::Lock(uint32_t timeout) {
  if (held_) {
    CheckFailed();
    return held_;
  }
  if (object_ == nullptr) return 0;
  held_ = object_->Lock(timeout);
  return held_;
}

int ObjectLock::Unlock() {
  if (held_) held_ = !object_->Unlock();
  return !held_;
}

}  // namespace vexil
