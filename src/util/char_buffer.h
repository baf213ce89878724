// A minimal heap narrow string: one pointer to a NUL-terminated text, with the capacity stored in
// a 32-bit word just before the first character. The length is found by scanning for the NUL.
#ifndef VEXIL_UTIL_CHAR_BUFFER_H_
#define VEXIL_UTIL_CHAR_BUFFER_H_

#include <cstdint>

namespace vexil {

class CharBuffer {
 public:
  // An empty text with room for 255 characters.
  CharBuffer();
  // Room for length characters (in steps of 256), holding the first length bytes of source.
  CharBuffer(const char* source, unsigned length);
  CharBuffer(const CharBuffer& other);
  CharBuffer& operator=(const CharBuffer& other);
  ~CharBuffer();

  // Copies length bytes of source and a NUL. source may point into this buffer's own text.
  void Assign(const char* source, unsigned length);
  // A null text is a check failure; if resumed, the text becomes empty.
  void Assign(const char* text);
  void Assign(const CharBuffer& other);
  // Afterwards at least n characters fit; the text is kept. A request whose block would not fit in
  // the address space fails like the allocator does when memory runs out (std::bad_alloc).
  void Reserve(unsigned n);

  unsigned Length() const;
  bool IsEmpty() const { return text_[0] == '\0'; }
  // Empties the text and keeps the capacity.
  void Clear() { text_[0] = '\0'; }
  uint32_t Capacity() const;
  const char* GetText() const { return text_; }
  char* GetText() { return text_; }

 private:
  // A block for n characters: capacity n with its low eight bits set, an empty text.
  static char* Allocate(unsigned n);
  static void Free(char* text);

  char* text_;  // Owned: the first character of a block made by Allocate.
};

}  // namespace vexil

#endif  // VEXIL_UTIL_CHAR_BUFFER_H_
