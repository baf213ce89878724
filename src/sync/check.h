// The one path for a broken precondition of our own code (a caller's bug, never the peer's fault).
#ifndef VEXIL_SYNC_CHECK_H_
#define VEXIL_SYNC_CHECK_H_

#include <cstdint>

namespace vexil {

// The structured-exception code of a failed internal check.
constexpr uint32_t kCheckFailureCode = 0xE0000001u;

// Windows: raises the structured exception 0xE0000001 (flags 0, no arguments) and returns if a
// handler resumes execution, so that the caller's stated fallback runs.
// POSIX: where the host handles or ignores kCheckSignal, queues that signal to the calling thread
// with the value 0xE0000001 and returns once the host's handler has (the fallback then runs);
// where the signal has its default action, writes "VexilConn: internal check 0xE0000001 failed"
// to the standard error and aborts the process.
// Never call it while holding a lock that a host thread could need: a MinGW build runs no C++
// destructors while an SEH exception unwinds, so such a lock would stay held.
void CheckFailed();

// POSIX: the signal of a failed check (SIGTRAP, as a debugger breaks on it); its si_code is
// SI_QUEUE and its si_value.sival_int the code.
extern const int kCheckSignal;

}  // namespace vexil

#endif  // VEXIL_SYNC_CHECK_H_
