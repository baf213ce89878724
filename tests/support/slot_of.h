// The slot a virtual member occupies in its class's table: the tests of the two binary interfaces
// whose slot order is fixed, the host callback interface (tests/agent) and the byte buffer that
// Zoth.dll implements (tests/util).
#ifndef VEXIL_TESTS_SUPPORT_SLOT_OF_H_
#define VEXIL_TESTS_SUPPORT_SLOT_OF_H_

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace vexil::testing {

// The index of the virtual slot a pointer to a virtual member names. In the Itanium C++ ABI
// (GCC, also MinGW-w64) such a pointer holds 1 plus the slot's byte offset in the table.
template <typename MemberPointer>
size_t SlotOf(MemberPointer member) {
  struct Representation {
    uintptr_t pointer;
    ptrdiff_t adjustment;
  };
  static_assert(sizeof(MemberPointer) == sizeof(Representation));
  Representation representation;
  std::memcpy(&representation, &member, sizeof representation);
  return (representation.pointer - 1) / sizeof(void*);
}

}  // namespace vexil::testing

#endif  // VEXIL_TESTS_SUPPORT_SLOT_OF_H_
