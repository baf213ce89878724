#include "sync/last_error.h"

#ifdef _WIN32
#include "sync/win32.h"
#endif

namespace vexil {

#ifdef _WIN32

uint32_t LastErrorCode() { return ::GetLastError(); }
void SetLastErrorCode(uint32_t code) { ::SetLastError(code); }

#else

namespace {
thread_local uint32_t t_last_error = 0;
}  // namespace

uint32_t LastErrorCode() { return t_last_error; }
void SetLastErrorCode(uint32_t code) { t_last_error = code; }

#endif

}  // namespace vexil
