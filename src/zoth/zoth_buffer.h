// The byte buffer behind Zoth.dll ordinal 9: held bytes live in one heap block between a read
// position and a write position, so Data() is contiguous and writable and Consume() only moves
// the read position.
#ifndef VEXIL_ZOTH_ZOTH_BUFFER_H_
#define VEXIL_ZOTH_ZOTH_BUFFER_H_

#include <cstddef>
#include <cstdint>
#include <memory>

#include "util/byte_buffer.h"

namespace vexil {

// Each reference is its own object: a second reference (ordinal 9 given an existing buffer) is a
// copy of the held bytes, so references never share mutable state and may live on different
// threads without any locking. One reference is used by one thread at a time.
class ZothBuffer final : public ByteBuffer {
 public:
  // The only way to make one; the result is given up with Release, which deletes it.
  static ByteBuffer* Create(ByteBuffer* copy_from);

  ZothBuffer(const ZothBuffer&) = delete;
  ZothBuffer& operator=(const ZothBuffer&) = delete;

  void Release() override;
  uint8_t* Data() override;
  unsigned Size() override;
  void Reserved3() override {}
  void Reserved4() override {}
  void Reserved5() override {}
  void Reserved6() override {}
  void Assign(ByteBuffer* source) override;
  void Reserve(unsigned n) override;
  void Reserved9() override {}
  // A null source commits at most the bytes that a Reserve made writable: committing more would
  // expose memory outside the block.
  void Append(const void* source, unsigned n) override;
  // Consuming more than Size() drops every held byte and no more.
  void Consume(unsigned n) override;

  // Bytes the block holds (held, consumed and spare), for tests of the growth policy.
  size_t capacity() const { return capacity_; }

 private:
  ZothBuffer() = default;
  ~ZothBuffer() = default;

  size_t held() const { return end_ - begin_; }
  // Makes n writable bytes follow the held ones: slides the held bytes to the front when the
  // consumed space is at least as large as them (so every byte is moved at most once per byte
  // consumed), otherwise moves them into a block at least twice as large.
  void MakeRoom(size_t n);

  std::unique_ptr<uint8_t[]> block_;
  size_t capacity_ = 0;
  size_t begin_ = 0;  // first held byte
  size_t end_ = 0;    // one past the last held byte
};

}  // namespace vexil

#endif  // VEXIL_ZOTH_ZOTH_BUFFER_H_
