// The byte stream every message is encoded into and decoded from. The object lives in Zoth.dll
// (ordinal 9); this is its binary interface, so the virtual slots keep their exact order, with
// placeholders for the slots this system never calls (tests/util/byte_buffer_test.cc holds the
// order). There is no virtual destructor: a buffer is given up through Release.
#ifndef VEXIL_UTIL_BYTE_BUFFER_H_
#define VEXIL_UTIL_BYTE_BUFFER_H_

#include <cstdint>

namespace vexil {

class ByteBuffer {
 public:
  // Slot 0: gives up this reference.
  virtual void Release() = 0;
  // Slot 1: the first unconsumed byte; every held byte is contiguous and writable from here.
  virtual uint8_t* Data() = 0;
  // Slot 2: the number of held (unconsumed) bytes.
  virtual unsigned Size() = 0;
  // Slots 3 to 6: not called by this system.
  virtual void Reserved3() = 0;
  virtual void Reserved4() = 0;
  virtual void Reserved5() = 0;
  virtual void Reserved6() = 0;
  // Slot 7: afterwards this buffer holds the same bytes as source.
  virtual void Assign(ByteBuffer* source) = 0;
  // Slot 8: afterwards n writable bytes follow Data() + Size().
  virtual void Reserve(unsigned n) = 0;
  // Slot 9: not called by this system.
  virtual void Reserved9() = 0;
  // Slot 10: appends n bytes copied from source; with a null source, the n bytes already written
  // after the held ones (within a Reserve) become held, uncopied.
  virtual void Append(const void* source, unsigned n) = 0;
  // Slot 11: drops n bytes from the front; Data() moves past them.
  virtual void Consume(unsigned n) = 0;

 protected:
  ~ByteBuffer() = default;
};

}  // namespace vexil

extern "C" {
// Zoth.dll ordinal 9 (exported by ordinal only): with null, a new empty buffer; with an existing
// buffer, a reference through which the same bytes can be read. Each result is given up with
// Release.
vexil::ByteBuffer* ZothCreateBuffer(vexil::ByteBuffer* share);
}

#endif  // VEXIL_UTIL_BYTE_BUFFER_H_
