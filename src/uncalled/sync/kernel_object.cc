#include "uncalled/sync/kernel_object.h"

#include "sync/check.h"
#include "sync/last_error.h"
#include "sync/win32.h"

namespace vexil {

uint32_t WaitableBase::WaitWith(void* other, int waitAll, uint32_t timeout) {
  HANDLE hdls[2] = {GetHandle(), other};
  return ::WaitForMultipleObjects(2, hdls, waitAll, timeout);
}

uint32_t WaitableBase::WaitWithEx(int alertable, void* other, int waitAll, uint32_t timeout) {
  HANDLE hdls[2] = {GetHandle(), other};
  return ::WaitForMultipleObjectsEx(2, hdls, waitAll, timeout, alertable);
}

uint32_t WaitableBase::SignalAndWait(WaitableBase* toSignal, WaitableBase* toWaitOn,
                                     uint32_t timeout, int alertable) {
  if (toSignal == nullptr || toWaitOn == nullptr) {
    CheckFailed();
    ::SetLastError(ERROR_INVALID_HANDLE);
    return kWaitFailed;
  }
  return ::SignalObjectAndWait(toSignal->GetHandle(), toWaitOn->GetHandle(), timeout, alertable);
}

KernelObject::~KernelObject() {
  if (handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE) {
    if (!::CloseHandle(handle_)) CheckFailed();
  }
  handle_ = nullptr;
}

int KernelObject::IsOpen(const KernelObject* object) {
  return object != nullptr && object->handle_ != nullptr;
}

int KernelObject::IsValid(const KernelObject* object) {
  if (object == nullptr) {
    CheckFailed();
    return FALSE;
  }
  return object->handle_ != nullptr && object->handle_ != INVALID_HANDLE_VALUE;
}

void KernelObject::AdoptNew(void* handle) {
  handle_ = handle;
  if (!IsOpen(this)) CheckFailed();
}

int KernelObject::CheckClosed() {
  if (!IsOpen(this)) return TRUE;
  CheckFailed();
  ::SetLastError(kErrorAlreadyInitialized);
  return FALSE;
}

int KernelObject::AdoptOpened(void* handle) {
  handle_ = handle;
  return IsOpen(this);
}

void* KernelObject::Detach() {
  void* handle = handle_;
  handle_ = nullptr;
  return handle;
}

uint32_t KernelObject::Wait(uint32_t timeout) { return ::WaitForSingleObject(handle_, timeout); }

uint32_t KernelObject::WaitEx(int alertable, uint32_t timeout) {
  return ::WaitForSingleObjectEx(handle_, timeout, alertable);
}

}  // namespace vexil
