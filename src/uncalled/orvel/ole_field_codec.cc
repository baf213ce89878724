#include "uncalled/orvel/ole_field_codec.h"

#include "sync/win32.h"

#include <oleauto.h>

#include "sync/last_error.h"

namespace vexil {

namespace {

constexpr VARTYPE kByteArray = VT_ARRAY | VT_UI1;

// Keeps a SAFEARRAY's data locked for as long as it lives.
class ArrayData {
 public:
  explicit ArrayData(SAFEARRAY* array) : array_(array) {
    if (FAILED(::SafeArrayAccessData(array_, &data_))) data_ = nullptr;
  }
  ArrayData(const ArrayData&) = delete;
  ArrayData& operator=(const ArrayData&) = delete;
  ~ArrayData() {
    if (data_ != nullptr) ::SafeArrayUnaccessData(array_);
  }
  void* get() const { return data_; }

 private:
  SAFEARRAY* array_;  // Borrowed.
  void* data_ = nullptr;
};

// The number of elements over every dimension.
uint64_t ElementCount(const SAFEARRAY* array) {
  uint64_t count = 1;
  for (USHORT d = 0; d < array->cDims; ++d) count *= array->rgsabound[d].cElements;
  return count;
}

}  // namespace

bool EncodeField(FieldWriter& out, const VARIANT& value) {
  SAFEARRAY* array = value.vt == kByteArray ? value.parray : nullptr;
  if (array == nullptr || ::SafeArrayGetElemsize(array) != 1) {
    SetLastErrorCode(kErrorInvalidData);
    return false;
  }
  const uint64_t count = ElementCount(array);
  const ArrayData data(array);
  if (count > 0xFFFFFFFFu || (count != 0 && data.get() == nullptr)) {
    SetLastErrorCode(kErrorInvalidData);
    return false;
  }
  EncodeField(out, static_cast<uint32_t>(count));
  out.Write(data.get(), static_cast<unsigned>(count));
  return true;
}

bool DecodeField(FieldReader& in, VARIANT& value) {
  uint32_t count = 0;
  if (!DecodeField(in, count)) return false;
  if (in.Left() < count) return false;
  SAFEARRAY* array = ::SafeArrayCreateVector(VT_UI1, 0, count);
  if (array == nullptr) return false;
  {
    const ArrayData data(array);
    if (data.get() == nullptr) {
      ::SafeArrayDestroy(array);
      return false;
    }
    if (count != 0) std::memcpy(data.get(), in.Data(), count);
  }
  ::VariantClear(&value);
  value.vt = kByteArray;
  value.parray = array;  // Owned by value from here on.
  in.Skip(count);
  return true;
}

bool EncodeBstr(FieldWriter& out, const wchar_t* bstr) {
  const UINT length = ::SysStringByteLen(const_cast<BSTR>(bstr));
  EncodeField(out, uint32_t{length});
  out.Write(bstr, length);
  return true;
}

bool DecodeBstr(FieldReader& in, wchar_t*& bstr) {
  uint32_t count = 0;
  if (!DecodeField(in, count)) return false;
  if (in.Left() < count) return false;
  BSTR copy = ::SysAllocStringByteLen(reinterpret_cast<const char*>(in.Data()), count);
  if (copy == nullptr) return false;
  ::SysFreeString(bstr);
  bstr = copy;  // Owned by the caller.
  in.Skip(count);
  return true;
}

bool PutBstr(BufferPtr& buffer, const wchar_t* bstr) {
  return WriteWith(buffer, [bstr](FieldWriter& out) { return EncodeBstr(out, bstr); });
}

bool GetBstr(wchar_t*& bstr, BufferPtr& buffer) {
  return ReadWith(buffer, [&bstr](FieldReader& in) { return DecodeBstr(in, bstr); });
}

}  // namespace vexil
