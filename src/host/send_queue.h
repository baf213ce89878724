// Encoded messages waiting for the worker, oldest first. Any thread pushes; the worker pops.
#ifndef VEXIL_HOST_SEND_QUEUE_H_
#define VEXIL_HOST_SEND_QUEUE_H_

#include <list>
#include <memory>

#include "sync/critical_section.h"
#include "sync/lockable.h"
#include "util/buffer_ptr.h"

namespace vexil {

class SendQueue final : public Lockable {
 public:
  SendQueue() = default;
  SendQueue(const SendQueue&) = delete;
  SendQueue& operator=(const SendQueue&) = delete;
  ~SendQueue() = default;

  void Lock() override { lock_.Enter(); }
  void Unlock() override { lock_.Leave(); }

  using Batch = std::list<std::unique_ptr<BufferPtr>>;

  // Appends a reference to buffer's bytes; the caller may release its own holder at once. True
  // when the queue was empty before: only then need the consumer be woken, because a consumer
  // that takes the batch after this push takes this buffer with it.
  bool Push(const BufferPtr& buffer);
  // Moves every queued buffer, oldest first, to the end of *batch; the queue is empty after.
  void TakeAll(Batch* batch);
  // Drops every queued buffer.
  void Clear();

 private:
  CriticalSection lock_;
  Batch list_;  // Guarded by lock_.
};

}  // namespace vexil

#endif  // VEXIL_HOST_SEND_QUEUE_H_
