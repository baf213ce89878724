// Encoded frames waiting for the worker, oldest first. Any thread pushes; the worker takes.
//
// Frames are written straight into chunks of kChunkBytes, which go to the socket's send list as
// they are: a queued frame costs its own bytes and, most of the time, no allocation of its own,
// and the worker hands the system a few chunks rather than one buffer per frame.
//
// The queue also decides what it takes, under its one lock, so that a warning needs no other: it
// starts closed (replies only), is opened for warnings while a connection is registered, and
// stopped for good (nothing) when the connector stops.
//
// The queue is its own lock (GUARDED_BY(this)), never re-entered: its public calls take it
// themselves and exclude it.
#ifndef VEXIL_HOST_SEND_QUEUE_H_
#define VEXIL_HOST_SEND_QUEUE_H_

#include <atomic>
#include <cstdint>

#include "net/transfer.h"
#include "orvel/frame.h"
#include "orvel/messages.h"
#include "sync/check.h"
#include "sync/critical_section.h"
#include "sync/lockable.h"
#include "sync/scoped_lock.h"
#include "sync/signal_event.h"
#include "sync/thread_annotations.h"
#include "util/buffer_ptr.h"

namespace vexil {

class SendQueue final : public Lockable {
 public:
  // A new chunk's room. A chunk takes frames while at least FieldWriter::kFirstChunk bytes of it
  // are free, so a frame up to that size never makes it grow.
  static constexpr unsigned kChunkBytes = 4096;

  enum class PushResult {
    kRefused,  // not taken: stopped, or a warning while closed
    kQueued,   // taken behind frames already queued
    // Taken into an empty queue: only then need the consumer be woken, because a consumer that
    // takes the batch after a push takes its frame with it.
    kQueuedFirst,
  };

  // What a TakeAll took: its frames, and the warnings among them.
  struct Taken {
    uint64_t frames = 0;
    uint64_t warnings = 0;
  };

  // wake (null: none) is set by a push that asks for it and finds the queue empty, before the
  // push lets the lock go: once Stop has returned, no push touches it again.
  explicit SendQueue(SignalEvent* wake) : wake_(wake) {}
  SendQueue(const SendQueue&) = delete;
  SendQueue& operator=(const SendQueue&) = delete;
  ~SendQueue() = default;

  void Lock() override ACQUIRE() { lock_.Enter(); }
  void Unlock() override RELEASE() { lock_.Leave(); }

  // Appends the frame of a reply; refused only once stopped. With wake, sets the wake event when
  // the queue was empty. An allocation failure while writing can leave part of the frame queued:
  // the caller must then Clear or Close the queue before anything is taken (the worker drops its
  // connection and does).
  PushResult PushReply(const ConnectorMsg& message, bool wake) EXCLUDES(this);
  // The same for a reply body under its tag, without a message value around it, frame_length
  // bytes long as the caller counted it. An allocation failure leaves the queue as it was.
  template <typename Body>
  PushResult PushReply(ConnectorTag tag, const Body& body, uint64_t frame_length, bool wake)
      EXCLUDES(this) {
    return PushCounted(Takes::kReplies, tag, body, frame_length, wake);
  }
  // Appends the frame of a warning, frame_length bytes long as the caller counted it; refused
  // unless open. With wake, as above. An allocation failure leaves the queue as it was.
  PushResult PushWarning(const WarningRef& warning, uint64_t frame_length, bool wake)
      EXCLUDES(this);
  // The consumer's own replies, staged without the lock and taken by its next TakeAll behind what
  // is queued: one lock per batch of replies rather than one per reply. Consumer's thread only,
  // which must Flush before it pushes anything itself, so that its own frames keep their order.
  template <typename Body>
  void Stage(ConnectorTag tag, const Body& body, uint64_t frame_length);
  // Appends the staged frames behind everything queued (dropped when stopped). Consumer only.
  void Flush() EXCLUDES(this);
  // Warnings are taken from now on, unless stopped.
  void Open() EXCLUDES(this);
  // Drops every queued frame, staged ones included; only replies are taken from now on, unless
  // stopped. On the consumer's thread, or once it has ended. Returns the warnings dropped.
  uint64_t Close() EXCLUDES(this);
  // Nothing is taken from now on; what is queued stays until Clear.
  void Stop() EXCLUDES(this);
  // Drops every queued frame, staged ones included. As Close.
  uint64_t Clear() EXCLUDES(this);
  // Moves every queued chunk, oldest first, then the staged ones (dropped when stopped), to the
  // end of *batch; the queue is empty after. Consumer only.
  Taken TakeAll(SendBufferList* batch) EXCLUDES(this);
  // The bytes of the frames queued and staged now; any thread, without the lock.
  uint64_t QueuedBytes() const { return queued_bytes_.load(std::memory_order_relaxed); }

 private:
  enum class Takes { kReplies, kEverything, kNothing };

  // Whether a push that needs the queue to take what needs stands.
  bool Allows(Takes needs) const REQUIRES(this) {
    return needs == Takes::kReplies ? takes_ != Takes::kNothing : takes_ == Takes::kEverything;
  }
  // The pushes of frames whose length the caller counted.
  template <typename Body>
  PushResult PushCounted(Takes needs, ConnectorTag tag, const Body& body, uint64_t frame_length,
                         bool wake) EXCLUDES(this);
  // The chunk of list the next frame goes into, a new one when the last has too little room left.
  static BufferPtr& Tail(SendBufferList& list);
  // Writes the frame of body under tag, longer than the writer's first reservation, aside, where
  // a failure to grow cannot leave part of it in list, and appends it to list in a copy of exactly
  // its size, a chunk of its own.
  template <typename Body>
  static void AppendAside(SendBufferList& list, ConnectorTag tag, const Body& body);
  // The result of a push of one frame of bytes just taken into a queue that was_empty; sets wake_
  // when asked to.
  PushResult Queued(bool was_empty, bool wake, uint64_t bytes) REQUIRES(this);
  // Forgets the counts of every queued and staged frame; the warnings among them. By the consumer
  // or once it has ended.
  uint64_t Forget() REQUIRES(this);

  CriticalSection lock_;
  SignalEvent* wake_ GUARDED_BY(this);  // Not owned; only used before Stop.
  SendBufferList chunks_ GUARDED_BY(this);
  SendBufferList staged_;  // The consumer's; see Stage.
  Takes takes_ GUARDED_BY(this) = Takes::kReplies;
  Taken queued_ GUARDED_BY(this);  // The frames in chunks_.
  uint64_t staged_frames_ = 0;     // The consumer's: the frames in staged_.
  uint64_t staged_bytes_ = 0;      // The consumer's: their bytes.
  // The bytes in chunks_ and staged_. Written under the lock (staged_'s part by the consumer).
  std::atomic<uint64_t> queued_bytes_{0};
};

template <typename Body>
void SendQueue::AppendAside(SendBufferList& list, ConnectorTag tag, const Body& body) {
  BufferPtr written;
  WriteFrame(written, tag, body);
  SendBufferList chunk;
  chunk.emplace_back(written);
  list.splice(list.end(), chunk);
}

template <typename Body>
SendQueue::PushResult SendQueue::PushCounted(Takes needs, ConnectorTag tag, const Body& body,
                                             uint64_t frame_length, bool wake) {
  // Written before the lock is taken, so that threads pushing at once wait for one another only
  // while the frame is moved in.
  if (frame_length > FieldWriter::kFirstChunk) {
    SendBufferList written;
    AppendAside(written, tag, body);
    ScopedLock<SendQueue> guard(this, true);
    if (!Allows(needs)) return PushResult::kRefused;
    const bool was_empty = chunks_.empty();
    const uint64_t bytes = written.front().Size();
    chunks_.splice(chunks_.end(), written);
    if (tag == ConnectorTag::kWarning) ++queued_.warnings;
    return Queued(was_empty, wake, bytes);
  }
  uint8_t frame[FieldWriter::kFirstChunk];
  const auto length = static_cast<uint32_t>(frame_length);
  if (!WriteFrameInto(frame, length, tag, body)) {
    CheckFailed();
    return PushResult::kRefused;
  }
  ScopedLock<SendQueue> guard(this, true);
  if (!Allows(needs)) return PushResult::kRefused;
  const bool was_empty = chunks_.empty();
  // The tail has the room unless it is a longer frame's chunk; a failure to grow it appends
  // nothing.
  Tail(chunks_).Append(frame, length);
  if (tag == ConnectorTag::kWarning) ++queued_.warnings;
  return Queued(was_empty, wake, length);
}

template <typename Body>
void SendQueue::Stage(ConnectorTag tag, const Body& body, uint64_t frame_length) {
  if (frame_length > FieldWriter::kFirstChunk) {
    AppendAside(staged_, tag, body);
    ++staged_frames_;
    staged_bytes_ += staged_.back().Size();
    queued_bytes_.fetch_add(staged_.back().Size(), std::memory_order_relaxed);
    return;
  }
  uint8_t frame[FieldWriter::kFirstChunk];
  const auto length = static_cast<uint32_t>(frame_length);
  if (!WriteFrameInto(frame, length, tag, body)) {
    CheckFailed();
    return;
  }
  Tail(staged_).Append(frame, length);
  ++staged_frames_;
  staged_bytes_ += length;
  queued_bytes_.fetch_add(length, std::memory_order_relaxed);
}

}  // namespace vexil

#endif  // VEXIL_HOST_SEND_QUEUE_H_
