// The owning holder of one ByteBuffer reference.
#ifndef VEXIL_UTIL_BUFFER_PTR_H_
#define VEXIL_UTIL_BUFFER_PTR_H_

#include <cstdint>

#include "util/byte_buffer.h"

namespace vexil {

class BufferPtr {
 public:
  // A new empty buffer.
  BufferPtr() : buffer_(ZothCreateBuffer(nullptr)) {}
  // A second reference that reads the same bytes as other's.
  BufferPtr(const BufferPtr& other) : buffer_(ZothCreateBuffer(other.buffer_)) {}
  BufferPtr& operator=(const BufferPtr&) = delete;
  ~BufferPtr() {
    if (buffer_ != nullptr) buffer_->Release();
  }

  // Copies other's bytes into this buffer; the held pointer is unchanged.
  void Assign(const BufferPtr& other) { buffer_->Assign(other.buffer_); }

  uint8_t* Data() const { return buffer_->Data(); }
  unsigned Size() const { return buffer_->Size(); }
  void Append(const void* source, unsigned n) { buffer_->Append(source, n); }
  void Reserve(unsigned n) { buffer_->Reserve(n); }
  void Consume(unsigned n) { buffer_->Consume(n); }
  void Clear() { buffer_->Consume(buffer_->Size()); }
  ByteBuffer* Get() const { return buffer_; }

 private:
  ByteBuffer* buffer_;
};

}  // namespace vexil

#endif  // VEXIL_UTIL_BUFFER_PTR_H_
