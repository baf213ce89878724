#include "uncalled/sync/message_wait_set.h"

#include "sync/check.h"
#include "sync/win32.h"

namespace vexil {
namespace {
// Key, mouse move, mouse button, posted message, timer, paint, sent message, hot key.
constexpr DWORD kAllInputButRaw = 0xFF;
}  // namespace

MessageWaitSet::MessageWaitSet(WaitableObject** objects, uint32_t count, int waitNow) {
  objects_.AppendAll(objects, count);
  objects_.FillHandles(handles_);
  if (waitNow) Wait(kInfinite, TRUE);
}

void MessageWaitSet::Add(WaitableObject* object) {
  if (!KernelObject::IsOpen(object)) CheckFailed();
  if (objects_.Contains(object)) CheckFailed();
  if (!objects_.Append(object)) return;
  objects_.FillHandles(handles_);
}

void MessageWaitSet::Remove(WaitableObject* object) {
  if (!KernelObject::IsOpen(object)) CheckFailed();
  if (!objects_.Contains(object)) CheckFailed();
  objects_.RemoveAll(object);
  objects_.FillHandles(handles_);
}

uint32_t MessageWaitSet::Wait(uint32_t timeout, int alertable) {
  return ::MsgWaitForMultipleObjectsEx(GetCount(), handles_, timeout, kAllInputButRaw,
                                       alertable ? MWMO_ALERTABLE : 0);
}

}  // namespace vexil
