// Not called by the connector: kept because the system's design defines it among the kernel
// synchronisation classes, and kept working by tests/uncalled.
// Acquires any one, or all, of up to 64 WaitableObjects and remembers which it holds, so that
// Unlock and the destructor give back exactly those. Borrows its members; belongs to the thread
// that waits on it. Windows build only.
#ifndef VEXIL_UNCALLED_SYNC_MULTI_OBJECT_LOCK_H_
#define VEXIL_UNCALLED_SYNC_MULTI_OBJECT_LOCK_H_

#include <cstdint>

#include "uncalled/sync/waitable_list.h"

namespace vexil {

class MultiObjectLock {
 public:
  // Appends the objects in order (a null array or more than 64 is a check failure; if resumed,
  // the lock starts empty). With lockNow: Lock(kInfinite, FALSE, 0, TRUE).
  MultiObjectLock(WaitableObject** objects, uint32_t count, int lockNow);
  MultiObjectLock(const MultiObjectLock&) = delete;
  MultiObjectLock& operator=(const MultiObjectLock&) = delete;
  // Gives back whatever is held.
  ~MultiObjectLock() { Unlock(); }

  // Both forget every held flag. Adding a present object, adding to a full lock, or removing an
  // absent one is a check failure; if resumed, FALSE and nothing changes.
  int Add(WaitableObject* object);
  int Remove(WaitableObject* object);

  uint32_t GetCount() const { return objects_.size(); }
  // An index at or beyond the count is a check failure; if resumed, null / FALSE.
  WaitableObject* GetObjectAt(uint32_t index) const { return objects_.CheckedAt(index); }
  int IsLocked(uint32_t index) const;

  // Waits for one member (or all, with waitAll); with a non-zero wakeMask also wakes for that
  // window-message input (result GetCount()). A result below GetCount() marks the member (or, with
  // waitAll, every member) held; every other result, an abandoned mutex included, marks nothing.
  // Does not look at the held flags first.
  uint32_t Lock(uint32_t timeout, int waitAll, uint32_t wakeMask, int alertable);
  // Gives back each held member; a member whose give-back fails stays held. Always TRUE.
  int Unlock();

 private:
  void Rebuild();

  WaitableList objects_;
  void* handles_[kMaxWaitObjects] = {};  // handles_[i] is member i's handle.
  int held_[kMaxWaitObjects] = {};       // TRUE while member i is held.
};

}  // namespace vexil

#endif  // VEXIL_UNCALLED_SYNC_MULTI_OBJECT_LOCK_H_
