#include "util/char_buffer.h"

#include <cstring>
#include <new>
#include <string>

#include <gtest/gtest.h>

#include "support/check_recorder.h"

namespace vexil {
namespace {

TEST(CharBufferTest, CapacityRoundsUpToSteps256) {
  EXPECT_EQ(CharBuffer("", 0).Capacity(), 255u);
  const std::string text255(255, 'a');
  const std::string text256(256, 'b');
  CharBuffer buffer(text255.data(), 255);
  EXPECT_EQ(buffer.Capacity(), 255u);
  EXPECT_EQ(buffer.Length(), 255u);
  buffer.Assign(text256.data(), 256);
  EXPECT_EQ(buffer.Capacity(), 511u);
  EXPECT_EQ(std::string(buffer.GetText()), text256);
  // Shorter texts keep the larger block.
  buffer.Assign("x");
  EXPECT_EQ(buffer.Capacity(), 511u);
  EXPECT_EQ(CharBuffer(std::string(512, 'c').data(), 512).Capacity(), 767u);
}

TEST(CharBufferTest, TextIsBoundedByItsNulAndKeptByReserve) {
  CharBuffer buffer("abc\0def", 7);
  EXPECT_EQ(buffer.Length(), 3u);
  EXPECT_STREQ(buffer.GetText(), "abc");
  buffer.Reserve(1000);
  EXPECT_EQ(buffer.Capacity(), 1023u);
  EXPECT_STREQ(buffer.GetText(), "abc");
  buffer.Clear();
  EXPECT_TRUE(buffer.IsEmpty());
  EXPECT_EQ(buffer.Capacity(), 1023u);
}

TEST(CharBufferTest, CopiesAreIndependentAndSelfAssignmentIsSafe) {
  CharBuffer original("hello world", 11);
  CharBuffer copy(original);
  copy.Assign("changed");
  EXPECT_STREQ(original.GetText(), "hello world");
  original = copy;
  EXPECT_STREQ(original.GetText(), "changed");
  original = original;
  EXPECT_STREQ(original.GetText(), "changed");
  // A source inside the buffer's own text.
  original.Assign(original.GetText() + 3, 4);
  EXPECT_STREQ(original.GetText(), "nged");
}

TEST(CharBufferTest, NullTextFailsTheCheckAndEmpties) {
  testing::CheckRecorder checks;
  CharBuffer buffer("abc", 3);
  buffer.Assign(static_cast<const char*>(nullptr));
  EXPECT_EQ(checks.count(), 1);
  EXPECT_TRUE(buffer.IsEmpty());
}

#ifdef _WIN32
// The largest capacity plus its word and NUL does not fit a 32-bit size: it must fail as an
// allocation does, not wrap to a tiny block.
TEST(CharBufferTest, ARequestBeyondTheAddressSpaceFailsLikeTheAllocator) {
  CharBuffer buffer("abc", 3);
  EXPECT_THROW(buffer.Reserve(0xFFFFFFFFu), std::bad_alloc);
  EXPECT_STREQ(buffer.GetText(), "abc");
}
#endif

}  // namespace
}  // namespace vexil
