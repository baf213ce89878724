#include "host/send_queue.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

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

// Pushes the warning from borrowed texts, as the connector does, and appends the frame it should
// give to *expected.
SendQueue::PushResult PushWarning(SendQueue& queue, const Warning& warning, std::string* expected,
                                  bool wake = true) {
  WarningRef borrowed;
  borrowed.ids = warning.ids;
  borrowed.code = warning.code;
  borrowed.text = warning.text;
  borrowed.extraText = warning.extraText;
  const std::string frame = FrameOf(ConnectorMsg(ConnectorTag::kWarning, warning));
  expected->append(frame);
  return queue.PushWarning(borrowed, frame.size(), wake);
}

size_t Capacity(const BufferPtr& chunk) {
  return static_cast<ZothBuffer*>(chunk.Get())->capacity();
}

using Result = SendQueue::PushResult;

// The producers wake the worker only on the push that finds the queue empty, and only when they
// ask to; a push that finds it full must be taken by the batch in progress, or a warning would
// wait for the next one.
TEST(SendQueue, OnlyThePushIntoAnEmptyQueueWakesTheWorker) {
  SignalEvent wake;
  SendQueue queue(&wake);
  queue.Open();
  EXPECT_EQ(Result::kQueuedFirst, queue.PushReply(Check(1), false));
  EXPECT_FALSE(wake.Wait(0));
  EXPECT_EQ(Result::kQueued, queue.PushReply(Check(2), true));
  EXPECT_FALSE(wake.Wait(0));
  SendBufferList batch;
  batch.emplace_back();
  batch.back().Append("0", 1);
  queue.TakeAll(&batch);
  EXPECT_EQ("0" + FrameOf(Check(1)) + FrameOf(Check(2)), Joined(batch));
  std::string expected;
  EXPECT_EQ(Result::kQueuedFirst, PushWarning(queue, MakeWarning(1, "w"), &expected));
  EXPECT_TRUE(wake.Wait(0));
  wake.Reset();
  EXPECT_EQ(Result::kQueued, PushWarning(queue, MakeWarning(2, "w"), &expected));
  EXPECT_FALSE(wake.Wait(0));
  queue.Clear();
  expected.clear();
  EXPECT_EQ(Result::kQueuedFirst, PushWarning(queue, MakeWarning(3, "w"), &expected));
  EXPECT_TRUE(wake.Wait(0));
  SendBufferList next;
  queue.TakeAll(&next);
  EXPECT_EQ(expected, Joined(next));
}

// Warnings are taken only while open; replies also while closed (they may come before the
// connection is registered); nothing once stopped, and a stopped queue never wakes anyone again.
TEST(SendQueue, WhatItTakesFollowsOpenCloseAndStop) {
  SignalEvent wake;
  SendQueue queue(&wake);
  std::string refused;
  EXPECT_EQ(Result::kRefused, PushWarning(queue, MakeWarning(1, "closed"), &refused));
  EXPECT_EQ(Result::kQueuedFirst, queue.PushReply(Check(1), false));
  queue.Open();
  std::string dropped;
  EXPECT_EQ(Result::kQueued, PushWarning(queue, MakeWarning(2, "open"), &dropped));
  queue.Close();
  EXPECT_EQ(Result::kRefused, PushWarning(queue, MakeWarning(3, std::string(400, 'x')), &refused));
  EXPECT_EQ(Result::kQueuedFirst, queue.PushReply(Check(2), false));
  queue.Open();
  std::string expected = FrameOf(Check(2));
  EXPECT_EQ(Result::kQueued, PushWarning(queue, MakeWarning(4, std::string(400, 'y')), &expected));
  SendBufferList batch;
  queue.TakeAll(&batch);
  EXPECT_EQ(expected, Joined(batch));
  queue.Stop();
  queue.Open();
  EXPECT_EQ(Result::kRefused, PushWarning(queue, MakeWarning(5, "stopped"), &refused));
  EXPECT_EQ(Result::kRefused, queue.PushReply(Check(3), true));
  EXPECT_FALSE(wake.Wait(0));
  SendBufferList none;
  queue.TakeAll(&none);
  EXPECT_TRUE(none.empty());
}

// The consumer's staged replies follow what other threads queued before its take, its own pushes
// after a Flush follow its staged replies, and staged replies go with everything else at Close and
// once stopped.
TEST(SendQueue, StagedRepliesKeepTheConsumersOrder) {
  SignalEvent wake;
  SendQueue queue(&wake);
  queue.Open();
  std::string expected;
  const CheckReply first{1, 7};
  queue.Stage(ConnectorTag::kCheckReply, first, 16);
  EXPECT_FALSE(wake.Wait(0));
  EXPECT_EQ(Result::kQueuedFirst, PushWarning(queue, MakeWarning(1, "other thread"), &expected));
  expected += FrameOf(Check(1));
  queue.Stage(ConnectorTag::kCheckReply, CheckReply{2, 7}, 16);
  queue.Flush();
  expected += FrameOf(Check(2));
  EXPECT_EQ(Result::kQueued, PushWarning(queue, MakeWarning(2, "own"), &expected, false));
  Warning longer = MakeWarning(3, std::string(300, 'l'));
  const std::string longer_frame = FrameOf(ConnectorMsg(ConnectorTag::kWarning, longer));
  queue.Stage(ConnectorTag::kWarning,
              WarningRef{longer.ids, longer.code, longer.text, longer.extraText},
              longer_frame.size());
  expected += longer_frame;
  SendBufferList batch;
  queue.TakeAll(&batch);
  EXPECT_EQ(expected, Joined(batch));

  queue.Stage(ConnectorTag::kCheckReply, CheckReply{3, 7}, 16);
  queue.Close();
  SendBufferList closed;
  queue.TakeAll(&closed);
  EXPECT_TRUE(closed.empty());
  queue.Stage(ConnectorTag::kCheckReply, CheckReply{4, 7}, 16);
  queue.Stop();
  SendBufferList stopped;
  queue.TakeAll(&stopped);
  EXPECT_TRUE(stopped.empty());
}

// Frames written into shared chunks are the bytes of the messages, whole and in push order, also
// across chunks and around a warning too long for the writer's first reservation.
TEST(SendQueue, ChunksHoldTheFramesInPushOrder) {
  SendQueue queue(nullptr);
  queue.Open();
  std::string expected;
  for (uint32_t i = 0; i < 300; ++i) {
    if (i % 3 == 0) {
      queue.PushReply(Check(static_cast<int32_t>(i)), true);
      expected += FrameOf(Check(static_cast<int32_t>(i)));
    } else if (i % 5 == 0) {
      // Counted: no message value around the body.
      const CheckReply reply{static_cast<int32_t>(i), 7};
      queue.PushReply(ConnectorTag::kCheckReply, reply, 16, true);
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
  std::string expected = FrameOf(Check(1));
  queue.PushReply(Check(1), false);
  PushWarning(queue, MakeWarning(1, "short"), &expected);
  PushWarning(queue, MakeWarning(2, std::string(3 * SendQueue::kChunkBytes, 'l')), &expected);
  queue.Stage(ConnectorTag::kCheckReply, CheckReply{2, 7}, 16);
  expected += FrameOf(Check(2));
  EXPECT_EQ(expected.size(), queue.QueuedBytes());
  SendBufferList batch;
  const SendQueue::Taken taken = queue.TakeAll(&batch);
  EXPECT_EQ(expected, Joined(batch));
  EXPECT_EQ(4u, taken.frames);
  EXPECT_EQ(2u, taken.warnings);
  EXPECT_EQ(0u, queue.QueuedBytes());

  std::string dropped;
  PushWarning(queue, MakeWarning(3, "a"), &dropped);
  PushWarning(queue, MakeWarning(4, "b"), &dropped);
  queue.Stage(ConnectorTag::kCheckReply, CheckReply{3, 7}, 16);
  EXPECT_EQ(dropped.size() + 16, queue.QueuedBytes());
  EXPECT_EQ(2u, queue.Close());
  EXPECT_EQ(0u, queue.QueuedBytes());
  EXPECT_EQ(0u, queue.TakeAll(&batch).frames);

  // Once stopped, staged replies go when flushed, and what stayed queued goes with Clear.
  queue.Open();
  PushWarning(queue, MakeWarning(5, "c"), &dropped);
  queue.Stop();
  queue.Stage(ConnectorTag::kCheckReply, CheckReply{4, 7}, 16);
  queue.Flush();
  EXPECT_EQ(FrameOf(ConnectorMsg(ConnectorTag::kWarning, MakeWarning(5, "c"))).size(),
            queue.QueuedBytes());
  EXPECT_EQ(1u, queue.Clear());
  EXPECT_EQ(0u, queue.QueuedBytes());
}

}  // namespace
}  // namespace vexil
