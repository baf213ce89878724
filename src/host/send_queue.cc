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
  if (!WriteFrame(Tail(), message)) CheckFailed();
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
  ScopedLock<SendQueue> guard(this, true);
  dropped.swap(chunks_);
  if (takes_ != Takes::kNothing) takes_ = Takes::kReplies;
}

void SendQueue::Stop() {
  ScopedLock<SendQueue> guard(this, true);
  takes_ = Takes::kNothing;
  wake_ = nullptr;
}

void SendQueue::Clear() {
  SendBufferList dropped;
  ScopedLock<SendQueue> guard(this, true);
  dropped.swap(chunks_);
}

void SendQueue::TakeAll(SendBufferList* batch) {
  ScopedLock<SendQueue> guard(this, true);
  batch->splice(batch->end(), chunks_);
}

BufferPtr& SendQueue::Tail() {
  if (chunks_.empty() || chunks_.back().Size() > kChunkBytes - FieldWriter::kFirstChunk) {
    // Made aside and spliced in, so that a failure to allocate leaves the queue as it was.
    SendBufferList fresh;
    fresh.emplace_back();
    fresh.back().Reserve(kChunkBytes);
    chunks_.splice(chunks_.end(), fresh);
  }
  return chunks_.back();
}

}  // namespace vexil
