// Anything that can be locked and unlocked through a ScopedLock, over its own CriticalSection: the
// connector and its send queue. Internal: nothing outside this library sees the interface.
#ifndef VEXIL_SYNC_LOCKABLE_H_
#define VEXIL_SYNC_LOCKABLE_H_

namespace vexil {

class Lockable {
 public:
  virtual void Lock() = 0;
  virtual void Unlock() = 0;

 protected:
  ~Lockable() = default;
};

}  // namespace vexil

#endif  // VEXIL_SYNC_LOCKABLE_H_
