#include "uncalled/orvel/ole_field_codec.h"

#include <gtest/gtest.h>

#include "sync/win32.h"

#include <oleauto.h>

#include "support/wire.h"
#include "sync/last_error.h"

namespace vexil {
namespace {

using testing::AppendBytes;
using testing::Bytes;
using testing::HeldBytes;

// Owns one VARIANT and clears it at the end.
struct ScopedVariant {
  ScopedVariant() { ::VariantInit(&value); }
  ~ScopedVariant() { ::VariantClear(&value); }
  VARIANT value;
};

TEST(OleFieldCodec, ByteArrayVariantRoundTrips) {
  ScopedVariant source;
  source.value.vt = VT_ARRAY | VT_UI1;
  source.value.parray = ::SafeArrayCreateVector(VT_UI1, 0, 3);
  ASSERT_NE(source.value.parray, nullptr);
  uint8_t* bytes = nullptr;
  ASSERT_EQ(::SafeArrayAccessData(source.value.parray, reinterpret_cast<void**>(&bytes)), S_OK);
  bytes[0] = 1;
  bytes[1] = 0;
  bytes[2] = 0xFF;
  ::SafeArrayUnaccessData(source.value.parray);

  BufferPtr buffer;
  ASSERT_TRUE(PutField(buffer, source.value));
  EXPECT_EQ(HeldBytes(buffer), (Bytes{3, 0, 0, 0, 1, 0, 0xFF}));

  ScopedVariant back;
  back.value.vt = VT_I4;
  ASSERT_TRUE(GetField(back.value, buffer));
  EXPECT_EQ(back.value.vt, VT_ARRAY | VT_UI1);
  LONG upper = -1;
  ASSERT_EQ(::SafeArrayGetUBound(back.value.parray, 1, &upper), S_OK);
  EXPECT_EQ(upper, 2);
  ASSERT_EQ(::SafeArrayAccessData(back.value.parray, reinterpret_cast<void**>(&bytes)), S_OK);
  EXPECT_EQ(Bytes(bytes, bytes + 3), (Bytes{1, 0, 0xFF}));
  ::SafeArrayUnaccessData(back.value.parray);
}

TEST(OleFieldCodec, VariantWriterRefusesOtherTypesAndElementSizes) {
  ScopedVariant number;
  number.value.vt = VT_I4;
  number.value.lVal = 5;
  ScopedVariant words;
  words.value.vt = VT_ARRAY | VT_UI2;
  words.value.parray = ::SafeArrayCreateVector(VT_UI2, 0, 2);
  ScopedVariant disguised;  // claims bytes, holds 16-bit elements
  disguised.value.vt = VT_ARRAY | VT_UI1;
  disguised.value.parray = ::SafeArrayCreateVector(VT_UI2, 0, 2);
  ScopedVariant empty_array;  // the right type without an array
  empty_array.value.vt = VT_ARRAY | VT_UI1;
  empty_array.value.parray = nullptr;
  for (const VARIANT* value : {&number.value, &words.value, &disguised.value, &empty_array.value}) {
    BufferPtr buffer;
    SetLastErrorCode(0);
    EXPECT_FALSE(PutField(buffer, *value));
    EXPECT_EQ(LastErrorCode(), kErrorInvalidData);
    EXPECT_EQ(buffer.Size(), 0u);
  }
  empty_array.value.vt = VT_EMPTY;
}

TEST(OleFieldCodec, BstrCarriesItsByteLength) {
  BSTR odd = ::SysAllocStringByteLen("abc", 3);
  BufferPtr buffer;
  ASSERT_TRUE(PutBstr(buffer, odd));
  ASSERT_TRUE(PutBstr(buffer, nullptr));
  EXPECT_EQ(HeldBytes(buffer), (Bytes{3, 0, 0, 0, 'a', 'b', 'c', 0, 0, 0, 0}));
  ::SysFreeString(odd);

  BSTR back = ::SysAllocString(L"old");
  ASSERT_TRUE(GetBstr(back, buffer));
  EXPECT_EQ(::SysStringByteLen(back), 3u);
  EXPECT_EQ(std::memcmp(back, "abc", 3), 0);
  ASSERT_TRUE(GetBstr(back, buffer));
  EXPECT_EQ(::SysStringByteLen(back), 0u);

  AppendBytes(buffer, {5, 0, 0, 0, 'x'});
  BSTR kept = back;
  EXPECT_FALSE(GetBstr(back, buffer));
  EXPECT_EQ(back, kept);
  EXPECT_EQ(HeldBytes(buffer), (Bytes{'x'}));
  ::SysFreeString(back);
}

}  // namespace
}  // namespace vexil
