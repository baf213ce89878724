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

  // Appends a reference to buffer's bytes; the caller may release its own holder at once.
  void Push(const BufferPtr& buffer);
  // Moves the oldest buffer into *buffer; false when the queue is empty.
  bool Pop(std::unique_ptr<BufferPtr>* buffer);
  // Drops every queued buffer.
  void Clear();

 private:
  CriticalSection lock_;
  std::list<std::unique_ptr<BufferPtr>> list_;  // Guarded by lock_.
};

}  // namespace vexil

#endif  // VEXIL_HOST_SEND_QUEUE_H_
