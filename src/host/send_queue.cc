#include "host/send_queue.h"

#include <algorithm>
#include <iterator>

#include "orvel/frame.h"
#include "sync/check.h"
#include "sync/scoped_lock.h"

namespace vexil {

void SendQueue::QueuedFrame::Write(const ConnectorMsg& message) {
  written_ = std::make_unique<SendBufferList>();
  written_->emplace_back();
  // No message field refuses a value.
  if (!WriteFrame(written_->back(), message)) CheckFailed();
  length_ = written_->back().Size();
}

void SendQueue::QueuedFrame::MoveTo(SendBufferList& list) {
  if (written_ != nullptr) {
    list.splice(list.end(), *written_);
    return;
  }
  Tail(list).Append(bytes_, length_);
}

SendQueue::PushResult SendQueue::PushReply(const ConnectorMsg& message) {
  const uint32_t gate = gate_.load(std::memory_order_acquire);
  if (!Allows(gate, Gate::kClosed)) return PushResult::kRefused;
  QueuedFrame frame(gate & ~Gate::kModeMask, false);
  frame.Write(message);
  return Enqueue(std::move(frame));
}

SendQueue::PushResult SendQueue::PushWarning(const WarningRef& warning, uint64_t frame_length) {
  return PushCounted(Gate::kOpen, ConnectorTag::kWarning, warning, frame_length);
}

SendQueue::PushResult SendQueue::Enqueue(QueuedFrame&& frame) {
  const uint64_t counted = kFrameUnit + frame.length();
  // Counted first, so that the consumer never takes away what is not yet counted in.
  const uint64_t before = queued_.fetch_add(counted, std::memory_order_relaxed);
  if (frame.warning()) {
    const uint64_t bytes_before = BytesIn(before);
    if (FramesIn(before) >= kMostQueuedFrames ||
        (bytes_before != 0 && bytes_before + frame.length() > kMostQueuedBytes)) {
      queued_.fetch_sub(counted, std::memory_order_relaxed);
      return PushResult::kFull;
    }
  }
  frame.set_number(next_number_.fetch_add(1, std::memory_order_relaxed));
  if (!frames_.enqueue(std::move(frame))) {
    queued_.fetch_sub(counted, std::memory_order_relaxed);
    return PushResult::kRefused;
  }
  WakeIfWaiting();
  return PushResult::kQueued;
}

void SendQueue::WakeIfWaiting() {
  // Pairs with the fence in ReadyToWait: either the consumer sees this frame before it waits, or
  // this push sees it waiting.
  std::atomic_thread_fence(std::memory_order_seq_cst);
  if (!consumer_waiting_.load(std::memory_order_relaxed)) return;
  // One push wakes it; the others see it no longer waiting.
  if (!consumer_waiting_.exchange(false, std::memory_order_relaxed)) return;
  ScopedLock<SendQueue> guard(this, true);
  if (wake_ != nullptr) wake_->Set();
}

bool SendQueue::ReadyToWait() {
  consumer_waiting_.store(true, std::memory_order_relaxed);
  std::atomic_thread_fence(std::memory_order_seq_cst);
  // The count first: a look at the lanes costs a visit to every lane any thread ever had, and
  // with no frame counted in there is nothing to find (a push counts its frame in before the fence
  // that makes it see this thread waiting). Then the lanes themselves rather than the queue's size
  // estimate, which is only an estimate; what the look finds waits in drained_ for the next take.
  if (staged_.empty() && drained_.empty() &&
      (QueuedFrames() == 0 ||
       frames_.try_dequeue_bulk(std::back_inserter(drained_), kTakeBulk) == 0)) {
    return true;
  }
  consumer_waiting_.store(false, std::memory_order_relaxed);
  return false;
}

void SendQueue::StageReply(const ConnectorMsg& message) {
  BufferPtr& tail = Tail(staged_);
  const unsigned before = tail.Size();
  // No message field refuses a value.
  if (!WriteFrame(tail, message)) CheckFailed();
  Staged(tail.Size() - before, false);
}

SendQueue::PushResult SendQueue::StageWarning(const WarningRef& warning, uint64_t frame_length) {
  if (!Allows(gate_.load(std::memory_order_relaxed), Gate::kOpen)) return PushResult::kRefused;
  // Behind every warning whose push has returned, as a push from another thread would be.
  Sweep();
  Stage(ConnectorTag::kWarning, warning, frame_length);
  return PushResult::kQueued;
}

void SendQueue::Staged(uint64_t bytes, bool warning) {
  ++staged_frames_;
  if (warning) ++staged_warnings_;
  staged_bytes_ += bytes;
  queued_.fetch_add(bytes, std::memory_order_relaxed);
}

void SendQueue::Open() { Advance(Gate::kOpen, false); }

uint64_t SendQueue::Close() {
  const uint64_t dropped = DropStaged();
  Advance(Gate::kClosed, true);
  return dropped + Sweep();
}

uint64_t SendQueue::Sweep() {
  // A frame queued since the epoch advanced stays, staged ahead of whatever comes next.
  Taken kept;
  Drain(&staged_, &kept);
  staged_frames_ += kept.frames;
  staged_warnings_ += kept.warnings;
  staged_bytes_ += kept.bytes;
  queued_.fetch_add(kept.bytes, std::memory_order_relaxed);
  return kept.stale_warnings;
}

void SendQueue::Advance(uint32_t mode, bool advance_epoch) {
  uint32_t gate = gate_.load(std::memory_order_relaxed);
  for (;;) {
    if ((gate & Gate::kModeMask) == Gate::kStopped) return;
    const uint32_t epoch = (gate & ~Gate::kModeMask) + (advance_epoch ? Gate::kEpochStep : 0);
    if (gate_.compare_exchange_weak(gate, epoch | mode, std::memory_order_acq_rel,
                                    std::memory_order_relaxed)) {
      return;
    }
  }
}

void SendQueue::Stop() {
  Advance(Gate::kStopped, false);
  ScopedLock<SendQueue> guard(this, true);
  wake_ = nullptr;
}

uint64_t SendQueue::Clear() {
  uint64_t dropped = DropStaged();
  SendBufferList all;
  Taken taken;
  Drain(&all, &taken);
  return dropped + taken.warnings + taken.stale_warnings;
}

uint64_t SendQueue::DropStaged() {
  SendBufferList dropped;
  dropped.swap(staged_);
  return ForgetStaged();
}

uint64_t SendQueue::ForgetStaged() {
  const uint64_t warnings = staged_warnings_;
  queued_.fetch_sub(staged_bytes_, std::memory_order_relaxed);
  staged_frames_ = 0;
  staged_warnings_ = 0;
  staged_bytes_ = 0;
  return warnings;
}

SendQueue::Taken SendQueue::TakeAll(SendBufferList* batch) {
  Taken taken;
  if ((gate_.load(std::memory_order_acquire) & Gate::kModeMask) == Gate::kStopped) {
    taken.stale_warnings = DropStaged();
  } else {
    taken.frames = staged_frames_;
    taken.warnings = staged_warnings_;
    taken.bytes = staged_bytes_;
    batch->splice(batch->end(), staged_);
    ForgetStaged();
  }
  Drain(batch, &taken);
  return taken;
}

void SendQueue::Drain(SendBufferList* batch, Taken* taken) {
  const uint32_t epoch = gate_.load(std::memory_order_acquire) & ~Gate::kModeMask;
  // Until every frame counted in has been taken, or a look at every lane finds nothing (the rest
  // are still on their way in): a frame whose push returned before another's began is then among
  // the frames taken whenever that one is, since it was counted in before that one was queued.
  // The count spares the look, which visits every lane any thread ever had. Bounded, so that
  // threads pushing faster than this thread takes cannot keep it here for long (a few tens of
  // milliseconds at the bound): past it (a backlog of a quarter of a million frames, far beyond
  // anything the agent reads in time) a frame may leave one batch after a later thread's.
  constexpr size_t kMostFrames = 262144;
  while (drained_.size() < kMostFrames && drained_.size() != QueuedFrames() &&
         frames_.try_dequeue_bulk(std::back_inserter(drained_), kTakeBulk) != 0) {
  }
  order_.clear();
  for (size_t i = 0; i < drained_.size(); ++i) order_.emplace_back(drained_[i].number(), i);
  // The numbers taken at once lie within far less than half their range of one another, so their
  // difference orders them across a wrap. One thread's frames come in order already.
  const auto earlier = [](const std::pair<uint32_t, size_t>& a,
                          const std::pair<uint32_t, size_t>& b) {
    return static_cast<int32_t>(a.first - b.first) < 0;
  };
  if (!std::is_sorted(order_.begin(), order_.end(), earlier)) {
    std::sort(order_.begin(), order_.end(), earlier);
  }
  uint64_t bytes = 0;
  for (const auto& entry : order_) {
    QueuedFrame& frame = drained_[entry.second];
    bytes += frame.length();
    if (frame.epoch() != epoch) {
      if (frame.warning()) ++taken->stale_warnings;
      continue;
    }
    frame.MoveTo(*batch);
    ++taken->frames;
    if (frame.warning()) ++taken->warnings;
    taken->bytes += frame.length();
  }
  queued_.fetch_sub(drained_.size() * kFrameUnit + bytes, std::memory_order_relaxed);
  // A burst's worth of room is kept for the next one; a deep backlog's is given back.
  constexpr size_t kKeptFrames = 1024;
  if (drained_.capacity() > kKeptFrames) {
    drained_ = std::vector<QueuedFrame>();
    order_ = std::vector<std::pair<uint32_t, size_t>>();
  } else {
    drained_.clear();
  }
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
