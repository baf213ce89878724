#include "zoth/zoth_buffer.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <new>

namespace vexil {

ByteBuffer* ZothBuffer::Create(ByteBuffer* copy_from) {
  // Released, not deleted, if copying the source runs out of memory.
  struct Releaser {
    void operator()(ZothBuffer* buffer) const { buffer->Release(); }
  };
  std::unique_ptr<ZothBuffer, Releaser> buffer(new ZothBuffer());
  if (copy_from != nullptr) buffer->Assign(copy_from);
  return buffer.release();
}

// Ownership comes back from the caller: this reference was the buffer's only one.
void ZothBuffer::Release() { delete this; }

uint8_t* ZothBuffer::Data() { return block_.get() + begin_; }

unsigned ZothBuffer::Size() { return static_cast<unsigned>(held()); }

void ZothBuffer::Assign(ByteBuffer* source) {
  if (source == this) return;
  const unsigned n = source->Size();
  begin_ = end_ = 0;
  if (n == 0) return;
  MakeRoom(n);
  std::memcpy(block_.get(), source->Data(), n);
  end_ = n;
}

void ZothBuffer::Reserve(unsigned n) {
  if (capacity_ - end_ < n) MakeRoom(n);
}

void ZothBuffer::Append(const void* source, unsigned n) {
  if (source == nullptr) {
    end_ += std::min<size_t>(n, capacity_ - end_);
    return;
  }
  if (n == 0) return;
  if (capacity_ - end_ < n) {
    const auto* bytes = static_cast<const uint8_t*>(source);
    const std::less<const uint8_t*> before;
    if (!before(bytes, block_.get()) && before(bytes, block_.get() + capacity_)) {
      // The source lies in this block, which MakeRoom is about to move or free.
      std::unique_ptr<uint8_t[]> copy(new uint8_t[n]);
      std::memcpy(copy.get(), bytes, n);
      MakeRoom(n);
      std::memcpy(block_.get() + end_, copy.get(), n);
      end_ += n;
      return;
    }
    MakeRoom(n);
  }
  std::memmove(block_.get() + end_, source, n);
  end_ += n;
}

void ZothBuffer::Consume(unsigned n) {
  begin_ += std::min<size_t>(n, held());
  // An emptied buffer starts again at the front of its block, at no cost.
  if (begin_ == end_) begin_ = end_ = 0;
}

void ZothBuffer::MakeRoom(size_t n) {
  const size_t live = held();
  // On a 32-bit system live + n can wrap to a block smaller than promised: fail as the
  // allocator does when memory runs out.
  if (n > SIZE_MAX - live) throw std::bad_alloc();
  if (capacity_ - live >= n && begin_ >= live) {
    std::memmove(block_.get(), block_.get() + begin_, live);
  } else {
    const size_t capacity = std::max({capacity_ * 2, live + n, size_t{64}});
    std::unique_ptr<uint8_t[]> block(new uint8_t[capacity]);
    if (live != 0) std::memcpy(block.get(), block_.get() + begin_, live);
    block_ = std::move(block);
    capacity_ = capacity;
  }
  begin_ = 0;
  end_ = live;
}

}  // namespace vexil
