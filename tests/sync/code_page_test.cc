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

#ifndef _WIN32
TEST(CodePageTest, PosixNarrowTextIsUtf8) {
  const std::wstring wide = L"gr\u00fc\u00df \u20ac \U0001F600";
  const std::string narrow = WideToNarrow(wide);
  EXPECT_EQ(narrow, "gr\xC3\xBC\xC3\x9F \xE2\x82\xAC \xF0\x9F\x98\x80");
  EXPECT_EQ(NarrowToWide(narrow), wide);
}

TEST(CodePageTest, PosixTextThatCannotBeConvertedBecomesEmpty) {
  EXPECT_EQ(WideToNarrow(std::wstring(1, static_cast<wchar_t>(0xD800))), "");
  EXPECT_EQ(WideToNarrow(std::wstring(1, static_cast<wchar_t>(0x110000))), "");
  EXPECT_EQ(NarrowToWide("a\xC3"), L"") << "cut sequence";
  EXPECT_EQ(NarrowToWide("\xC0\xAF"), L"") << "overlong form";
  EXPECT_EQ(NarrowToWide("\xED\xA0\x80"), L"") << "surrogate";
  EXPECT_EQ(NarrowToWide("\x80"), L"") << "continuation byte first";
}
#endif

}  // namespace
}  // namespace vexil
