#include "host/send_queue.h"

#include "orvel/frame.h"
#include "sync/check.h"
#include "sync/scoped_lock.h"

namespace vexil {

SendQueue::PushResult SendQueue::PushReply(const ConnectorMsg& message, bool wake) {
  ScopedLock<SendQueue> guard(this, true);
  if (!Allows(Takes::kReplies)) return PushResult::kRefused;
  const bool was_empty = chunks_.empty();
  BufferPtr& tail = Tail(chunks_);
  const unsigned before = tail.Size();
  // No message field refuses a value.
  if (!WriteFrame(tail, message)) CheckFailed();
  return Queued(was_empty, wake, tail.Size() - before);
}

SendQueue::PushResult SendQueue::PushWarning(const WarningRef& warning, uint64_t frame_length,
                                             bool wake) {
  return PushCounted(Takes::kEverything, ConnectorTag::kWarning, warning, frame_length, wake);
}

SendQueue::PushResult SendQueue::Queued(bool was_empty, bool wake, uint64_t bytes) {
  ++queued_.frames;
  queued_bytes_.fetch_add(bytes, std::memory_order_relaxed);
  if (!was_empty) return PushResult::kQueued;
  if (wake && wake_ != nullptr) wake_->Set();
  return PushResult::kQueuedFirst;
}

void SendQueue::Open() {
  ScopedLock<SendQueue> guard(this, true);
  if (takes_ != Takes::kNothing) takes_ = Takes::kEverything;
}

uint64_t SendQueue::Close() {
  SendBufferList dropped;
  dropped.swap(staged_);
  ScopedLock<SendQueue> guard(this, true);
  dropped.splice(dropped.end(), chunks_);
  if (takes_ != Takes::kNothing) takes_ = Takes::kReplies;
  return Forget();
}

void SendQueue::Stop() {
  ScopedLock<SendQueue> guard(this, true);
  takes_ = Takes::kNothing;
  wake_ = nullptr;
}

uint64_t SendQueue::Clear() {
  SendBufferList dropped;
  dropped.swap(staged_);
  ScopedLock<SendQueue> guard(this, true);
  dropped.splice(dropped.end(), chunks_);
  return Forget();
}

uint64_t SendQueue::Forget() {
  const uint64_t warnings = queued_.warnings;
  queued_ = Taken();
  staged_frames_ = 0;
  staged_bytes_ = 0;
  queued_bytes_.store(0, std::memory_order_relaxed);
  return warnings;
}

void SendQueue::Flush() {
  if (staged_.empty()) return;
  SendBufferList dropped;
  ScopedLock<SendQueue> guard(this, true);
  if (takes_ == Takes::kNothing) {
    dropped.splice(dropped.end(), staged_);
    queued_bytes_.fetch_sub(staged_bytes_, std::memory_order_relaxed);
  } else {
    chunks_.splice(chunks_.end(), staged_);
    queued_.frames += staged_frames_;
  }
  staged_frames_ = 0;
  staged_bytes_ = 0;
}

SendQueue::Taken SendQueue::TakeAll(SendBufferList* batch) {
  Flush();
  ScopedLock<SendQueue> guard(this, true);
  batch->splice(batch->end(), chunks_);
  const Taken taken = queued_;
  queued_ = Taken();
  queued_bytes_.store(0, std::memory_order_relaxed);
  return taken;
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
