// Byte helpers shared by the codec tests (tests/orvel, tests/uncalled).
#ifndef VEXIL_TESTS_SUPPORT_WIRE_H_
#define VEXIL_TESTS_SUPPORT_WIRE_H_

#include <cstdint>
#include <vector>

#include "util/buffer_ptr.h"

namespace vexil::testing {

using Bytes = std::vector<uint8_t>;

inline Bytes HeldBytes(const BufferPtr& buffer) {
  return Bytes(buffer.Data(), buffer.Data() + buffer.Size());
}

inline void AppendBytes(BufferPtr& buffer, const Bytes& bytes) {
  buffer.Append(bytes.data(), static_cast<unsigned>(bytes.size()));
}

}  // namespace vexil::testing

#endif  // VEXIL_TESTS_SUPPORT_WIRE_H_
