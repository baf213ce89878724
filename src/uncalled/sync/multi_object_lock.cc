#include "uncalled/sync/multi_object_lock.h"

#include "sync/check.h"
#include "sync/win32.h"

namespace vexil {

MultiObjectLock::MultiObjectLock(WaitableObject** objects, uint32_t count, int lockNow) {
  objects_.AppendAll(objects, count);
  Rebuild();
  if (lockNow) Lock(kInfinite, FALSE, 0, TRUE);
}

int MultiObjectLock::Add(WaitableObject* object) {
  if (objects_.Contains(object)) {
    CheckFailed();
    return FALSE;
  }
  if (!objects_.Append(object)) return FALSE;
  Rebuild();
  return TRUE;
}

int MultiObjectLock::Remove(WaitableObject* object) {
  if (!objects_.Contains(object)) {
    CheckFailed();
    return FALSE;
  }
  objects_.RemoveAll(object);
  Rebuild();
  return TRUE;
}

int MultiObjectLock::IsLocked(uint32_t index) const {
  if (index >= GetCount()) {
    CheckFailed();
    return FALSE;
  }
  return held_[index];
}

uint32_t MultiObjectLock::Lock(uint32_t timeout, int waitAll, uint32_t wakeMask, int alertable) {
  const DWORD count = GetCount();
  DWORD r;
  if (wakeMask == 0) {
    r = ::WaitForMultipleObjectsEx(count, handles_, waitAll, timeout, alertable);
  } else {
    const DWORD flags = (waitAll ? MWMO_WAITALL : 0) | (alertable ? MWMO_ALERTABLE : 0);
    r = ::MsgWaitForMultipleObjectsEx(count, handles_, timeout, wakeMask, flags);
  }
  if (r < count) {
    if (waitAll) {
      for (DWORD i = 0; i < count; ++i) held_[i] = TRUE;
    } else {
      held_[r] = TRUE;
    }
  }
  return r;
}

int MultiObjectLock::Unlock() {
  for (uint32_t i = 0; i < GetCount(); ++i) {
    if (held_[i]) held_[i] = !objects_.at(i)->Unlock();
  }
  return TRUE;
}

void MultiObjectLock::Rebuild() {
  objects_.FillHandles(handles_);
  for (int& held : held_) held = FALSE;
}

}  // namespace vexil
