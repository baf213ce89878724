// Encoded frames waiting for the worker, oldest first. Any thread pushes; the worker takes.
//
// Frames are written straight into chunks of kChunkBytes, which go to the socket's send list as
// they are: a queued frame costs its own bytes and, most of the time, no allocation of its own,
// and the worker hands the system a few chunks rather than one buffer per frame.
//
// The queue also decides what it takes, under its one lock, so that a warning needs no other: it
// starts closed (replies only), is opened for warnings while a connection is registered, and
// stopped for good (nothing) when the connector stops.
#ifndef VEXIL_HOST_SEND_QUEUE_H_
#define VEXIL_HOST_SEND_QUEUE_H_

#include <cstdint>

#include "net/transfer.h"
#include "orvel/frame.h"
#include "orvel/messages.h"
#include "sync/check.h"
#include "sync/critical_section.h"
#include "sync/lockable.h"
#include "sync/scoped_lock.h"
#include "sync/signal_event.h"
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

  // wake (null: none) is set by a push that asks for it and finds the queue empty, before the
  // push lets the lock go: once Stop has returned, no push touches it again.
  explicit SendQueue(SignalEvent* wake) : wake_(wake) {}
  SendQueue(const SendQueue&) = delete;
  SendQueue& operator=(const SendQueue&) = delete;
  ~SendQueue() = default;

  void Lock() override { lock_.Enter(); }
  void Unlock() override { lock_.Leave(); }

  // Appends the frame of a reply; refused only once stopped. With wake, sets the wake event when
  // the queue was empty. An allocation failure while writing can leave part of the frame queued:
  // the caller must then Clear or Close the queue before anything is taken (the worker drops its
  // connection and does).
  PushResult PushReply(const ConnectorMsg& message, bool wake);
  // The same for a reply body under its tag, without a message value around it, frame_length
  // bytes long as the caller counted it. An allocation failure leaves the queue as it was.
  template <typename Body>
  PushResult PushReply(ConnectorTag tag, const Body& body, uint64_t frame_length, bool wake) {
    return PushCounted(Takes::kReplies, tag, body, frame_length, wake);
  }
  // Appends the frame of a warning, frame_length bytes long as the caller counted it; refused
  // unless open. With wake, as above. An allocation failure leaves the queue as it was.
  PushResult PushWarning(const WarningRef& warning, uint64_t frame_length, bool wake);
  // Warnings are taken from now on, unless stopped.
  void Open();
  // Drops every queued frame; only replies are taken from now on, unless stopped.
  void Close();
  // Nothing is taken from now on; what is queued stays until Clear.
  void Stop();
  // Drops every queued frame.
  void Clear();
  // Moves every queued chunk, oldest first, to the end of *batch; the queue is empty after.
  void TakeAll(SendBufferList* batch);

 private:
  enum class Takes { kReplies, kEverything, kNothing };

  // Whether a push that needs the queue to take what needs stands. Under lock_.
  bool Allows(Takes needs) const {
    return needs == Takes::kReplies ? takes_ != Takes::kNothing : takes_ == Takes::kEverything;
  }
  // The pushes of frames whose length the caller counted.
  template <typename Body>
  PushResult PushCounted(Takes needs, ConnectorTag tag, const Body& body, uint64_t frame_length,
                         bool wake);
  // The chunk the next frame goes into, a new one when the last has too little room left. Under
  // lock_.
  BufferPtr& Tail();
  // The result of a push just taken into a queue that was_empty; sets wake_ when asked to. Under
  // lock_.
  PushResult Queued(bool was_empty, bool wake);

  CriticalSection lock_;
  SignalEvent* wake_;              // Not owned; only used under lock_ and before Stop.
  SendBufferList chunks_;          // Guarded by lock_.
  Takes takes_ = Takes::kReplies;  // Guarded by lock_.
};

template <typename Body>
SendQueue::PushResult SendQueue::PushCounted(Takes needs, ConnectorTag tag, const Body& body,
                                             uint64_t frame_length, bool wake) {
  if (frame_length > FieldWriter::kFirstChunk) {
    // A longer frame is written aside, where a failure to grow cannot leave part of it queued,
    // and kept in a copy of exactly its size, a chunk of its own.
    BufferPtr written;
    WriteFrame(written, tag, body);
    SendBufferList chunk;
    chunk.emplace_back(written);
    ScopedLock<SendQueue> guard(this, true);
    if (!Allows(needs)) return PushResult::kRefused;
    const bool was_empty = chunks_.empty();
    chunks_.splice(chunks_.end(), chunk);
    return Queued(was_empty, wake);
  }
  // Written before the lock is taken, into counted memory, so that threads pushing at once wait
  // for one another only while a frame is copied in.
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
  Tail().Append(frame, length);
  return Queued(was_empty, wake);
}

}  // namespace vexil

#endif  // VEXIL_HOST_SEND_QUEUE_H_
