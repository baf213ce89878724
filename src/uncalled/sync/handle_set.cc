#include "uncalled/sync/handle_set.h"

#include <algorithm>

#include "sync/win32.h"
#include "uncalled/sync/kernel_object.h"

namespace vexil {

int HandleSet::Add(void* h) {
  if (handles_.size() >= kMaxWaitObjects) return FALSE;
  if (std::find(handles_.begin(), handles_.end(), h) != handles_.end()) return FALSE;
  handles_.push_back(h);
  return TRUE;
}

int HandleSet::Remove(void* h) {
  const auto it = std::find(handles_.begin(), handles_.end(), h);
  if (it == handles_.end()) return FALSE;
  handles_.erase(it);
  return TRUE;
}

void* HandleSet::GetAt(uint32_t index) const {
  return index < handles_.size() ? handles_[index] : nullptr;
}

uint32_t HandleSet::Wait(int waitAll, uint32_t timeout) const {
  return ::WaitForMultipleObjects(GetCount(), handles_.data(), waitAll, timeout);
}

uint32_t HandleSet::WaitEx(int alertable, int waitAll, uint32_t timeout) const {
  return ::WaitForMultipleObjectsEx(GetCount(), handles_.data(), waitAll, timeout, alertable);
}

uint32_t HandleSet::MsgWait(int waitAll, uint32_t wakeMask, uint32_t timeout) const {
  return ::MsgWaitForMultipleObjects(GetCount(), handles_.data(), waitAll, timeout, wakeMask);
}

uint32_t HandleSet::MsgWaitEx(uint32_t flags, uint32_t wakeMask, uint32_t timeout) const {
  return ::MsgWaitForMultipleObjectsEx(GetCount(), handles_.data(), timeout, wakeMask, flags);
}

}  // namespace vexil
