// Encoded frames waiting for the worker (the consumer), oldest first per thread.
//
// Other threads push without waiting for one another: a frame goes into the pushing thread's own
// lane of a multi-producer queue (moodycamel::ConcurrentQueue, whose implicit producers are keyed
// by thread), so a host thread descheduled in the middle of a push holds up nobody. Each frame also
// takes a number from one counter (an atomic increment, never a wait), and the consumer sends what
// it takes in that order: a frame pushed after another push has returned, on any thread, goes
// after it, as it did when one lock ordered them all. The consumer's own frames (the replies of its
// dispatch, the warnings of the host callbacks it runs) are staged on its side without any
// synchronisation and go ahead of what the others queued at its next take.
//
// The gate decides what is taken: closed (replies only) at first, open (warnings too) while a
// connection is registered, stopped (nothing) once the connector stops. It carries an epoch that
// each Close advances: a frame remembers the epoch it passed the gate in, and one that reaches the
// queue only after the Close that ended its connection is dropped (and counted) by the consumer's
// next Sweep or take, never sent on the next connection.
//
// Waking the consumer costs a system call, which a push makes only when the consumer has said it
// is about to wait (ReadyToWait) and no other push has woken it since: a busy consumer is never
// signalled. The queue's lock guards the wake event alone, taken by that one push and by Stop.
//
// Other threads' warnings are bounded, since nothing makes a pushing thread wait for the consumer:
// a warning is refused (kFull) while kMostQueuedFrames frames or kMostQueuedBytes bytes wait. The
// queue's library keeps every block it ever allocated for reuse, so the bound is also what the
// queue can hold on to after a burst; and a take within it cannot by itself push a connection whose
// agent reads past its outgoing limit.
//
// The queue is its own lock (GUARDED_BY(this)), never re-entered: its calls take it themselves and
// exclude it.
#ifndef VEXIL_HOST_SEND_QUEUE_H_
#define VEXIL_HOST_SEND_QUEUE_H_

#include <concurrentqueue.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

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
  // A chunk's room in the batches TakeAll hands out. A chunk takes frames while at least
  // FieldWriter::kFirstChunk bytes of it are free, so a frame up to that size never makes it grow.
  static constexpr unsigned kChunkBytes = 4096;

  enum class PushResult {
    kRefused,  // not taken: stopped, a warning while closed, or no memory for it
    kFull,     // a warning not taken: the warnings already waiting reach the bound
    kQueued,
  };

  // The bound on other threads' warnings: the frames in the queue (about 16 MiB of its blocks),
  // and the bytes queued and staged, a connection's outgoing limit (more would reach that limit
  // unless the agent read them first). An empty queue takes a warning of any length.
  static constexpr uint32_t kMostQueuedFrames = 65536;
  static constexpr uint64_t kMostQueuedBytes = 8u << 20;

  // What a TakeAll took into its batch (frames, the warnings among them, their bytes), and the
  // warnings it dropped because they passed the gate for a connection that has since closed.
  struct Taken {
    uint64_t frames = 0;
    uint64_t warnings = 0;
    uint64_t bytes = 0;
    uint64_t stale_warnings = 0;
  };

  // wake (null: none) is set when a push finds the consumer waiting; once Stop has returned, no
  // push touches it again.
  explicit SendQueue(SignalEvent* wake) : wake_(wake) {}
  SendQueue(const SendQueue&) = delete;
  SendQueue& operator=(const SendQueue&) = delete;
  ~SendQueue() = default;

  void Lock() override ACQUIRE() { lock_.Enter(); }
  void Unlock() override RELEASE() { lock_.Leave(); }

  // Producers: any thread but the consumer's. Nothing here waits for another thread, except that
  // the push which wakes a waiting consumer takes the lock around the wake-up.
  //
  // Queues the frame of a reply; refused only once stopped.
  PushResult PushReply(const ConnectorMsg& message) EXCLUDES(this);
  // The same for a reply body under its tag, frame_length bytes long as the caller counted it.
  template <typename Body>
  PushResult PushReply(ConnectorTag tag, const Body& body, uint64_t frame_length) EXCLUDES(this) {
    return PushCounted(Gate::kClosed, tag, body, frame_length);
  }
  // Queues the frame of a warning, frame_length bytes long as the caller counted it; refused
  // unless open, and kFull at the bound.
  PushResult PushWarning(const WarningRef& warning, uint64_t frame_length) EXCLUDES(this);

  // The consumer's own frames, staged without any synchronisation behind its earlier ones and
  // taken by its next TakeAll ahead of what other threads queued. Consumer's thread only.
  void StageReply(const ConnectorMsg& message);
  template <typename Body>
  void StageReply(ConnectorTag tag, const Body& body, uint64_t frame_length) {
    Stage(tag, body, frame_length);
  }
  // Refused unless open.
  PushResult StageWarning(const WarningRef& warning, uint64_t frame_length);

  // Warnings are taken from now on, unless stopped. Consumer only.
  void Open();
  // Drops every frame queued or staged so far; only replies are taken from now on, unless stopped.
  // On the consumer's thread, or once it has ended. Returns the warnings dropped.
  uint64_t Close();
  // Drops the frames that passed the gate before the last Close but reached the queue only after
  // it (a push that straddled it); the others are staged, in order, behind the staged ones.
  // Consumer only. Returns the warnings dropped.
  uint64_t Sweep();
  // Nothing is taken from now on, and the wake event is never touched again; what is queued stays
  // until Clear (or a last TakeAll). Any thread.
  void Stop() EXCLUDES(this);
  // Drops every frame queued or staged. Once the consumer has ended. Returns the warnings dropped.
  uint64_t Clear();
  // Moves the staged frames (dropped once stopped), then what other threads queued, oldest first
  // per thread, to the end of *batch, short frames packed into chunks of kChunkBytes. Consumer
  // only.
  Taken TakeAll(SendBufferList* batch);

  // The consumer's wait. ReadyToWait marks it waiting and says whether it may wait: false (and no
  // longer marked) when frames are already there to take. Awake ends the mark after the wait.
  bool ReadyToWait();
  void Awake() { consumer_waiting_.store(false, std::memory_order_relaxed); }

  // The bytes of the frames queued and staged now; any thread, without the lock.
  uint64_t QueuedBytes() const { return BytesIn(queued_.load(std::memory_order_relaxed)); }

 private:
  // The gate's word: the epoch above the mode's two bits.
  struct Gate {
    static constexpr uint32_t kClosed = 0;   // replies only
    static constexpr uint32_t kOpen = 1;     // warnings too
    static constexpr uint32_t kStopped = 2;  // nothing
    static constexpr uint32_t kModeMask = 3;
    static constexpr uint32_t kEpochStep = 4;
  };

  // One frame from a producer: its bytes in place when short (every warning of ordinary length,
  // so a push allocates nothing of its own), in a buffer of its own when longer. Moved into and out
  // of the queue's blocks; only the bytes in use are copied.
  class QueuedFrame {
   public:
    static constexpr unsigned kInlineBytes = 224;

    QueuedFrame() = default;
    QueuedFrame(uint32_t epoch, bool warning) : epoch_(epoch), warning_(warning) {}
    QueuedFrame(QueuedFrame&& other) noexcept { *this = std::move(other); }
    QueuedFrame& operator=(QueuedFrame&& other) noexcept {
      epoch_ = other.epoch_;
      number_ = other.number_;
      length_ = other.length_;
      warning_ = other.warning_;
      written_ = std::move(other.written_);
      if (written_ == nullptr) std::memcpy(bytes_, other.bytes_, length_);
      return *this;
    }
    ~QueuedFrame() = default;

    // Writes the frame of body under tag, frame_length bytes long as the caller counted it. False
    // when a field writer refused a value or the length was miscounted (the internal check).
    template <typename Body>
    bool Write(ConnectorTag tag, const Body& body, uint64_t frame_length);
    // Writes the frame of message, whatever its length.
    void Write(const ConnectorMsg& message);
    // Appends the frame to the end of list: into its last chunk, or as a chunk of its own.
    void MoveTo(SendBufferList& list);

    uint32_t epoch() const { return epoch_; }
    uint32_t number() const { return number_; }
    void set_number(uint32_t number) { number_ = number; }
    uint32_t length() const { return length_; }
    bool warning() const { return warning_; }

   private:
    uint32_t epoch_ = 0;
    uint32_t number_ = 0;  // its place among every thread's pushes; wraps
    uint32_t length_ = 0;
    bool warning_ = false;
    std::unique_ptr<SendBufferList> written_;  // the longer frame's own chunk; null when in place
    uint8_t bytes_[kInlineBytes];
  };

  static bool Allows(uint32_t gate, uint32_t needs) {
    const uint32_t mode = gate & Gate::kModeMask;
    return mode != Gate::kStopped && mode >= needs;
  }
  // The pushes of frames whose length the caller counted.
  template <typename Body>
  PushResult PushCounted(uint32_t needs, ConnectorTag tag, const Body& body, uint64_t frame_length)
      EXCLUDES(this);
  // Queues frame, counted; wakes the consumer if it waits.
  PushResult Enqueue(QueuedFrame&& frame) EXCLUDES(this);
  // After a push: sets the wake event if the consumer said it waits and nobody has woken it since.
  void WakeIfWaiting() EXCLUDES(this);
  // Stages the frame of body under tag, counted.
  template <typename Body>
  void Stage(ConnectorTag tag, const Body& body, uint64_t frame_length);
  // Counts a frame of bytes just staged.
  void Staged(uint64_t bytes, bool warning);
  // Sets the gate's mode, unless stopped, and with advance_epoch moves its epoch on. Any thread.
  void Advance(uint32_t mode, bool advance_epoch);
  // Drops the staged frames; the warnings among them. Consumer.
  uint64_t DropStaged();
  // Forgets the staged frames' counts (their bytes leave QueuedBytes); the warnings among them.
  uint64_t ForgetStaged();
  // Takes every queued frame, in the order of their numbers: those of the current epoch appended
  // to *batch and counted into *taken, the others dropped and counted as stale there. Consumer.
  void Drain(SendBufferList* batch, Taken* taken);
  // The chunk of list the next frame goes into, a new one when the last has too little room left.
  static BufferPtr& Tail(SendBufferList& list);
  // Writes the frame of body under tag, longer than the writer's first reservation, aside, where
  // a failure to grow cannot leave part of it in list, and appends it to list in a copy of exactly
  // its size, a chunk of its own.
  template <typename Body>
  static void AppendAside(SendBufferList& list, ConnectorTag tag, const Body& body);

  CriticalSection lock_;
  SignalEvent* wake_ GUARDED_BY(this);  // Not owned; only used before Stop.
  std::atomic<uint32_t> gate_{Gate::kClosed};
  // Set by the consumer before it waits and cleared by the push that wakes it (or by Awake).
  std::atomic<bool> consumer_waiting_{false};
  moodycamel::ConcurrentQueue<QueuedFrame> frames_;
  SendBufferList staged_;         // The consumer's; see StageReply.
  uint64_t staged_frames_ = 0;    // The consumer's: the frames in staged_,
  uint64_t staged_warnings_ = 0;  // the warnings among them,
  uint64_t staged_bytes_ = 0;     // and their bytes.
  // One word, so that a push counts itself in and reads the bound with one atomic addition: the
  // frames in the queue from kFrameUnit up, and below it the bytes queued and staged. Counted
  // before a frame enters the queue and after it leaves.
  static constexpr uint64_t kFrameUnit = uint64_t{1} << 40;
  static uint64_t FramesIn(uint64_t word) { return word / kFrameUnit; }
  static uint64_t BytesIn(uint64_t word) { return word % kFrameUnit; }
  std::atomic<uint64_t> queued_{0};
  // The frames counted in and not yet counted out by a Drain: those in the lanes, in drained_, and
  // on their way in.
  uint64_t QueuedFrames() const { return FramesIn(queued_.load(std::memory_order_relaxed)); }
  std::atomic<uint32_t> next_number_{0};  // the next push's number
  // Frames the consumer takes from the queue in one call of the library's.
  static constexpr size_t kTakeBulk = 64;
  // The consumer's, reused by each Drain: the frames taken, and their numbers with their places.
  std::vector<QueuedFrame> drained_;
  std::vector<std::pair<uint32_t, size_t>> order_;
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
bool SendQueue::QueuedFrame::Write(ConnectorTag tag, const Body& body, uint64_t frame_length) {
  if (frame_length > kInlineBytes) {
    written_ = std::make_unique<SendBufferList>();
    AppendAside(*written_, tag, body);
    length_ = written_->front().Size();
    return length_ == frame_length;
  }
  length_ = static_cast<uint32_t>(frame_length);
  return WriteFrameInto(bytes_, length_, tag, body);
}

template <typename Body>
SendQueue::PushResult SendQueue::PushCounted(uint32_t needs, ConnectorTag tag, const Body& body,
                                             uint64_t frame_length) {
  const uint32_t gate = gate_.load(std::memory_order_acquire);
  if (!Allows(gate, needs)) return PushResult::kRefused;
  QueuedFrame frame(gate & ~Gate::kModeMask, tag == ConnectorTag::kWarning);
  if (!frame.Write(tag, body, frame_length)) {
    CheckFailed();
    return PushResult::kRefused;
  }
  return Enqueue(std::move(frame));
}

template <typename Body>
void SendQueue::Stage(ConnectorTag tag, const Body& body, uint64_t frame_length) {
  if (frame_length > FieldWriter::kFirstChunk) {
    AppendAside(staged_, tag, body);
    Staged(staged_.back().Size(), tag == ConnectorTag::kWarning);
    return;
  }
  uint8_t frame[FieldWriter::kFirstChunk];
  const auto length = static_cast<uint32_t>(frame_length);
  if (!WriteFrameInto(frame, length, tag, body)) {
    CheckFailed();
    return;
  }
  // The tail has the room unless it is a longer frame's chunk; a failure to grow it appends
  // nothing.
  Tail(staged_).Append(frame, length);
  Staged(length, tag == ConnectorTag::kWarning);
}

}  // namespace vexil

#endif  // VEXIL_HOST_SEND_QUEUE_H_
