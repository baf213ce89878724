#include "util/strings.h"

#include <string>

#include <gtest/gtest.h>

#include "support/check_recorder.h"

namespace vexil {
namespace {

TEST(FormatStringTest, TextsUpToTheLimitAreWholeAndLongerOnesAreCheckedAndCut) {
  EXPECT_EQ(FormatString("%s=%d;%02x", "port", 8990, 10), "port=8990;0a");
  EXPECT_EQ(FormatString(L"%ls:%u", L"GSID", 42u), L"GSID:42");
  EXPECT_EQ(FormatString("%s", std::string(1024, 'a').c_str()), std::string(1024, 'a'));
  EXPECT_EQ(FormatString(L"%ls", std::wstring(1024, L'w').c_str()), std::wstring(1024, L'w'));

  testing::CheckRecorder checks;
  const std::string long_text = std::string(1000, 'a') + std::string(100, 'b');
  EXPECT_EQ(FormatString("%s", long_text.c_str()), long_text.substr(0, 1024));
  EXPECT_EQ(checks.count(), 1);
  EXPECT_LE(FormatString(L"%ls", std::wstring(1025, L'z').c_str()).size(), 1024u);
  EXPECT_EQ(checks.count(), 2);
}

TEST(StringsTest, CaseMappingTouchesOnlyAsciiLetters) {
  std::string narrow = "Az[`@{\xC4\xE4\xFF";
  EXPECT_EQ(ToLowerAscii(narrow), "az[`@{\xC4\xE4\xFF");
  EXPECT_EQ(ToUpperAscii(narrow), "AZ[`@{\xC4\xE4\xFF");
  std::wstring wide = L"Ab\u00C4\u0130";
  EXPECT_EQ(ToLowerAscii(wide), L"ab\u00C4\u0130");
}

TEST(StringsTest, TrimsUseTwoDifferentWhiteSpaceTests) {
  auto left = [](std::string s) { return TrimLeft(s); };
  auto right = [](std::string s) { return TrimRight(s); };
  auto both = [](std::string s) { return Trim(s); };
  EXPECT_EQ(left("   "), "");
  EXPECT_EQ(left(" \t\r\nx y "), "x y ");
  // VT and FF pass the first test but are not trimmed, so they stop the trim where they stand.
  EXPECT_EQ(left("\v\tx"), "\v\tx");
  EXPECT_EQ(left(" \fx"), "\fx");
  // A byte above 127 is never white space (no sign extension into a table).
  EXPECT_EQ(left("\xA0x"), "\xA0x");
  EXPECT_EQ(right("x \v\f"), "x");
  EXPECT_EQ(right("x\xA0"), "x\xA0");
  EXPECT_EQ(both("\r\n"), "");
  EXPECT_EQ(both("  a b \t"), "a b");
  std::wstring wide = L" \n w \v";
  EXPECT_EQ(Trim(wide), L"w");
}

TEST(StringsTest, ComparisonsFoldCaseFirstAndCountPrefixes) {
  using S = std::string;
  EXPECT_LT(Compare(S("ab"), S("abc")), 0);
  EXPECT_GT(Compare(S("\xE4"), S("z")), 0);  // bytes order as unsigned
  EXPECT_EQ(CompareNoCase(S("HeLLo"), S("hello")), 0);
  EXPECT_EQ(CompareN(S("abc"), S("abd"), 2), 0);
  EXPECT_LT(CompareN(S("ab"), S("abc"), 5), 0);
  EXPECT_EQ(CompareNoCaseN(S("ABc"), S("abD"), 2), 0);
  EXPECT_EQ(CompareNoCaseN(std::wstring(L"ABc"), std::wstring(L"abD"), 2), 0);
  // '_' (95) lies between 'Z' and 'a': folding decides the order.
  EXPECT_TRUE(LessNoCase(S("__"), S("ZZ")));
  EXPECT_TRUE(Less(S("ZZ"), S("__")));
  EXPECT_FALSE(LessNoCasePrefix(S("AB"), S("abcdef")));
  EXPECT_TRUE(LessNoCasePrefix(S("ab"), S("AC")));
  EXPECT_FALSE(LessNoCasePrefix(S("abc"), S("ab")));
}

}  // namespace
}  // namespace vexil
