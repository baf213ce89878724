#include "host/send_queue.h"

#include <gtest/gtest.h>

#include <string>

namespace vexil {
namespace {

BufferPtr BufferOf(const std::string& bytes) {
  BufferPtr buffer;
  buffer.Append(bytes.data(), static_cast<unsigned>(bytes.size()));
  return buffer;
}

std::string Joined(const SendQueue::Batch& batch) {
  std::string text;
  for (const auto& buffer : batch) {
    text.append(reinterpret_cast<const char*>(buffer->Data()), buffer->Size());
  }
  return text;
}

// The producers wake the worker only on the push that finds the queue empty; a push that finds
// it full must be taken by the batch in progress, or a warning would wait for the next one.
TEST(SendQueue, OnlyThePushIntoAnEmptyQueueAsksForAWakeUp) {
  SendQueue queue;
  EXPECT_TRUE(queue.Push(BufferOf("a")));
  EXPECT_FALSE(queue.Push(BufferOf("b")));
  SendQueue::Batch batch;
  batch.push_back(std::make_unique<BufferPtr>(BufferOf("0")));
  queue.TakeAll(&batch);
  EXPECT_EQ("0ab", Joined(batch));
  EXPECT_TRUE(queue.Push(BufferOf("c")));
  queue.Clear();
  EXPECT_TRUE(queue.Push(BufferOf("d")));
  SendQueue::Batch next;
  queue.TakeAll(&next);
  EXPECT_EQ("d", Joined(next));
}

}  // namespace
}  // namespace vexil
