#include "uncalled/sync/waitable_list.h"

#include <algorithm>

#include "sync/check.h"

namespace vexil {

bool WaitableList::AppendAll(WaitableObject** objects, uint32_t count) {
  if (objects == nullptr || count > kMaxWaitObjects - size()) {
    CheckFailed();
    return false;
  }
  objects_.insert(objects_.end(), objects, objects + count);
  return true;
}

bool WaitableList::Append(WaitableObject* object) {
  if (size() >= kMaxWaitObjects) {
    CheckFailed();
    return false;
  }
  objects_.push_back(object);
  return true;
}

void WaitableList::RemoveAll(WaitableObject* object) {
  objects_.erase(std::remove(objects_.begin(), objects_.end(), object), objects_.end());
}

bool WaitableList::Contains(const WaitableObject* object) const {
  return std::find(objects_.begin(), objects_.end(), object) != objects_.end();
}

WaitableObject* WaitableList::CheckedAt(uint32_t index) const {
  if (index >= size()) {
    CheckFailed();
    return nullptr;
  }
  return objects_[index];
}

void WaitableList::FillHandles(void** handles) const {
  for (uint32_t i = 0; i < size(); ++i) {
    handles[i] = objects_[i] != nullptr ? objects_[i]->GetHandle() : nullptr;
    if (handles[i] == nullptr) CheckFailed();
  }
}

}  // namespace vexil
