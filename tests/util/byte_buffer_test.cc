#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/slot_of.h"
#include "util/buffer_ptr.h"
#include "util/byte_buffer.h"
#include "zoth/zoth_buffer.h"

namespace vexil {
namespace {

std::string Held(const BufferPtr& buffer) {
  return std::string(reinterpret_cast<const char*>(buffer.Data()), buffer.Size());
}

void AppendText(BufferPtr& buffer, const std::string& text) {
  buffer.Append(text.data(), static_cast<unsigned>(text.size()));
}

size_t Capacity(const BufferPtr& buffer) {
  return static_cast<ZothBuffer*>(buffer.Get())->capacity();
}

// The buffer's table is Zoth.dll's binary interface: the connector calls into a table that the
// DLL laid out, so a reordered or added declaration would call the wrong function.
TEST(ByteBufferTest, SlotOrderIsZothsBinaryInterface) {
  using testing::SlotOf;
  EXPECT_EQ(0u, SlotOf(&ByteBuffer::Release));
  EXPECT_EQ(1u, SlotOf(&ByteBuffer::Data));
  EXPECT_EQ(2u, SlotOf(&ByteBuffer::Size));
  EXPECT_EQ(3u, SlotOf(&ByteBuffer::Reserved3));
  EXPECT_EQ(6u, SlotOf(&ByteBuffer::Reserved6));
  EXPECT_EQ(7u, SlotOf(&ByteBuffer::Assign));
  EXPECT_EQ(8u, SlotOf(&ByteBuffer::Reserve));
  EXPECT_EQ(9u, SlotOf(&ByteBuffer::Reserved9));
  EXPECT_EQ(10u, SlotOf(&ByteBuffer::Append));
  EXPECT_EQ(11u, SlotOf(&ByteBuffer::Consume));
}

TEST(ByteBufferTest, ReservedBytesWrittenInPlaceAreCommittedByNullAppend) {
  BufferPtr buffer;
  AppendText(buffer, "xxhead:");
  buffer.Consume(2);
  // Large enough to make the block grow while bytes are held.
  const unsigned n = 100000;
  buffer.Reserve(n);
  uint8_t* tail = buffer.Data() + buffer.Size();
  for (unsigned i = 0; i < n; ++i) tail[i] = static_cast<uint8_t>(i * 7);
  buffer.Append(nullptr, n);
  ASSERT_EQ(buffer.Size(), 5 + n);
  EXPECT_EQ(std::memcmp(buffer.Data(), "head:", 5), 0);
  for (unsigned i = 0; i < n; ++i) ASSERT_EQ(buffer.Data()[5 + i], static_cast<uint8_t>(i * 7));
  buffer.Clear();
  EXPECT_EQ(buffer.Size(), 0u);
}

TEST(ByteBufferTest, CopiesAndAssignReadTheSameBytesIndependently) {
  BufferPtr original;
  AppendText(original, "abcdef");
  original.Consume(2);
  BufferPtr copy(original);
  // A second reference is its own copy: using one leaves the other as it was.
  copy.Consume(1);
  AppendText(copy, "xyz");
  EXPECT_EQ(Held(original), "cdef");
  EXPECT_EQ(Held(copy), "defxyz");

  BufferPtr target;
  AppendText(target, "old contents");
  ByteBuffer* const before = target.Get();
  target.Assign(copy);
  target.Assign(target);
  EXPECT_EQ(target.Get(), before);
  EXPECT_EQ(Held(target), "defxyz");
}

TEST(ByteBufferTest, AppendingItsOwnBytesSurvivesGrowth) {
  BufferPtr buffer;
  AppendText(buffer, "0123456789");
  for (int i = 0; i < 12; ++i) buffer.Append(buffer.Data(), buffer.Size());
  ASSERT_EQ(buffer.Size(), 10u << 12);
  for (unsigned i = 0; i < buffer.Size(); ++i) ASSERT_EQ(buffer.Data()[i], '0' + i % 10);
}

// Small appends and consumes behind a large backlog must keep the order and must not let the
// block grow without bound.
TEST(ByteBufferTest, StreamingThroughABacklogStaysBoundedAndOrdered) {
  BufferPtr buffer;
  uint32_t next_in = 0;
  uint32_t next_out = 0;
  for (int round = 0; round < 20000; ++round) {
    for (int i = 0; i < (round == 0 ? 3000 : 13); ++i, ++next_in) {
      const uint8_t byte = static_cast<uint8_t>(next_in % 251);
      buffer.Append(&byte, 1);
    }
    for (int i = 0; i < 13; ++i, ++next_out) {
      ASSERT_EQ(buffer.Data()[0], next_out % 251) << "round " << round;
      buffer.Consume(1);
    }
  }
  EXPECT_LE(Capacity(buffer), 4u * 4096u);
}

TEST(ByteBufferTest, OversizedConsumeAndCommitNeverReachOutsideTheBlock) {
  BufferPtr buffer;
  AppendText(buffer, "abc");
  buffer.Consume(10);
  EXPECT_EQ(buffer.Size(), 0u);
  AppendText(buffer, "de");
  buffer.Reserve(8);
  buffer.Append(nullptr, 1u << 30);
  EXPECT_LE(buffer.Size(), Capacity(buffer));
  EXPECT_EQ(std::memcmp(buffer.Data(), "de", 2), 0);
}

#ifdef _WIN32
// Held bytes plus the largest request: on 32 bits the sum does not fit a size, and the request
// must fail as exhausted memory does (the allocation failure cannot leave Zoth.dll, so the process
// ends), never promise room that the block does not have. A 64-bit size holds the sum, so there
// the request either fails the same way or the room is really there: its last byte is written
// and committed with the held bytes intact.
void ReserveTheLargestAndCommitIt() {
  BufferPtr buffer;
  AppendText(buffer, "de");
  buffer.Reserve(0xFFFFFFFFu);
  buffer.Data()[2 + size_t{0xFFFFFFFEu}] = 'z';
  buffer.Append(nullptr, 0xFFFFFFFFu);
  const bool intact =
      std::memcmp(buffer.Data(), "de", 2) == 0 && buffer.Data()[2 + size_t{0xFFFFFFFEu}] == 'z';
  std::fputs(intact ? "the room is there\n" : "the room is not there\n", stderr);
  std::exit(intact ? 0 : 1);
}

TEST(ByteBufferDeathTest, TheLargestRequestEndsTheProcessOrGivesAllItPromises) {
  if (sizeof(void*) == 4) {
    EXPECT_DEATH(ReserveTheLargestAndCommitIt(), "bad_alloc");
  } else {
    EXPECT_EXIT(
        ReserveTheLargestAndCommitIt(), [](int) { return true; },
        ::testing::AnyOf(::testing::HasSubstr("bad_alloc"),
                         ::testing::HasSubstr("the room is there\n")));
  }
}
#endif

}  // namespace
}  // namespace vexil
