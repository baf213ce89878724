#include "util/strings.h"

#include <string>

#include <gtest/gtest.h>

#include "support/check_recorder.h"

namespace vexil {
namespace {

using testing::CheckRecorder;

TEST(FormatStringTest, FormatsNarrowAndWide) {
  EXPECT_EQ(FormatString("%s=%d;%02x", "port", 8990, 10), "port=8990;0a");
  EXPECT_EQ(FormatString(L"%ls:%u", L"GSID", 42u), L"GSID:42");
  EXPECT_EQ(FormatString(""), "");
}

TEST(FormatStringTest, ExactlyTheLimitIsReturnedWhole) {
  EXPECT_EQ(FormatString("%s", std::string(1024, 'a').c_str()), std::string(1024, 'a'));
  EXPECT_EQ(FormatString(L"%ls", std::wstring(1024, L'w').c_str()), std::wstring(1024, L'w'));
}

TEST(FormatStringTest, OverflowFailsTheCheckAndKeepsTheFirst1024Characters) {
  CheckRecorder checks;
  const std::string long_text = std::string(1000, 'a') + std::string(100, 'b');
  EXPECT_EQ(FormatString("%s", long_text.c_str()), long_text.substr(0, 1024));
  EXPECT_EQ(checks.count(), 1);

  const std::wstring long_wide = std::wstring(1025, L'z');
  const std::wstring wide = FormatString(L"%ls", long_wide.c_str());
  EXPECT_EQ(checks.count(), 2);
  EXPECT_LE(wide.size(), 1024u);
}

TEST(CaseTest, OnlyAsciiLettersChange) {
  std::string narrow = "Hello, World! \xC4\xE4\x80\xFF[`@{";
  EXPECT_EQ(ToLowerAscii(narrow), "hello, world! \xC4\xE4\x80\xFF[`@{");
  EXPECT_EQ(ToUpperAscii(narrow), "HELLO, WORLD! \xC4\xE4\x80\xFF[`@{");
  std::wstring wide = L"Ab\u00C4\u00E4\u0130z";
  EXPECT_EQ(ToLowerAscii(wide), L"ab\u00C4\u00E4\u0130z");
  EXPECT_EQ(ToUpperAscii(wide), L"AB\u00C4\u00E4\u0130Z");
}

TEST(TrimTest, LeftUsesTwoDifferentWhiteSpaceTests) {
  auto left = [](std::string s) { return TrimLeft(s); };
  EXPECT_EQ(left(""), "");
  EXPECT_EQ(left("   "), "");
  EXPECT_EQ(left(" \t\r\nx y "), "x y ");
  EXPECT_EQ(left("x  "), "x  ");
  // VT passes the first test but is not trimmed, so it stops the trim where it stands.
  EXPECT_EQ(left("\v\tx"), "\v\tx");
  EXPECT_EQ(left(" \fx"), "\fx");
  // A byte above 127 is never white space (no sign-extension into the table).
  EXPECT_EQ(left("\xA0x"), "\xA0x");
  std::wstring wide = L"\t\u00A0x";
  EXPECT_EQ(TrimLeft(wide), L"\u00A0x");
}

TEST(TrimTest, RightAndBoth) {
  auto right = [](std::string s) { return TrimRight(s); };
  EXPECT_EQ(right("x \v\f"), "x");
  EXPECT_EQ(right(" \t\n"), "");
  EXPECT_EQ(right("x\xA0"), "x\xA0");
  std::string both = "\r\n";
  EXPECT_EQ(Trim(both), "");
  both = "  a b \t";
  EXPECT_EQ(Trim(both), "a b");
  std::wstring wide = L" \n w \v";
  EXPECT_EQ(Trim(wide), L"w");
}

TEST(CompareTest, OrderAndCaseAndPrefixes) {
  EXPECT_EQ(Compare(std::string("abc"), std::string("abc")), 0);
  EXPECT_LT(Compare(std::string("ab"), std::string("abc")), 0);
  // Bytes compare as unsigned: a byte above 127 orders after ASCII.
  EXPECT_GT(Compare(std::string("\xE4"), std::string("z")), 0);
  EXPECT_EQ(CompareNoCase(std::string("HeLLo"), std::string("hello")), 0);
  EXPECT_LT(CompareNoCase(std::wstring(L"ABC"), std::wstring(L"abd")), 0);
  EXPECT_EQ(CompareN(std::string("abc"), std::string("abd"), 2), 0);
  EXPECT_LT(CompareN(std::string("abc"), std::string("abd"), 3), 0);
  EXPECT_LT(CompareN(std::string("ab"), std::string("abc"), 5), 0);
  EXPECT_EQ(CompareNoCaseN(std::string("ABc"), std::string("abD"), 2), 0);
  EXPECT_EQ(CompareNoCaseN(std::wstring(L"ABc"), std::wstring(L"abD"), 2), 0);
  // Case folding happens before ordering: '_' (95) sits between 'Z' (90) and 'a' (97).
  EXPECT_TRUE(LessNoCase(std::string("ZZ"), std::string("__")) == false);
  EXPECT_TRUE(LessNoCase(std::string("__"), std::string("ZZ")));
  EXPECT_TRUE(Less(std::string("B"), std::string("a")));
  EXPECT_FALSE(Less(std::string("a"), std::string("a")));
}

TEST(CompareTest, LessNoCasePrefixComparesOnlyTheLengthOfTheFirst) {
  EXPECT_FALSE(LessNoCasePrefix(std::string("AB"), std::string("abcdef")));
  EXPECT_TRUE(LessNoCasePrefix(std::string("ab"), std::string("AC")));
  EXPECT_FALSE(LessNoCasePrefix(std::string("abc"), std::string("ab")));
  EXPECT_TRUE(LessNoCasePrefix(std::wstring(L"AB"), std::wstring(L"abc")) == false);
  EXPECT_FALSE(LessNoCasePrefix(std::string(""), std::string("x")));
}

}  // namespace
}  // namespace vexil
