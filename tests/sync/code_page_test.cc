#include "sync/code_page.h"

#include <string>

#include <gtest/gtest.h>

namespace vexil {
namespace {

TEST(CodePageTest, RoundTripsShortAndLongTexts) {
  EXPECT_EQ(WideToNarrow(L""), "");
  EXPECT_EQ(NarrowToWide(""), L"");
  EXPECT_EQ(WideToNarrow(L"game.exe"), "game.exe");
  EXPECT_EQ(NarrowToWide("127.0.0.1"), L"127.0.0.1");
  // 255 characters and the NUL fill the stack buffer exactly; 256 and 300 need the heap.
  for (size_t length : {255u, 256u, 300u, 5000u}) {
    std::wstring wide;
    for (size_t i = 0; i < length; ++i) wide.push_back(static_cast<wchar_t>(L'a' + i % 26));
    const std::string narrow = WideToNarrow(wide);
    ASSERT_EQ(narrow.size(), length);
    EXPECT_EQ(NarrowToWide(narrow), wide);
  }
}

TEST(CodePageTest, StopsAtTheFirstNul) {
  EXPECT_EQ(WideToNarrow(std::wstring(L"ab\0cd", 5)), "ab");
  EXPECT_EQ(NarrowToWide(std::string("ab\0cd", 5)), L"ab");
}

}  // namespace
}  // namespace vexil
