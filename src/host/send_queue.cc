#include "host/send_queue.h"

#include "orvel/frame.h"
#include "sync/check.h"
#include "sync/scoped_lock.h"

namespace vexil {

SendQueue::PushResult SendQueue::PushReply(const ConnectorMsg& message, bool wake) {
  ScopedLock<SendQueue> guard(this, true);
  if (!Allows(Takes::kReplies)) return PushResult::kRefused;
  const bool was_empty = chunks_.empty();
  // No message field refuses a value.
  if (!WriteFrame(Tail(chunks_), message)) CheckFailed();
  return Queued(was_empty, wake);
}

SendQueue::PushResult SendQueue::PushWarning(const WarningRef& warning, uint64_t frame_length,
                                             bool wake) {
  return PushCounted(Takes::kEverything, ConnectorTag::kWarning, warning, frame_length, wake);
}

SendQueue::PushResult SendQueue::Queued(bool was_empty, bool wake) {
  if (!was_empty) return PushResult::kQueued;
  if (wake && wake_ != nullptr) wake_->Set();
  return PushResult::kQueuedFirst;
}

void SendQueue::Open() {
  ScopedLock<SendQueue> guard(this, true);
  if (takes_ != Takes::kNothing) takes_ = Takes::kEverything;
}

void SendQueue::Close() {
  SendBufferList dropped;
  dropped.swap(staged_);
  ScopedLock<SendQueue> guard(this, true);
  dropped.splice(dropped.end(), chunks_);
  if (takes_ != Takes::kNothing) takes_ = Takes::kReplies;
}

void SendQueue::Stop() {
  ScopedLock<SendQueue> guard(this, true);
  takes_ = Takes::kNothing;
  wake_ = nullptr;
}

void SendQueue::Clear() {
  SendBufferList dropped;
  dropped.swap(staged_);
  ScopedLock<SendQueue> guard(this, true);
  dropped.splice(dropped.end(), chunks_);
}

void SendQueue::Flush() {
  if (staged_.empty()) return;
  SendBufferList dropped;
  ScopedLock<SendQueue> guard(this, true);
  SendBufferList& into = takes_ == Takes::kNothing ? dropped : chunks_;
  into.splice(into.end(), staged_);
}

void SendQueue::TakeAll(SendBufferList* batch) {
  Flush();
  ScopedLock<SendQueue> guard(this, true);
  batch->splice(batch->end(), chunks_);
}

BufferPtr& SendQueue::Tail(SendBufferList& list) {
  if (list.empty() || list.back().Size() > kChunkBytes - FieldWriter::kFirstChunk) {
    // Made aside and spliced in, so that a failure to allocate leaves the list as it was.
    SendBufferList fresh;
    fresh.emplace_back();
    fresh.back().Reserve(kChunkBytes);
    list.splice(list.end(), fresh);
  }
  return list.back();
}

}  // namespace vexil
