// Not called by the connector: kept because the system's design defines it among the kernel
// synchronisation classes, and kept working by tests/uncalled.
// Up to 64 distinct raw kernel handles, borrowed (never closed here), in insertion order, and the
// waits over them. Belongs to the thread that waits on it. Windows build only.
#ifndef VEXIL_UNCALLED_SYNC_HANDLE_SET_H_
#define VEXIL_UNCALLED_SYNC_HANDLE_SET_H_

#include <cstdint>
#include <vector>

namespace vexil {

class HandleSet {
 public:
  // FALSE when the set is full or already holds h.
  int Add(void* h);
  // Removes h; FALSE when absent.
  int Remove(void* h);

  // The contiguous array the waits pass.
  void* const* GetHandles() const { return handles_.data(); }
  uint32_t GetCount() const { return static_cast<uint32_t>(handles_.size()); }
  // Null for an index at or beyond the count.
  void* GetAt(uint32_t index) const;

  // The system's results unchanged (see kernel_object.h); the Msg forms return GetCount() when
  // input of the requested kinds is waiting. flags are the system's MWMO_ bits.
  uint32_t Wait(int waitAll, uint32_t timeout) const;
  uint32_t WaitEx(int alertable, int waitAll, uint32_t timeout) const;
  uint32_t MsgWait(int waitAll, uint32_t wakeMask, uint32_t timeout) const;
  uint32_t MsgWaitEx(uint32_t flags, uint32_t wakeMask, uint32_t timeout) const;

 private:
  std::vector<void*> handles_;
};

}  // namespace vexil

#endif  // VEXIL_UNCALLED_SYNC_HANDLE_SET_H_
