// The calling thread's last-error value: the system's (and WinSock's, the same per-thread value) in
// the Windows build, errno in the POSIX build. System calls change it on both.
#ifndef VEXIL_SYNC_LAST_ERROR_H_
#define VEXIL_SYNC_LAST_ERROR_H_

#include <cstdint>

namespace vexil {

uint32_t LastErrorCode();
void SetLastErrorCode(uint32_t code);

// Codes the platform-free core reports through the last-error value.
constexpr uint32_t kErrorInvalidData = 13;        // ERROR_INVALID_DATA
constexpr uint32_t kErrorIncompleteFrame = 1237;  // ERROR_RETRY: wait for more bytes
constexpr uint32_t kErrorMalformedFrame = 11;     // ERROR_BAD_FORMAT
constexpr uint32_t kErrorAlreadyInitialized = 1247;

}  // namespace vexil

#endif  // VEXIL_SYNC_LAST_ERROR_H_
