#include "host/send_queue.h"

#include <algorithm>
#include <chrono>
#include <iterator>

#include "orvel/frame.h"
#include "sync/check.h"
#include "sync/scoped_lock.h"
#include "sync/wait_result.h"

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
  const uint32_t length = frame.length();
  frame.set_number(next_number_.fetch_add(1, std::memory_order_relaxed));
  // Counted first, so that the consumer never takes away bytes not yet counted in.
  queued_bytes_.fetch_add(length, std::memory_order_relaxed);
  if (!frames_.enqueue(std::move(frame))) {
    queued_bytes_.fetch_sub(length, std::memory_order_relaxed);
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

uint32_t SendQueue::ReadyToWait() {
  consumer_waiting_.store(true, std::memory_order_relaxed);
  std::atomic_thread_fence(std::memory_order_seq_cst);
  if (staged_.empty() && frames_.size_approx() == 0) {
    // Frames held behind a gap go when it fills (its push wakes this thread) or is given up on.
    return held_.empty() ? kInfinite : static_cast<uint32_t>(kGapWait.count());
  }
  consumer_waiting_.store(false, std::memory_order_relaxed);
  return 0;
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
  StageQueued();
  Stage(ConnectorTag::kWarning, warning, frame_length);
  return PushResult::kQueued;
}

void SendQueue::Staged(uint64_t bytes, bool warning) {
  ++staged_frames_;
  if (warning) ++staged_warnings_;
  staged_bytes_ += bytes;
  queued_bytes_.fetch_add(bytes, std::memory_order_relaxed);
}

void SendQueue::Open() { Advance(Gate::kOpen, false); }

uint64_t SendQueue::Close() {
  const uint64_t dropped = DropStaged();
  Advance(Gate::kClosed, true);
  return dropped + Sweep();
}

uint64_t SendQueue::Sweep() {
  // A frame queued since the epoch advanced stays, staged ahead of whatever comes next.
  return StageQueued();
}

uint64_t SendQueue::StageQueued() {
  Taken kept;
  Drain(&staged_, &kept);
  staged_frames_ += kept.frames;
  staged_warnings_ += kept.warnings;
  staged_bytes_ += kept.bytes;
  queued_bytes_.fetch_add(kept.bytes, std::memory_order_relaxed);
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
  uint32_t gate = gate_.load(std::memory_order_relaxed);
  while (!gate_.compare_exchange_weak(gate, (gate & ~Gate::kModeMask) | Gate::kStopped,
                                      std::memory_order_acq_rel, std::memory_order_relaxed)) {
  }
  ScopedLock<SendQueue> guard(this, true);
  wake_ = nullptr;
}

uint64_t SendQueue::Clear() {
  uint64_t dropped = DropStaged();
  // The frames queued by now and those held behind a gap: once the consumer has ended, nothing
  // waits for a late one.
  while (frames_.try_dequeue_bulk(consumer_, std::back_inserter(held_), 64) != 0) {
  }
  uint64_t bytes = 0;
  for (const QueuedFrame& frame : held_) {
    bytes += frame.length();
    if (frame.warning()) ++dropped;
  }
  held_ = std::vector<QueuedFrame>();
  queued_bytes_.fetch_sub(bytes, std::memory_order_relaxed);
  return dropped;
}

uint64_t SendQueue::DropStaged() {
  SendBufferList dropped;
  dropped.swap(staged_);
  const uint64_t warnings = staged_warnings_;
  queued_bytes_.fetch_sub(staged_bytes_, std::memory_order_relaxed);
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
    queued_bytes_.fetch_sub(staged_bytes_, std::memory_order_relaxed);
    batch->splice(batch->end(), staged_);
    staged_frames_ = 0;
    staged_warnings_ = 0;
    staged_bytes_ = 0;
  }
  Drain(batch, &taken);
  return taken;
}

void SendQueue::Drain(SendBufferList* batch, Taken* taken) {
  // A bounded share per call, so that threads pushing faster than this thread takes cannot keep
  // it here; the token rotates among the lanes, so that no lane waits behind a busier one.
  constexpr size_t kBulk = 64;
  constexpr size_t kMostPerDrain = 4096;
  bool looked_empty = false;
  for (size_t drained = 0; drained < kMostPerDrain && !looked_empty;) {
    const size_t got = frames_.try_dequeue_bulk(consumer_, std::back_inserter(held_), kBulk);
    looked_empty = got == 0;
    drained += got;
  }
  // A number missing while frames are still to be taken may be among them: only once the queue
  // looked empty does its gap count as waiting.
  if (!looked_empty) gap_since_.reset();
  // Memory first: past this many frames held, a gap is not waited for (a flood that never lets
  // the queue look empty while a number is lost).
  constexpr size_t kMostHeld = 65536;
  const bool overfull = held_.size() > kMostHeld;
  if (held_.empty()) return;
  // In number order from the next one due; one wrapped past it (a frame whose number was given up
  // on) sorts first and goes at once.
  order_.clear();
  for (size_t i = 0; i < held_.size(); ++i) {
    order_.emplace_back(static_cast<int32_t>(held_[i].number() - next_due_), i);
  }
  if (!std::is_sorted(order_.begin(), order_.end())) std::sort(order_.begin(), order_.end());
  const uint32_t epoch = gate_.load(std::memory_order_acquire) & ~Gate::kModeMask;
  uint64_t bytes = 0;
  size_t sent = 0;
  for (const auto& entry : order_) {
    QueuedFrame& frame = held_[entry.second];
    const auto ahead = static_cast<int32_t>(frame.number() - next_due_);
    if (ahead > 0 && !overfull && (!looked_empty || !GiveUpOnGap())) break;
    if (ahead >= 0) next_due_ = frame.number() + 1;
    gap_since_.reset();
    ++sent;
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
  queued_bytes_.fetch_sub(bytes, std::memory_order_relaxed);
  // Those behind a gap wait in held_ for the next call; a backlog's room is given back.
  std::vector<QueuedFrame> waiting;
  for (size_t i = sent; i < order_.size(); ++i) {
    waiting.push_back(std::move(held_[order_[i].second]));
  }
  constexpr size_t kKeptFrames = 1024;
  if (held_.capacity() > kKeptFrames) {
    held_ = std::move(waiting);
  } else {
    held_.clear();
    for (QueuedFrame& frame : waiting) held_.push_back(std::move(frame));
  }
}

bool SendQueue::GiveUpOnGap() {
  const auto now = std::chrono::steady_clock::now();
  if (!gap_since_) gap_since_ = now;
  return now - *gap_since_ >= kGapWait;
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
