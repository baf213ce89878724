// The one path for a broken precondition of our own code (a caller's bug, never the peer's fault).
#ifndef VEXIL_SYNC_CHECK_H_
#define VEXIL_SYNC_CHECK_H_

#include <cstdint>

namespace vexil {

// The structured-exception code of a failed internal check.
constexpr uint32_t kCheckFailureCode = 0xE0000001u;

// Windows: raises the structured exception 0xE0000001 (flags 0, no arguments) and returns if a
// handler resumes execution, so that the caller's stated fallback runs.
// Native: calls the installed handler; the default handler throws CheckFailure.
// Never call it while holding a lock that a host thread could need: a MinGW build runs no C++
// destructors while an SEH exception unwinds, so such a lock would stay held.
void CheckFailed();

#ifndef _WIN32
// Thrown by the default native handler.
struct CheckFailure {
  uint32_t code = kCheckFailureCode;
};
using CheckHandler = void (*)();
// Installs a handler (null restores the default) and returns the previous one. A handler that
// returns resumes execution after the check, as a resuming SEH handler would on Windows.
CheckHandler SetCheckHandler(CheckHandler handler);
#endif

}  // namespace vexil

#endif  // VEXIL_SYNC_CHECK_H_
