// Anything that can be locked and unlocked through a ScopedLock, over its own CriticalSection.
#ifndef VEXIL_SYNC_LOCKABLE_H_
#define VEXIL_SYNC_LOCKABLE_H_

namespace vexil {

class Lockable {
 public:
  // Slot order is part of the objects' layout: Lock, then Unlock.
  virtual void Lock() = 0;
  virtual void Unlock() = 0;

 protected:
  ~Lockable() = default;
};

}  // namespace vexil

#endif  // VEXIL_SYNC_LOCKABLE_H_
