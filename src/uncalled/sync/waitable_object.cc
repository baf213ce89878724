#include "uncalled/sync/waitable_object.h"

#include "sync/check.h"
#include "sync/win32.h"

namespace vexil {

int WaitableObject::Lock(uint32_t timeout) {
  if (!IsOpen(this)) CheckFailed();
  const DWORD r = ::WaitForSingleObject(GetHandle(), timeout);
  return r == WAIT_OBJECT_0 || r == WAIT_ABANDONED;
}

}  // namespace vexil
