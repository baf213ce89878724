#include "host/send_queue.h"

#include <utility>

#include "sync/scoped_lock.h"

namespace vexil {

bool SendQueue::Push(const BufferPtr& buffer) {
  auto reference = std::make_unique<BufferPtr>(buffer);
  ScopedLock<SendQueue> guard(this, true);
  const bool was_empty = list_.empty();
  list_.push_back(std::move(reference));
  return was_empty;
}

void SendQueue::TakeAll(Batch* batch) {
  ScopedLock<SendQueue> guard(this, true);
  batch->splice(batch->end(), list_);
}

void SendQueue::Clear() {
  Batch dropped;
  ScopedLock<SendQueue> guard(this, true);
  dropped.swap(list_);
}

}  // namespace vexil
