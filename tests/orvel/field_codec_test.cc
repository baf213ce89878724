#include "orvel/field_codec.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "orvel/messages.h"
#include "support/wire.h"

namespace vexil {
namespace {

using testing::AppendBytes;
using testing::Bytes;
using testing::HeldBytes;

template <typename T>
Bytes Encoded(const T& value) {
  BufferPtr buffer;
  EXPECT_TRUE(PutField(buffer, value));
  return HeldBytes(buffer);
}

TEST(FieldCodec, WritesTextsAndListsLittleEndian) {
  EXPECT_EQ(Encoded(std::string("abc")), (Bytes{3, 0, 0, 0, 'a', 'b', 'c'}));
  EXPECT_EQ(Encoded(std::string()), (Bytes{0, 0, 0, 0}));
  EXPECT_EQ(Encoded(std::vector<int32_t>{1, -1}),
            (Bytes{2, 0, 0, 0, 1, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(Encoded(std::u16string(u"h\u00E9")), (Bytes{2, 0, 0, 0, 'h', 0, 0xE9, 0}));
  EXPECT_EQ(Encoded(static_cast<long long>(0x0102030405060708LL)), (Bytes{8, 7, 6, 5, 4, 3, 2, 1}));
  EXPECT_EQ(Encoded(Int32Pair{1, -2}), (Bytes{1, 0, 0, 0, 0xFE, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(Encoded(1.0), (Bytes{0, 0, 0, 0, 0, 0, 0xF0, 0x3F}));
  EXPECT_EQ(Encoded(IdTriple(1, 2, 3)), (Bytes{1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0}));
}

TEST(FieldCodec, FixedWidthReaderConsumesNothingWhenShort) {
  BufferPtr buffer;
  AppendBytes(buffer, {1, 2, 3});
  uint32_t u = 99;
  EXPECT_FALSE(GetField(u, buffer));
  EXPECT_EQ(u, 99u);
  EXPECT_EQ(buffer.Size(), 3u);
  double d = 0;
  AppendBytes(buffer, {4, 5, 6, 7});
  EXPECT_FALSE(GetField(d, buffer));
  EXPECT_EQ(buffer.Size(), 7u);
  EXPECT_TRUE(GetField(u, buffer));
  EXPECT_EQ(u, 0x04030201u);
  EXPECT_EQ(HeldBytes(buffer), (Bytes{5, 6, 7}));
}

TEST(FieldCodec, TextLongerThanHeldFailsWithCountConsumedAndTextUntouched) {
  for (const uint32_t count : {4u, 11u, 0xFFFFFFFFu}) {
    BufferPtr buffer;
    PutField(buffer, count);
    AppendBytes(buffer, {'a', 'b', 'c'});
    std::string text = "kept";
    EXPECT_FALSE(GetField(text, buffer)) << count;
    EXPECT_EQ(text, "kept");
    EXPECT_EQ(HeldBytes(buffer), (Bytes{'a', 'b', 'c'})) << count;
  }
  // The same bound for wide texts and lists, whose counts are in units and elements.
  BufferPtr buffer;
  AppendBytes(buffer, {3, 0, 0, 0, 'a', 0, 'b', 0, 'c'});
  std::u16string wide;
  EXPECT_FALSE(GetField(wide, buffer));
  BufferPtr list_bytes;
  AppendBytes(list_bytes, {0xFF, 0xFF, 0xFF, 0x3F, 1, 0, 0, 0});
  std::vector<int32_t> list;
  EXPECT_FALSE(GetField(list, list_bytes));
  EXPECT_TRUE(list.empty());
}

TEST(FieldCodec, TextCarriesEveryByteValue) {
  const std::string text("a\0b\xFF\n", 5);
  BufferPtr buffer;
  PutField(buffer, text);
  std::string back = "old";
  ASSERT_TRUE(GetField(back, buffer));
  EXPECT_EQ(back, text);
  EXPECT_EQ(buffer.Size(), 0u);

  PutField(buffer, std::string());
  ASSERT_TRUE(GetField(back, buffer));
  EXPECT_TRUE(back.empty());
}

TEST(FieldCodec, BoolReadsAnyNonZeroByteAsTrue) {
  BufferPtr buffer;
  AppendBytes(buffer, {0x80, 0});
  bool a = false;
  bool b = true;
  ASSERT_TRUE(GetField(a, buffer));
  ASSERT_TRUE(GetField(b, buffer));
  EXPECT_TRUE(a);
  EXPECT_FALSE(b);
}

TEST(FieldCodec, ShortTextCountIsSigned) {
  BufferPtr buffer;
  ASSERT_TRUE(PutShortText(buffer, std::string(32767, 'x')));
  std::string text;
  ASSERT_TRUE(GetShortText(text, buffer));
  EXPECT_EQ(text.size(), 32767u);

  EXPECT_FALSE(PutShortText(buffer, std::string(32768, 'x')));
  EXPECT_EQ(buffer.Size(), 0u);

  AppendBytes(buffer, {0x00, 0x80, 'a'});
  EXPECT_FALSE(GetShortText(text, buffer));
  EXPECT_EQ(HeldBytes(buffer), (Bytes{'a'}));

  buffer.Clear();
  AppendBytes(buffer, {0, 0});
  text = "x";
  ASSERT_TRUE(GetShortText(text, buffer));
  EXPECT_TRUE(text.empty());
}

TEST(FieldCodec, CharBufferInBothCountWidths) {
  BufferPtr buffer;
  const CharBuffer text("hello", 5);
  ASSERT_TRUE(PutField(buffer, text));
  ASSERT_TRUE(PutShortText(buffer, text));
  EXPECT_EQ(HeldBytes(buffer),
            (Bytes{5, 0, 0, 0, 'h', 'e', 'l', 'l', 'o', 5, 0, 'h', 'e', 'l', 'l', 'o'}));
  CharBuffer a;
  CharBuffer b;
  ASSERT_TRUE(GetField(a, buffer));
  ASSERT_TRUE(GetShortText(b, buffer));
  EXPECT_STREQ(a.GetText(), "hello");
  EXPECT_STREQ(b.GetText(), "hello");

  AppendBytes(buffer, {9, 0, 0, 0, 'x'});
  EXPECT_FALSE(GetField(a, buffer));
  EXPECT_STREQ(a.GetText(), "hello");
}

TEST(FieldCodec, ByteBlockAppendsAfterHeldBytes) {
  BufferPtr block;
  AppendBytes(block, {7, 8});
  BufferPtr buffer;
  ASSERT_TRUE(PutField(buffer, block));
  EXPECT_EQ(HeldBytes(buffer), (Bytes{2, 0, 0, 0, 7, 8}));
  ASSERT_TRUE(GetField(block, buffer));
  EXPECT_EQ(HeldBytes(block), (Bytes{7, 8, 7, 8}));
}

TEST(FieldCodec, LongIsFourBytesAndRefusesWiderValues) {
  EXPECT_EQ(Encoded(-2L), (Bytes{0xFE, 0xFF, 0xFF, 0xFF}));
  BufferPtr buffer;
  AppendBytes(buffer, {0xFE, 0xFF, 0xFF, 0xFF});
  long value = 0;
  ASSERT_TRUE(GetField(value, buffer));
  EXPECT_EQ(value, -2L);
  if (sizeof(long) > 4) {
    EXPECT_FALSE(PutField(buffer, static_cast<long>(int64_t{1} << 40)));
    EXPECT_EQ(buffer.Size(), 0u);
  }
}

TEST(FieldCodec, LargeListsSpanManyReservations) {
  std::vector<int32_t> values(100000);
  for (size_t i = 0; i < values.size(); ++i) values[i] = static_cast<int32_t>(i * 7919);
  std::vector<StatInfo> stats(3000);
  for (size_t i = 0; i < stats.size(); ++i) {
    stats[i].ids = IdTriple(static_cast<uint32_t>(i), 1, 2);
    stats[i].text = std::string(i % 40, 'q');
  }
  BufferPtr buffer;
  AppendBytes(buffer, {0xAA});
  ASSERT_TRUE(PutField(buffer, values));
  ASSERT_TRUE(PutField(buffer, stats));
  buffer.Consume(1);
  std::vector<int32_t> values_back;
  std::vector<StatInfo> stats_back;
  ASSERT_TRUE(GetField(values_back, buffer));
  ASSERT_TRUE(GetField(stats_back, buffer));
  EXPECT_EQ(buffer.Size(), 0u);
  EXPECT_EQ(values_back, values);
  ASSERT_EQ(stats_back.size(), stats.size());
  for (size_t i = 0; i < stats.size(); ++i) {
    ASSERT_EQ(stats_back[i].ids.idA, i);
    ASSERT_EQ(stats_back[i].text, stats[i].text);
  }
}

TEST(FieldCodec, ClearFieldsResetsEveryFieldIncludingNestedIds) {
  StatInfo stat;
  stat.ids = IdTriple(1, 2, 3);
  stat.value1 = stat.value2 = stat.value3 = stat.value4 = 9;
  stat.text = "t";
  stat.ClearFields();
  EXPECT_EQ(Encoded(stat), Encoded(StatInfo()));

  RegionInfo region;
  region.ids = IdTriple(4, 5, 6);
  region.values = {1, 2};
  region.ClearFields();
  EXPECT_EQ(Encoded(region), (Bytes(16, 0)));
}

}  // namespace
}  // namespace vexil
