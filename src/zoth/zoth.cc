// Ordinal 9 of Zoth.dll (and, in the native build, the same function linked statically).
#include "util/byte_buffer.h"
#include "zoth/zoth_buffer.h"

extern "C" vexil::ByteBuffer* ZothCreateBuffer(vexil::ByteBuffer* share) {
  return vexil::ZothBuffer::Create(share);
}
