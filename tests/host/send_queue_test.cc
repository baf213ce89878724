#include "host/send_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "orvel/frame.h"
#include "zoth/zoth_buffer.h"

namespace vexil {
namespace {

std::string Joined(const SendBufferList& batch) {
  std::string text;
  for (const BufferPtr& buffer : batch) {
    text.append(reinterpret_cast<const char*>(buffer.Data()), buffer.Size());
  }
  return text;
}

ConnectorMsg Check(int32_t value) {
  return ConnectorMsg(ConnectorTag::kCheckReply, CheckReply{value, 7});
}

Warning MakeWarning(uint32_t idB, const std::string& text) {
  Warning warning;
  warning.ids = IdTriple(1, 7, idB);
  warning.code = 1001;
  warning.text = text;
  warning.extraText = "extra";
  return warning;
}

// The warning's frame as the message value writes it.
std::string FrameOf(const ConnectorMsg& message) {
  BufferPtr frame;
  EXPECT_TRUE(WriteFrame(frame, message));
  return std::string(reinterpret_cast<const char*>(frame.Data()), frame.Size());
}

// The warning's borrowed form, as the connector pushes it.
WarningRef Borrowed(const Warning& warning) {
  WarningRef borrowed;
  borrowed.ids = warning.ids;
  borrowed.code = warning.code;
  borrowed.text = warning.text;
  borrowed.extraText = warning.extraText;
  return borrowed;
}

// Pushes the warning from borrowed texts, as the connector does from a host thread (or, with
// staged, from the worker's), and appends the frame it should give to *expected.
SendQueue::PushResult PushWarning(SendQueue& queue, const Warning& warning, std::string* expected,
                                  bool staged = false) {
  const std::string frame = FrameOf(ConnectorMsg(ConnectorTag::kWarning, warning));
  expected->append(frame);
  return staged ? queue.StageWarning(Borrowed(warning), frame.size())
                : queue.PushWarning(Borrowed(warning), frame.size());
}

size_t Capacity(const BufferPtr& chunk) {
  return static_cast<ZothBuffer*>(chunk.Get())->capacity();
}

using Result = SendQueue::PushResult;

// A push sets the wake event only while the consumer says it waits, and only once per wait: a
// busy consumer costs the producers no system call, and a waiting one is never left asleep with
// frames queued.
TEST(SendQueue, PushesWakeTheConsumerOnlyWhileItWaits) {
  SignalEvent wake;
  SendQueue queue(&wake);
  queue.Open();
  std::string expected;
  EXPECT_EQ(Result::kQueued, PushWarning(queue, MakeWarning(1, "busy"), &expected));
  EXPECT_FALSE(wake.Wait(0));
  // Frames are there: the consumer must take them rather than wait.
  EXPECT_FALSE(queue.ReadyToWait());
  EXPECT_EQ(Result::kQueued, queue.PushReply(Check(1)));
  EXPECT_FALSE(wake.Wait(0));
  expected += FrameOf(Check(1));
  SendBufferList batch;
  queue.TakeAll(&batch);
  EXPECT_EQ(expected, Joined(batch));

  ASSERT_TRUE(queue.ReadyToWait());
  EXPECT_EQ(Result::kQueued, PushWarning(queue, MakeWarning(2, "wakes"), &expected));
  EXPECT_TRUE(wake.Wait(0));
  ASSERT_TRUE(wake.Reset());
  EXPECT_EQ(Result::kQueued, PushWarning(queue, MakeWarning(3, "already woken"), &expected));
  EXPECT_FALSE(wake.Wait(0));
  queue.Awake();
  EXPECT_FALSE(queue.ReadyToWait());
  queue.Clear();
  ASSERT_TRUE(queue.ReadyToWait());
  queue.Stop();
  EXPECT_EQ(Result::kRefused, queue.PushReply(Check(2)));
  EXPECT_FALSE(wake.Wait(0));
}

// Warnings are taken only while open; replies also while closed (they may come before the
// connection is registered); nothing once stopped, and a stopped queue never wakes anyone again.
TEST(SendQueue, WhatItTakesFollowsOpenCloseAndStop) {
  SignalEvent wake;
  SendQueue queue(&wake);
  std::string refused;
  EXPECT_EQ(Result::kRefused, PushWarning(queue, MakeWarning(1, "closed"), &refused));
  EXPECT_EQ(Result::kRefused, PushWarning(queue, MakeWarning(1, "closed"), &refused, true));
  EXPECT_EQ(Result::kQueued, queue.PushReply(Check(1)));
  queue.Open();
  std::string dropped;
  EXPECT_EQ(Result::kQueued, PushWarning(queue, MakeWarning(2, "open"), &dropped));
  EXPECT_EQ(1u, queue.Close());
  EXPECT_EQ(Result::kRefused, PushWarning(queue, MakeWarning(3, std::string(400, 'x')), &refused));
  EXPECT_EQ(Result::kQueued, queue.PushReply(Check(2)));
  queue.Open();
  std::string expected = FrameOf(Check(2));
  EXPECT_EQ(Result::kQueued, PushWarning(queue, MakeWarning(4, std::string(400, 'y')), &expected));
  SendBufferList batch;
  queue.TakeAll(&batch);
  EXPECT_EQ(expected, Joined(batch));
  EXPECT_TRUE(queue.ReadyToWait());
  queue.Stop();
  queue.Open();
  EXPECT_EQ(Result::kRefused, PushWarning(queue, MakeWarning(5, "stopped"), &refused));
  EXPECT_EQ(Result::kRefused, PushWarning(queue, MakeWarning(5, "stopped"), &refused, true));
  EXPECT_EQ(Result::kRefused, queue.PushReply(Check(3)));
  EXPECT_FALSE(wake.Wait(0));
  SendBufferList none;
  queue.TakeAll(&none);
  EXPECT_TRUE(none.empty());
}

// The consumer's own frames keep its order and go ahead of what other threads queue later; its own
// warning goes behind every warning already queued, as another thread's would. They go with
// everything else at Close, and are dropped once stopped.
TEST(SendQueue, StagedFramesKeepTheConsumersOrder) {
  SendQueue queue(nullptr);
  queue.Open();
  std::string expected;
  queue.StageReply(ConnectorTag::kCheckReply, CheckReply{1, 7}, 16);
  expected += FrameOf(Check(1));
  EXPECT_EQ(Result::kQueued, PushWarning(queue, MakeWarning(1, "other thread"), &expected));
  EXPECT_EQ(Result::kQueued, PushWarning(queue, MakeWarning(2, "own"), &expected, true));
  queue.StageReply(Check(2));
  expected += FrameOf(Check(2));
  Warning longer = MakeWarning(3, std::string(300, 'l'));
  EXPECT_EQ(Result::kQueued, PushWarning(queue, longer, &expected, true));
  std::string queued;
  EXPECT_EQ(Result::kQueued, PushWarning(queue, MakeWarning(4, "other, later"), &queued));
  SendBufferList batch;
  const SendQueue::Taken taken = queue.TakeAll(&batch);
  EXPECT_EQ(expected + queued, Joined(batch));
  EXPECT_EQ(6u, taken.frames);
  EXPECT_EQ(4u, taken.warnings);

  queue.StageReply(ConnectorTag::kCheckReply, CheckReply{3, 7}, 16);
  PushWarning(queue, MakeWarning(4, "own"), &expected, true);
  EXPECT_EQ(1u, queue.Close());
  SendBufferList closed;
  queue.TakeAll(&closed);
  EXPECT_TRUE(closed.empty());
  queue.Open();
  queue.StageReply(ConnectorTag::kCheckReply, CheckReply{4, 7}, 16);
  PushWarning(queue, MakeWarning(5, "own"), &expected, true);
  queue.Stop();
  SendBufferList stopped;
  EXPECT_EQ(1u, queue.TakeAll(&stopped).stale_warnings);
  EXPECT_TRUE(stopped.empty());
  EXPECT_EQ(0u, queue.QueuedBytes());
}

// Frames written into shared chunks are the bytes of the messages, whole and in push order, also
// across chunks and around a warning too long for the writer's first reservation.
TEST(SendQueue, ChunksHoldTheFramesInPushOrder) {
  SendQueue queue(nullptr);
  queue.Open();
  std::string expected;
  for (uint32_t i = 0; i < 300; ++i) {
    if (i % 3 == 0) {
      queue.PushReply(Check(static_cast<int32_t>(i)));
      expected += FrameOf(Check(static_cast<int32_t>(i)));
    } else if (i % 5 == 0) {
      // Counted: no message value around the body.
      const CheckReply reply{static_cast<int32_t>(i), 7};
      queue.PushReply(ConnectorTag::kCheckReply, reply, 16);
      expected += FrameOf(Check(static_cast<int32_t>(i)));
    } else {
      PushWarning(queue, MakeWarning(i, std::string(i % 7 * 9, 't')), &expected);
    }
    if (i == 100) PushWarning(queue, MakeWarning(i, std::string(5000, 'L')), &expected);
  }
  SendBufferList batch;
  queue.TakeAll(&batch);
  EXPECT_GT(batch.size(), 2u);
  EXPECT_EQ(expected, Joined(batch));
}

// What a queued warning costs: its frame's bytes in chunks that never grow past their first
// reservation, with a free tail smaller than the writer's first reservation, so a chunk's own
// overhead is shared by dozens of warnings. (The connector used to keep one buffer per warning.)
TEST(SendQueue, QueuedWarningsTakeLittleMoreThanTheirFrames) {
  SendQueue queue(nullptr);
  queue.Open();
  std::string expected;
  constexpr int kWarnings = 2000;
  for (int i = 0; i < kWarnings; ++i) {
    PushWarning(queue, MakeWarning(static_cast<uint32_t>(i), "tick overrun"), &expected);
  }
  SendBufferList batch;
  queue.TakeAll(&batch);
  size_t reserved = 0;
  for (const BufferPtr& chunk : batch) {
    EXPECT_EQ(SendQueue::kChunkBytes, Capacity(chunk));
    reserved += Capacity(chunk);
    if (&chunk != &batch.back()) {
      EXPECT_LT(SendQueue::kChunkBytes - chunk.Size(), FieldWriter::kFirstChunk);
    }
  }
  // Every chunk but the last is at least 15/16 full.
  static_assert(SendQueue::kChunkBytes - FieldWriter::kFirstChunk >=
                SendQueue::kChunkBytes / 16 * 15);
  EXPECT_LE(reserved, expected.size() * 16 / 15 + SendQueue::kChunkBytes);
  EXPECT_EQ(expected, Joined(batch));
}

// What the connector counts rests on the queue's own tally: the frames and warnings each batch
// takes, the warnings a close drops, and the bytes waiting now, staged replies and frames written
// aside included.
TEST(SendQueue, CountsWhatItTakesDropsAndHolds) {
  SendQueue queue(nullptr);
  queue.Open();
  std::string staged = FrameOf(Check(2));
  std::string expected = FrameOf(Check(1));
  queue.PushReply(Check(1));
  PushWarning(queue, MakeWarning(1, "short"), &expected);
  PushWarning(queue, MakeWarning(2, std::string(3 * SendQueue::kChunkBytes, 'l')), &expected);
  queue.StageReply(ConnectorTag::kCheckReply, CheckReply{2, 7}, 16);
  EXPECT_EQ(staged.size() + expected.size(), queue.QueuedBytes());
  SendBufferList batch;
  const SendQueue::Taken taken = queue.TakeAll(&batch);
  EXPECT_EQ(staged + expected, Joined(batch));
  EXPECT_EQ(4u, taken.frames);
  EXPECT_EQ(2u, taken.warnings);
  EXPECT_EQ(staged.size() + expected.size(), taken.bytes);
  EXPECT_EQ(0u, queue.QueuedBytes());

  std::string dropped;
  PushWarning(queue, MakeWarning(3, "a"), &dropped);
  PushWarning(queue, MakeWarning(4, "b"), &dropped);
  queue.StageReply(ConnectorTag::kCheckReply, CheckReply{3, 7}, 16);
  EXPECT_EQ(dropped.size() + 16, queue.QueuedBytes());
  EXPECT_EQ(2u, queue.Close());
  EXPECT_EQ(0u, queue.QueuedBytes());
  EXPECT_EQ(0u, queue.TakeAll(&batch).frames);

  // Once stopped, what stayed queued goes with Clear.
  queue.Open();
  PushWarning(queue, MakeWarning(5, "c"), &dropped);
  queue.Stop();
  EXPECT_EQ(FrameOf(ConnectorMsg(ConnectorTag::kWarning, MakeWarning(5, "c"))).size(),
            queue.QueuedBytes());
  EXPECT_EQ(1u, queue.Clear());
  EXPECT_EQ(0u, queue.QueuedBytes());
}

// Other threads' warnings stop at the bound, in frames and in bytes, and are taken again as soon
// as the consumer has taken what waits; a refused warning leaves no trace in the counts. Replies
// and the consumer's own frames are not bounded, and an empty queue takes a warning of any length.
TEST(SendQueue, WarningsStopAtTheBoundUntilTheConsumerTakes) {
  SendQueue queue(nullptr);
  queue.Open();
  const Warning tiny = MakeWarning(1, "t");
  std::string expected;
  for (uint32_t i = 0; i < SendQueue::kMostQueuedFrames; ++i) {
    ASSERT_EQ(Result::kQueued, PushWarning(queue, tiny, &expected)) << i;
  }
  const uint64_t held = queue.QueuedBytes();
  std::string refused;
  EXPECT_EQ(Result::kFull, PushWarning(queue, tiny, &refused));
  EXPECT_EQ(held, queue.QueuedBytes());
  EXPECT_EQ(Result::kQueued, queue.PushReply(Check(1)));
  EXPECT_EQ(Result::kQueued, PushWarning(queue, tiny, &expected, true));
  SendBufferList batch;
  const SendQueue::Taken taken = queue.TakeAll(&batch);
  EXPECT_EQ(SendQueue::kMostQueuedFrames + 1u, taken.warnings);
  EXPECT_EQ(0u, queue.QueuedBytes());
  EXPECT_EQ(Result::kQueued, PushWarning(queue, tiny, &expected));

  // In bytes: a warning that would take the queue past the bound waits for the next take; one
  // alone is never refused for its length.
  batch.clear();
  queue.TakeAll(&batch);
  const Warning large = MakeWarning(2, std::string(SendQueue::kMostQueuedBytes, 'l'));
  EXPECT_EQ(Result::kQueued, PushWarning(queue, large, &expected));
  EXPECT_EQ(Result::kFull, PushWarning(queue, tiny, &refused));
  queue.TakeAll(&batch);
  EXPECT_EQ(Result::kQueued, PushWarning(queue, tiny, &expected));
}

// Threads pushing at once while the consumer takes, waits and closes: no warning is lost or
// counted twice (each is taken, or dropped by a Close or as stale, or by the last Clear), each
// thread's warnings arrive in its order, a warning pushed once the others have returned arrives
// after all of them, and the consumer is never left waiting with frames queued.
TEST(SendQueue, ConcurrentPushesKeepEachThreadsOrderAndEveryCount) {
  SignalEvent wake;
  SendQueue queue(&wake);
  queue.Open();
  constexpr uint32_t kThreads = 4;
  constexpr uint32_t kPerThread = 4000;
  std::atomic<uint64_t> accepted{0};
  std::vector<std::thread> producers;
  for (uint32_t t = 0; t < kThreads; ++t) {
    producers.emplace_back([&queue, &accepted, t] {
      Warning warning = MakeWarning(0, std::string(t * 40, 'p'));
      warning.ids = IdTriple(t, 7, 0);
      uint64_t mine = 0;
      for (uint32_t i = 1; i <= kPerThread; ++i) {
        warning.ids.idB = i;
        const std::string frame = FrameOf(ConnectorMsg(ConnectorTag::kWarning, warning));
        if (queue.PushWarning(Borrowed(warning), frame.size()) == Result::kQueued) ++mine;
      }
      accepted += mine;
    });
  }
  std::atomic<bool> done{false};
  std::thread joiner([&producers, &queue, &done, &wake] {
    for (std::thread& producer : producers) producer.join();
    // The marker, from a thread of its own (retried past a Close, which reopens at once).
    Warning marker = MakeWarning(0, "after all the others");
    marker.ids = IdTriple(kThreads, 7, 1);
    const std::string frame = FrameOf(ConnectorMsg(ConnectorTag::kWarning, marker));
    for (int i = 0; i < 100000; ++i) {
      if (queue.PushWarning(Borrowed(marker), frame.size()) == Result::kQueued) break;
      std::this_thread::yield();
    }
    done = true;
    wake.Set();
  });
  uint32_t last[kThreads] = {};
  uint64_t seen = 0;
  uint64_t dropped = 0;
  bool marker_seen = false;
  int missed_wakes = 0;
  for (int round = 1;; ++round) {
    if (queue.ReadyToWait()) {
      // Every producer has ended and everything it queued has been taken.
      if (done.load()) break;
      // Bounded: a lost wake-up shows as a wait that times out while producers still push.
      if (!wake.Wait(5000) && !done.load()) ++missed_wakes;
      queue.Awake();
      wake.Reset();
    }
    SendBufferList batch;
    dropped += queue.TakeAll(&batch).stale_warnings;
    BufferPtr stream;
    for (const BufferPtr& chunk : batch) stream.Append(chunk.Data(), chunk.Size());
    while (stream.Size() != 0) {
      ConnectorMsg message(ConnectorTag::kWarning);
      const Warning* warning = ReadFrame(message, stream) ? message.As<Warning>() : nullptr;
      if (warning == nullptr || warning->ids.idA > kThreads) {
        ADD_FAILURE() << "not a frame pushed here";
        break;
      }
      if (warning->ids.idA == kThreads) {
        marker_seen = true;
        EXPECT_EQ(accepted.load(), seen + dropped) << "a warning arrived after the marker";
        continue;
      }
      ++seen;
      EXPECT_GT(warning->ids.idB, last[warning->ids.idA]);
      last[warning->ids.idA] = warning->ids.idB;
    }
    if (round % 50 == 0) {
      dropped += queue.Close();
      queue.Open();
    }
  }
  joiner.join();
  dropped += queue.Clear();
  EXPECT_EQ(0, missed_wakes);
  EXPECT_EQ(accepted.load(), seen + dropped - (marker_seen ? 0 : 1));
  EXPECT_EQ(0u, queue.QueuedBytes());
}

}  // namespace
}  // namespace vexil
