#include "util/char_buffer.h"

#include <cstddef>
#include <cstring>
#include <new>

#include "sync/check.h"

namespace vexil {
namespace {
constexpr size_t kWordSize = sizeof(uint32_t);
}  // namespace

char* CharBuffer::Allocate(unsigned n) {
  const uint32_t capacity = n | 0xFFu;
  // The capacity word, the characters and the NUL; on a 32-bit system the largest capacity would
  // wrap this sum to a tiny block.
  const uint64_t bytes = uint64_t{capacity} + kWordSize + 1;
  if (bytes > SIZE_MAX) throw std::bad_alloc();
  char* block = static_cast<char*>(::operator new(static_cast<size_t>(bytes)));
  std::memcpy(block, &capacity, kWordSize);
  char* text = block + kWordSize;
  text[0] = '\0';
  return text;
}

void CharBuffer::Free(char* text) { ::operator delete(text - kWordSize); }

CharBuffer::CharBuffer() : text_(Allocate(0)) {}

CharBuffer::CharBuffer(const char* source, unsigned length) : text_(Allocate(length)) {
  Assign(source, length);
}

CharBuffer::CharBuffer(const CharBuffer& other) : text_(Allocate(other.Length())) { Assign(other); }

CharBuffer& CharBuffer::operator=(const CharBuffer& other) {
  Assign(other);
  return *this;
}

CharBuffer::~CharBuffer() { Free(text_); }

void CharBuffer::Assign(const char* source, unsigned length) {
  // Within its own text a source is never longer than the capacity, so Reserve keeps it in place.
  Reserve(length);
  std::memmove(text_, source, length);
  text_[length] = '\0';
}

void CharBuffer::Assign(const char* text) {
  if (text == nullptr) {
    CheckFailed();
    Clear();
    return;
  }
  Assign(text, static_cast<unsigned>(std::strlen(text)));
}

void CharBuffer::Assign(const CharBuffer& other) { Assign(other.text_, other.Length()); }

void CharBuffer::Reserve(unsigned n) {
  if (Capacity() >= n) return;
  char* text = Allocate(n);
  const size_t length = std::strlen(text_);
  std::memcpy(text, text_, length + 1);
  Free(text_);
  text_ = text;
}

unsigned CharBuffer::Length() const { return static_cast<unsigned>(std::strlen(text_)); }

uint32_t CharBuffer::Capacity() const {
  uint32_t capacity;
  std::memcpy(&capacity, text_ - kWordSize, kWordSize);
  return capacity;
}

}  // namespace vexil
