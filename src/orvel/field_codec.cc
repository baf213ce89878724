#include "orvel/field_codec.h"

#include <algorithm>
#include <limits>
#include <stdexcept>

#include "sync/check.h"

namespace vexil {

namespace {

// Reserving more than this at a time gains nothing: a copy of that size dwarfs one buffer call.
constexpr unsigned kMaxChunk = 1u << 20;

// A count that claims more bytes than are left fails with the count consumed, before the
// destination is touched.
template <typename Text>
bool DecodeCountedText(FieldReader& in, Text& value, uint32_t count) {
  using Unit = typename Text::value_type;
  if (in.Left() / sizeof(Unit) < count) return false;
  // Copied bytewise into the units: the wire bytes need not be aligned for Unit.
  value.resize(count);
  in.Read(value.data(), static_cast<unsigned>(count * sizeof(Unit)));
  return true;
}

bool DecodeCountedText(FieldReader& in, std::string& value, uint32_t count) {
  if (in.Left() < count) return false;
  value.assign(reinterpret_cast<const char*>(in.Data()), count);
  in.Skip(count);
  return true;
}

bool DecodeCharBuffer(FieldReader& in, CharBuffer& value, uint32_t count) {
  if (in.Left() < count) return false;
  value.Assign(reinterpret_cast<const char*>(in.Data()), count);
  in.Skip(count);
  return true;
}

// A count the reader would take as negative cannot be read back, so it is refused.
bool EncodeShortBytes(FieldWriter& out, const void* bytes, size_t n) {
  if (n > static_cast<size_t>(std::numeric_limits<int16_t>::max())) return false;
  EncodeField(out, static_cast<uint16_t>(n));
  out.Write(bytes, static_cast<unsigned>(n));
  return true;
}

// The 16-bit count, taken as signed: a negative count fails with its two bytes consumed.
bool DecodeShortCount(FieldReader& in, uint32_t& count) {
  int16_t wire = 0;
  if (!DecodeField(in, wire) || wire < 0) return false;
  count = static_cast<uint32_t>(wire);
  return true;
}

}  // namespace

void FieldWriter::Commit() {
  const unsigned pending = Pending();
  if (pending == 0) return;
  buffer_->Append(nullptr, pending);
  start_ = cursor_;
}

void FieldWriter::Grow(unsigned n) {
  Commit();
  const unsigned reserve = std::max(n, chunk_);
  buffer_->Reserve(reserve);
  chunk_ = std::min(chunk_ * 2, kMaxChunk);
  start_ = cursor_ = buffer_->Data() + buffer_->Size();
  room_ = reserve;
}

void SpanWriter::ThrowSpanOverrun() {
  CheckFailed();
  throw std::length_error("more written than counted");
}

bool EncodeField(FieldWriter& out, const long& value) {
  if (value < std::numeric_limits<int32_t>::min() || value > std::numeric_limits<int32_t>::max()) {
    return false;
  }
  return EncodeField(out, static_cast<int32_t>(value));
}

bool DecodeField(FieldReader& in, long& value) {
  int32_t wire = 0;
  if (!DecodeField(in, wire)) return false;
  value = wire;
  return true;
}

bool DecodeField(FieldReader& in, std::string& value) {
  uint32_t count = 0;
  if (!DecodeField(in, count)) return false;
  return DecodeCountedText(in, value, count);
}

bool EncodeField(FieldWriter& out, const std::u16string& value) {
  EncodeField(out, static_cast<uint32_t>(value.size()));
  out.Write(value.data(), static_cast<unsigned>(value.size() * sizeof(char16_t)));
  return true;
}

bool DecodeField(FieldReader& in, std::u16string& value) {
  uint32_t count = 0;
  if (!DecodeField(in, count)) return false;
  return DecodeCountedText(in, value, count);
}

bool EncodeField(FieldWriter& out, const BufferPtr& block) {
  EncodeField(out, block.Size());
  out.Write(block.Data(), block.Size());
  return true;
}

bool DecodeField(FieldReader& in, BufferPtr& block) {
  uint32_t count = 0;
  if (!DecodeField(in, count)) return false;
  if (in.Left() < count) return false;
  block.Append(in.Data(), count);
  in.Skip(count);
  return true;
}

bool EncodeField(FieldWriter& out, const CharBuffer& value) {
  const unsigned length = value.Length();
  EncodeField(out, uint32_t{length});
  out.Write(value.GetText(), length);
  return true;
}

bool DecodeField(FieldReader& in, CharBuffer& value) {
  uint32_t count = 0;
  if (!DecodeField(in, count)) return false;
  return DecodeCharBuffer(in, value, count);
}

bool EncodeShortText(FieldWriter& out, const std::string& value) {
  return EncodeShortBytes(out, value.data(), value.size());
}

bool DecodeShortText(FieldReader& in, std::string& value) {
  uint32_t count = 0;
  if (!DecodeShortCount(in, count)) return false;
  return DecodeCountedText(in, value, count);
}

bool EncodeShortText(FieldWriter& out, const CharBuffer& value) {
  return EncodeShortBytes(out, value.GetText(), value.Length());
}

bool DecodeShortText(FieldReader& in, CharBuffer& value) {
  uint32_t count = 0;
  if (!DecodeShortCount(in, count)) return false;
  return DecodeCharBuffer(in, value, count);
}

bool PutShortText(BufferPtr& buffer, const std::string& value) {
  return WriteWith(buffer, [&value](FieldWriter& out) { return EncodeShortText(out, value); });
}
bool GetShortText(std::string& value, BufferPtr& buffer) {
  return ReadWith(buffer, [&value](FieldReader& in) { return DecodeShortText(in, value); });
}
bool PutShortText(BufferPtr& buffer, const CharBuffer& value) {
  return WriteWith(buffer, [&value](FieldWriter& out) { return EncodeShortText(out, value); });
}
bool GetShortText(CharBuffer& value, BufferPtr& buffer) {
  return ReadWith(buffer, [&value](FieldReader& in) { return DecodeShortText(in, value); });
}

void ResetField(std::string& value) { value.clear(); }
void ResetField(std::u16string& value) { value.clear(); }

}  // namespace vexil
