#include "sync/ordered_wait.h"

#include "sync/win32.h"

namespace vexil {

uint32_t WaitForFirst(const WaitSource* sources, uint32_t count, uint32_t timeout) {
  if (sources == nullptr || count == 0 || count > kMaxWaitObjects) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return kWaitFailed;
  }
  HANDLE handles[kMaxWaitObjects];
  for (uint32_t i = 0; i < count; ++i) handles[i] = reinterpret_cast<HANDLE>(sources[i].native);
  // The system reports the lowest signalled index, the order this wait promises.
  const DWORD result = ::WaitForMultipleObjects(count, handles, FALSE, timeout);
  if (result < WAIT_OBJECT_0 + count || result == WAIT_TIMEOUT) return result;
  return kWaitFailed;
}

}  // namespace vexil
