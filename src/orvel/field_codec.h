// The Orvel field codecs: how each field type is written to and read from a byte buffer.
//
// The wire form is positional and untagged: little-endian integers and IEEE floats as they lie in
// memory, texts and lists as a uint32 count followed by their bytes or elements, records as the
// concatenation of their fields. A record type describes its fields once, with a static template
//
//   template <typename Self, typename Visit>
//   static bool Fields(Self& self, Visit&& visit) {
//     return visit("idA", self.idA) && visit("gsid", self.gsid) && ...;
//   }
//
// and the encoder, the decoder, the field reset and the text rendering are all derived from it.
//
// Writers and readers work through a FieldWriter or a FieldReader, which keep a cursor over the
// buffer's storage so that a record costs a few bounds checks and copies instead of one virtual
// buffer call per field. PutField and GetField are the one-field forms over a BufferPtr.
#ifndef VEXIL_ORVEL_FIELD_CODEC_H_
#define VEXIL_ORVEL_FIELD_CODEC_H_

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "util/buffer_ptr.h"
#include "util/char_buffer.h"

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "the wire form is the in-memory form of a little-endian host");

namespace vexil {

// Writes at the end of a buffer it does not own. Bytes go straight into space reserved behind the
// held bytes and become held at Commit (or destruction); until then the buffer's Size does not
// include them and the buffer must not be touched through any other path.
class FieldWriter {
 public:
  // The first reservation a writer makes: a buffer with at least this much room behind its held
  // bytes takes that many bytes from a new writer without growing.
  static constexpr unsigned kFirstChunk = 256;

  explicit FieldWriter(BufferPtr& buffer) : buffer_(&buffer) {}
  FieldWriter(const FieldWriter&) = delete;
  FieldWriter& operator=(const FieldWriter&) = delete;
  ~FieldWriter() { Commit(); }

  void Write(const void* source, unsigned n) {
    if (n > room_) Grow(n);
    if (n != 0) std::memcpy(cursor_, source, n);
    cursor_ += n;
    room_ -= n;
  }

  // Makes room for n more bytes now, so that writes up to that total need no further growth.
  void Expect(unsigned n) {
    if (n > room_) Grow(n);
  }

  // Makes every byte written so far held by the buffer.
  void Commit();

  // The buffer's Size once everything written so far is committed.
  unsigned Size() const { return buffer_->Size() + Pending(); }

 private:
  unsigned Pending() const { return static_cast<unsigned>(cursor_ - start_); }
  // Commits, then reserves room for at least n more bytes.
  void Grow(unsigned n);

  BufferPtr* buffer_;
  uint8_t* start_ = nullptr;      // first uncommitted byte, inside the buffer's reserved space
  uint8_t* cursor_ = nullptr;     // next byte to write
  unsigned room_ = 0;             // reserved bytes left after cursor_
  unsigned chunk_ = kFirstChunk;  // next reservation; doubles up to a limit
};

// Writes into a span of memory whose size the caller counted beforehand: no buffer call at all.
// Writing more than the span holds is a caller's bug: the internal check, then std::length_error,
// with nothing written beyond. Its failure path is a free function, not a member, so that the
// writer never escapes and the compiler keeps its cursor in registers across the copies.
class SpanWriter {
 public:
  SpanWriter(uint8_t* data, unsigned size) : start_(data), cursor_(data), end_(data + size) {}
  SpanWriter(const SpanWriter&) = delete;
  SpanWriter& operator=(const SpanWriter&) = delete;

  void Write(const void* source, unsigned n) {
    if (n > static_cast<size_t>(end_ - cursor_)) ThrowSpanOverrun();
    if (n != 0) std::memcpy(cursor_, source, n);
    cursor_ += n;
  }
  // The span is all the room there is: nothing to reserve.
  void Expect(unsigned) {}
  // The bytes written.
  unsigned Size() const { return static_cast<unsigned>(cursor_ - start_); }

 private:
  [[noreturn]] static void ThrowSpanOverrun();

  uint8_t* const start_;
  uint8_t* cursor_;
  uint8_t* const end_;
};

// Reads from the front of a buffer it does not own. Consumption is counted here and applied to
// the buffer by the owner of the reader (GetField, ReadFrame), so that a failed read leaves
// exactly the bytes that a field-by-field reader would have consumed.
class FieldReader {
 public:
  FieldReader(const uint8_t* data, unsigned size) : cursor_(data), left_(size) {}
  explicit FieldReader(const BufferPtr& buffer) : FieldReader(buffer.Data(), buffer.Size()) {}

  // Copies n bytes out and consumes them; with fewer than n left, consumes nothing.
  bool Read(void* destination, unsigned n) {
    if (left_ < n) return false;
    if (n != 0) std::memcpy(destination, cursor_, n);
    Skip(n);
    return true;
  }
  const uint8_t* Data() const { return cursor_; }
  unsigned Left() const { return left_; }
  unsigned Consumed() const { return consumed_; }
  // Only with n no greater than Left().
  void Skip(unsigned n) {
    cursor_ += n;
    left_ -= n;
    consumed_ += n;
  }

 private:
  const uint8_t* cursor_;
  unsigned left_;
  unsigned consumed_ = 0;
};

// The in-memory forms of the fixed pair and quadruple of int32.
struct Int32Pair {
  int32_t first = 0;
  int32_t second = 0;
};
struct Int32Quad {
  int32_t first = 0;
  int32_t second = 0;
  int32_t third = 0;
  int32_t fourth = 0;
};

namespace orvel_detail {

static_assert(sizeof(short) == 2 && sizeof(int) == 4 && sizeof(long long) == 8,
              "the fixed-width types have the widths of the wire");

template <typename T, typename... Of>
constexpr bool kIsOneOf = (std::is_same_v<T, Of> || ...);

// The writers every inline encoder below serves; the others take a FieldWriter alone.
template <typename Writer>
constexpr bool kIsWriter = kIsOneOf<Writer, FieldWriter, SpanWriter>;

// Types whose wire form is their in-memory bytes: the integers of 1, 2, 4 and 8 bytes (the 8-byte
// ones are the long long types: int64_t is long on 64-bit Linux, which travels in 4 bytes), the
// IEEE floats, 32-bit enumerations (message tags), and the int32 pair and quadruple. Not bool,
// long, wchar_t or long double, whose wire forms are not their in-memory bytes on every build.
template <typename T, bool = std::is_enum<T>::value>
struct IsFixed
    : std::integral_constant<
          bool, kIsOneOf<T, char, signed char, unsigned char, short, unsigned short, int, unsigned,
                         long long, unsigned long long, float, double, Int32Pair, Int32Quad>> {};
template <typename T>
struct IsFixed<T, true> : std::integral_constant<bool, sizeof(T) == 4> {};

// A visitor that accepts any field; only used to detect a record's field description.
struct AnyField {
  template <typename F>
  bool operator()(const char*, F&) const {
    return true;
  }
};
template <typename T, typename = void>
struct IsRecord : std::false_type {};
template <typename T>
struct IsRecord<T, decltype(void(T::Fields(std::declval<T&>(), AnyField{})))> : std::true_type {};

template <typename T, typename = void>
struct HasClearFields : std::false_type {};
template <typename T>
struct HasClearFields<T, decltype(std::declval<T&>().ClearFields())> : std::true_type {};

}  // namespace orvel_detail

// Fixed-width types: every integer, float, message tag, and the int32 pair and quadruple.
template <typename Writer, typename T>
std::enable_if_t<orvel_detail::kIsWriter<Writer> && orvel_detail::IsFixed<T>::value, bool>
EncodeField(Writer& out, const T& value) {
  out.Write(&value, sizeof(T));
  return true;
}
template <typename T>
std::enable_if_t<orvel_detail::IsFixed<T>::value, bool> DecodeField(FieldReader& in, T& value) {
  return in.Read(&value, sizeof(T));
}

// bool: one byte; any non-zero byte reads as true.
template <typename Writer>
std::enable_if_t<orvel_detail::kIsWriter<Writer>, bool> EncodeField(Writer& out,
                                                                    const bool& value) {
  const uint8_t byte = value ? 1 : 0;
  out.Write(&byte, 1);
  return true;
}
inline bool DecodeField(FieldReader& in, bool& value) {
  uint8_t byte = 0;
  if (!in.Read(&byte, 1)) return false;
  value = byte != 0;
  return true;
}

// long: 4 bytes on the wire whatever its width here; a value outside the int32 range is refused
// rather than cut.
bool EncodeField(FieldWriter& out, const long& value);
bool DecodeField(FieldReader& in, long& value);

// Text: uint32 byte count, then the bytes. A reader whose count is larger than what is left has
// consumed the count and allocates nothing. A borrowed text (string_view) is written the same way.
template <typename Writer>
std::enable_if_t<orvel_detail::kIsWriter<Writer>, bool> EncodeField(Writer& out,
                                                                    std::string_view value) {
  EncodeField(out, static_cast<uint32_t>(value.size()));
  out.Write(value.data(), static_cast<unsigned>(value.size()));
  return true;
}
template <typename Writer>
std::enable_if_t<orvel_detail::kIsWriter<Writer>, bool> EncodeField(Writer& out,
                                                                    const std::string& value) {
  return EncodeField(out, std::string_view(value));
}
bool DecodeField(FieldReader& in, std::string& value);

// Wide text: uint32 count of UTF-16 code units, then the units little-endian.
bool EncodeField(FieldWriter& out, const std::u16string& value);
bool DecodeField(FieldReader& in, std::u16string& value);

// Byte block: uint32 byte count, then the bytes. The reader appends them after what the block
// already holds; the block must not be the buffer being read.
bool EncodeField(FieldWriter& out, const BufferPtr& block);
bool DecodeField(FieldReader& in, BufferPtr& block);

// CharBuffer: a text like std::string. The text ends at its first NUL, so a decoded text that
// holds a zero byte reads back shorter.
bool EncodeField(FieldWriter& out, const CharBuffer& value);
bool DecodeField(FieldReader& in, CharBuffer& value);

// Text with a 16-bit count, as std::string or CharBuffer. The reader takes the count as signed:
// 32768 or more fails (with the count consumed); the writer refuses such a text.
bool EncodeShortText(FieldWriter& out, const std::string& value);
bool DecodeShortText(FieldReader& in, std::string& value);
bool EncodeShortText(FieldWriter& out, const CharBuffer& value);
bool DecodeShortText(FieldReader& in, CharBuffer& value);

// Records: the fields in declaration order, stopping at the first failure.
template <typename Writer, typename T>
std::enable_if_t<orvel_detail::kIsWriter<Writer> && orvel_detail::IsRecord<T>::value, bool>
EncodeField(Writer& out, const T& record) {
  return T::Fields(record,
                   [&out](const char*, const auto& field) { return EncodeField(out, field); });
}
template <typename T>
std::enable_if_t<orvel_detail::IsRecord<T>::value, bool> DecodeField(FieldReader& in, T& record) {
  return T::Fields(record, [&in](const char*, auto& field) { return DecodeField(in, field); });
}

// Lists: uint32 element count, then each element first to last.
template <typename Writer, typename T>
std::enable_if_t<orvel_detail::kIsWriter<Writer>, bool> EncodeField(Writer& out,
                                                                    const std::vector<T>& list) {
  const uint32_t count = static_cast<uint32_t>(list.size());
  EncodeField(out, count);
  if constexpr (orvel_detail::IsFixed<T>::value) {
    out.Write(list.data(), static_cast<unsigned>(count * sizeof(T)));
    return true;
  } else {
    if (list.empty()) return true;
    const unsigned before = out.Size();
    if (!EncodeField(out, list.front())) return false;
    // The other elements are taken to be the size of the first: one reservation for the list
    // instead of a growth step every time the room runs out. Capped, so an odd first element
    // cannot reserve wildly.
    constexpr uint64_t kMaxExpected = 16u << 20;
    const uint64_t expected = uint64_t{out.Size() - before} * (count - 1);
    out.Expect(static_cast<unsigned>(std::min(expected, kMaxExpected)));
    for (size_t i = 1; i < list.size(); ++i) {
      if (!EncodeField(out, list[i])) return false;
    }
    return true;
  }
}
// The count is checked against the bytes left before anything is allocated; elements of other
// types are appended as they decode, so memory follows the bytes actually held.
template <typename T>
bool DecodeField(FieldReader& in, std::vector<T>& list) {
  uint32_t count = 0;
  if (!DecodeField(in, count)) return false;
  list.clear();
  if constexpr (orvel_detail::IsFixed<T>::value) {
    if (in.Left() / sizeof(T) < count) return false;
    list.resize(count);
    return in.Read(list.data(), static_cast<unsigned>(count * sizeof(T)));
  } else {
    for (uint32_t i = 0; i < count; ++i) {
      if (in.Left() == 0) return false;
      list.emplace_back();
      if (!DecodeField(in, list.back())) return false;
    }
    return true;
  }
}

// Sets every field of a record to its constructed value: numbers 0, texts and lists empty, and
// nested records through their own ClearFields when they have one.
void ResetField(std::string& value);
void ResetField(std::u16string& value);
template <typename T>
std::enable_if_t<orvel_detail::IsFixed<T>::value || std::is_same<T, bool>::value ||
                 std::is_same<T, long>::value>
ResetField(T& value) {
  value = T{};
}
template <typename T>
void ResetField(std::vector<T>& list) {
  list.clear();
}
template <typename T>
std::enable_if_t<orvel_detail::IsRecord<T>::value> ResetFields(T& record) {
  T::Fields(record, [](const char*, auto& field) {
    ResetField(field);
    return true;
  });
}
template <typename T>
std::enable_if_t<orvel_detail::IsRecord<T>::value> ResetField(T& record) {
  if constexpr (orvel_detail::HasClearFields<T>::value) {
    record.ClearFields();
  } else {
    ResetFields(record);
  }
}

// Runs encode(FieldWriter&) at the end of buffer; the bytes it wrote are held afterwards.
template <typename Encode>
bool WriteWith(BufferPtr& buffer, Encode&& encode) {
  FieldWriter out(buffer);
  return encode(out);
}
// Runs decode(FieldReader&) on the front of buffer, then consumes what it read, whether or not it
// succeeded.
template <typename Decode>
bool ReadWith(BufferPtr& buffer, Decode&& decode) {
  FieldReader in(buffer);
  const bool ok = decode(in);
  buffer.Consume(in.Consumed());
  return ok;
}

// One field written at the end of buffer. Only writers that can refuse a value return false.
template <typename T>
bool PutField(BufferPtr& buffer, const T& value) {
  return WriteWith(buffer, [&value](FieldWriter& out) { return EncodeField(out, value); });
}
// One field read from the front of buffer: true when it was read and its bytes consumed. On
// false the buffer has lost what the reader consumed before it failed (nothing, for fixed-width
// types; the count, for a text longer than what is held).
template <typename T>
bool GetField(T& value, BufferPtr& buffer) {
  return ReadWith(buffer, [&value](FieldReader& in) { return DecodeField(in, value); });
}

bool PutShortText(BufferPtr& buffer, const std::string& value);
bool GetShortText(std::string& value, BufferPtr& buffer);
bool PutShortText(BufferPtr& buffer, const CharBuffer& value);
bool GetShortText(CharBuffer& value, BufferPtr& buffer);

}  // namespace vexil

#endif  // VEXIL_ORVEL_FIELD_CODEC_H_
