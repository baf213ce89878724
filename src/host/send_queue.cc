#include "host/send_queue.h"

#include <utility>

#include "sync/scoped_lock.h"

namespace vexil {

void SendQueue::Push(const BufferPtr& buffer) {
  auto reference = std::make_unique<BufferPtr>(buffer);
  ScopedLock<SendQueue> guard(this, true);
  list_.push_back(std::move(reference));
}

bool SendQueue::Pop(std::unique_ptr<BufferPtr>* buffer) {
  ScopedLock<SendQueue> guard(this, true);
  if (list_.empty()) return false;
  *buffer = std::move(list_.front());
  list_.pop_front();
  return true;
}

void SendQueue::Clear() {
  std::list<std::unique_ptr<BufferPtr>> dropped;
  ScopedLock<SendQueue> guard(this, true);
  dropped.swap(list_);
}

}  // namespace vexil
