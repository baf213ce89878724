#include "sync/last_error.h"

#ifdef _WIN32
#include "sync/win32.h"
#else
#include <cerrno>
#endif

namespace vexil {

#ifdef _WIN32

uint32_t LastErrorCode() { return ::GetLastError(); }
void SetLastErrorCode(uint32_t code) { ::SetLastError(code); }

#else

// errno is what the system calls of the POSIX layer report through, as GetLastError is on Windows.
uint32_t LastErrorCode() { return static_cast<uint32_t>(errno); }
void SetLastErrorCode(uint32_t code) { errno = static_cast<int>(code); }

#endif

}  // namespace vexil
