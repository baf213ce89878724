// Not called by the connector: kept because the system's design defines it among the kernel
// synchronisation classes, and kept working by tests/uncalled.
// The base of the kernel synchronisation classes: WaitableBase (anything with a waitable handle)
// and KernelObject (owns one kernel handle). Windows build only; handles are void* so that
// <windows.h> stays out of this header.
#ifndef VEXIL_UNCALLED_SYNC_KERNEL_OBJECT_H_
#define VEXIL_UNCALLED_SYNC_KERNEL_OBJECT_H_

#include <cstdint>

#include "sync/wait_result.h"

namespace vexil {

class WaitableBase {
 public:
  virtual ~WaitableBase() = default;
  virtual void* GetHandle() const = 0;

  // Waits on {this object's handle, other}: result 0 (or 0x80) is this object, 1 (or 0x81) the
  // other handle; the system's result is returned unchanged.
  uint32_t WaitWith(void* other, int waitAll, uint32_t timeout);
  uint32_t WaitWithEx(int alertable, void* other, int waitAll, uint32_t timeout);
  // Signals toSignal and waits on toWaitOn in one step. A null object is a check failure; if
  // resumed, kWaitFailed with the last error ERROR_INVALID_HANDLE.
  static uint32_t SignalAndWait(WaitableBase* toSignal, WaitableBase* toWaitOn, uint32_t timeout,
                                int alertable);
};

// Owns its handle and closes it when destroyed (a failed close is a check failure) unless Detach
// handed it away. Null while nothing is open.
class KernelObject : public WaitableBase {
 public:
  KernelObject() = default;
  KernelObject(const KernelObject&) = delete;
  KernelObject& operator=(const KernelObject&) = delete;
  ~KernelObject() override;

  void* GetHandle() const override { return handle_; }

  // TRUE when object is not null and has a handle: the test behind every "is open" check.
  static int IsOpen(const KernelObject* object);
  // TRUE when the handle is neither null nor INVALID_HANDLE_VALUE. Static so that asking about a
  // null object is a check failure (then FALSE) rather than a call through a null pointer.
  static int IsValid(const KernelObject* object);
  // Gives the handle to the caller, who must close it; the object is closed afterwards.
  void* Detach();

  // The system's result unchanged; a closed object gives kWaitFailed.
  uint32_t Wait(uint32_t timeout);
  uint32_t WaitEx(int alertable, uint32_t timeout);

 protected:
  // For the subclasses that create or open the handle; the object then owns it.
  void set_handle(void* handle) { handle_ = handle; }
  // Creating and opening constructors: stores the new handle; a null one is a check failure, with
  // the system call's last error left standing.
  void AdoptNew(void* handle);
  // First step of the two-phase Create/Open: TRUE when nothing is open. An open object is a check
  // failure; if resumed, the last error becomes ERROR_ALREADY_INITIALIZED and the result FALSE.
  int CheckClosed();
  // Last step of Create/Open: stores the handle; FALSE (the system's last error standing) if null.
  int AdoptOpened(void* handle);

 private:
  void* handle_ = nullptr;
};

}  // namespace vexil

#endif  // VEXIL_UNCALLED_SYNC_KERNEL_OBJECT_H_
