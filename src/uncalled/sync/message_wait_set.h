// Not called by the connector: kept because the system's design defines it among the kernel
// synchronisation classes, and kept working by tests/uncalled.
// Waits on up to 64 WaitableObjects while staying responsive to the thread's window-message
// queue. Borrows its members; belongs to the thread that waits on it. Windows build only.
#ifndef VEXIL_UNCALLED_SYNC_MESSAGE_WAIT_SET_H_
#define VEXIL_UNCALLED_SYNC_MESSAGE_WAIT_SET_H_

#include <cstdint>

#include "uncalled/sync/waitable_list.h"

namespace vexil {

// Never used as a base class: it is final and so needs no virtual destructor.
class MessageWaitSet final {
 public:
  MessageWaitSet() = default;
  // Appends the objects in order (a null array or more than 64 is a check failure; if resumed,
  // the set starts empty). With waitNow: Wait(kInfinite, TRUE).
  MessageWaitSet(WaitableObject** objects, uint32_t count, int waitNow);
  MessageWaitSet(const MessageWaitSet&) = delete;
  MessageWaitSet& operator=(const MessageWaitSet&) = delete;

  // An object that is not open, or is already present, is a check failure; if resumed, it is
  // appended anyway (unless the set is full, itself a check failure).
  void Add(WaitableObject* object);
  // An object that is not open, or is absent, is a check failure; every occurrence is removed.
  void Remove(WaitableObject* object);

  uint32_t GetCount() const { return objects_.size(); }
  // An index at or beyond the count is a check failure; if resumed, null.
  WaitableObject* GetObjectAt(uint32_t index) const { return objects_.CheckedAt(index); }

  // Any one member, or any input except raw input (wake mask 0xFF): result GetCount() when input
  // is waiting in the thread's queue. Never waits for all members.
  virtual uint32_t Wait(uint32_t timeout, int alertable);

 private:
  WaitableList objects_;
  void* handles_[kMaxWaitObjects] = {};  // handles_[i] is member i's handle.
};

}  // namespace vexil

#endif  // VEXIL_UNCALLED_SYNC_MESSAGE_WAIT_SET_H_
