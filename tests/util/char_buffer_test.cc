#include "util/char_buffer.h"

#include <new>
#include <string>

#include <gtest/gtest.h>

#include "support/check_recorder.h"

namespace vexil {
namespace {

TEST(CharBufferTest, CapacityGrowsInSteps256AndKeepsTheText) {
  EXPECT_EQ(CharBuffer("", 0).Capacity(), 255u);
  const std::string text(512, 'b');
  CharBuffer buffer(text.data(), 255);
  EXPECT_EQ(buffer.Capacity(), 255u);
  buffer.Assign(text.data(), 256);
  EXPECT_EQ(buffer.Capacity(), 511u);
  EXPECT_EQ(buffer.GetText(), text.substr(0, 256));
  buffer.Assign("abc\0def", 7);
  EXPECT_EQ(buffer.Length(), 3u);
  buffer.Reserve(512);
  EXPECT_EQ(buffer.Capacity(), 767u);
  EXPECT_STREQ(buffer.GetText(), "abc");
  buffer.Clear();
  EXPECT_TRUE(buffer.IsEmpty());
  EXPECT_EQ(buffer.Capacity(), 767u);
}

TEST(CharBufferTest, CopiesAreIndependentAndOverlappingSourcesAreSafe) {
  CharBuffer original("hello world", 11);
  CharBuffer copy(original);
  copy.Assign("changed");
  EXPECT_STREQ(original.GetText(), "hello world");
  original = copy;
  const CharBuffer& itself = original;
  original = itself;
  EXPECT_STREQ(original.GetText(), "changed");
  original.Assign(original.GetText() + 3, 4);
  EXPECT_STREQ(original.GetText(), "nged");

  testing::CheckRecorder checks;
  original.Assign(static_cast<const char*>(nullptr));
  EXPECT_EQ(checks.count(), 1);
  EXPECT_TRUE(original.IsEmpty());
}

#ifdef _WIN32
// The largest capacity plus its word and NUL does not fit a 32-bit size: there it must fail as an
// allocation does, not wrap to a tiny block. A 64-bit size holds the sum, so the request either
// fails the same way or the whole promised room is there, down to the NUL's place.
TEST(CharBufferTest, TheLargestRequestFailsLikeTheAllocatorOrGivesAllItPromises) {
  CharBuffer buffer("abc", 3);
  try {
    buffer.Reserve(0xFFFFFFFFu);
    ASSERT_EQ(sizeof(void*), 8u) << "a 32-bit process cannot hold this block";
    EXPECT_EQ(buffer.Capacity(), 0xFFFFFFFFu);
    buffer.GetText()[0xFFFFFFFFu] = '\0';
  } catch (const std::bad_alloc&) {
    SUCCEED();
  }
  EXPECT_STREQ(buffer.GetText(), "abc");
}
#endif

}  // namespace
}  // namespace vexil
