#include "host/send_queue.h"

#include "orvel/frame.h"
#include "sync/check.h"
#include "sync/scoped_lock.h"

namespace vexil {

SendQueue::PushResult SendQueue::PushReply(const ConnectorMsg& message, bool wake) {
  return PushReplyWith([&message](BufferPtr& chunk) { return WriteFrame(chunk, message); }, wake);
}

SendQueue::PushResult SendQueue::PushWarning(const WarningRef& warning, uint64_t frame_length,
                                             bool wake) {
  if (frame_length <= FieldWriter::kFirstChunk) {
    // Written in place: the writer's first reservation is all it needs and the tail has that
    // room, so nothing can fail once the first byte is written.
    ScopedLock<SendQueue> guard(this, true);
    if (takes_ != Takes::kEverything) return PushResult::kRefused;
    const bool was_empty = chunks_.empty();
    WriteFrame(Tail(), ConnectorTag::kWarning, warning);
    return Queued(was_empty, wake);
  }
  // A longer frame is written aside, where a failure to grow cannot leave part of it queued, and
  // kept in a copy of exactly its size, a chunk of its own.
  BufferPtr written;
  WriteFrame(written, ConnectorTag::kWarning, warning);
  SendBufferList chunk;
  chunk.emplace_back(written);
  ScopedLock<SendQueue> guard(this, true);
  if (takes_ != Takes::kEverything) return PushResult::kRefused;
  const bool was_empty = chunks_.empty();
  chunks_.splice(chunks_.end(), chunk);
  return Queued(was_empty, wake);
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
