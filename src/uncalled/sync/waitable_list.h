// Not called by the connector: kept because the system's design defines it among the kernel
// synchronisation classes, and kept working by tests/uncalled.
// The members of a multi-object wait: borrowed WaitableObject pointers in insertion order, at most
// kMaxWaitObjects of them. Destroying the list frees only the list. Windows build only.
#ifndef VEXIL_UNCALLED_SYNC_WAITABLE_LIST_H_
#define VEXIL_UNCALLED_SYNC_WAITABLE_LIST_H_

#include <cstdint>
#include <vector>

#include "uncalled/sync/waitable_object.h"

namespace vexil {

class WaitableList {
 public:
  WaitableList() = default;
  WaitableList(const WaitableList&) = delete;
  WaitableList& operator=(const WaitableList&) = delete;
  virtual ~WaitableList() = default;

  // Appends count objects in order. A null array, or more than kMaxWaitObjects in all, is a check
  // failure; if resumed, nothing is appended and the result is false.
  bool AppendAll(WaitableObject** objects, uint32_t count);
  // Appends one object; the list being full is a check failure (if resumed: false, no change).
  bool Append(WaitableObject* object);
  // Removes every occurrence.
  void RemoveAll(WaitableObject* object);
  bool Contains(const WaitableObject* object) const;

  uint32_t size() const { return static_cast<uint32_t>(objects_.size()); }
  WaitableObject* at(uint32_t index) const { return objects_[index]; }
  // The checked index of GetObjectAt: an index at or beyond the count is a check failure, and if
  // resumed the result is null.
  WaitableObject* CheckedAt(uint32_t index) const;
  // handles[i] = object i's handle; a null handle is a check failure. handles holds
  // kMaxWaitObjects entries.
  void FillHandles(void** handles) const;

 private:
  std::vector<WaitableObject*> objects_;  // Borrowed; members outlive the list.
};

}  // namespace vexil

#endif  // VEXIL_UNCALLED_SYNC_WAITABLE_LIST_H_
