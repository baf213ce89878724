// Members that one thread alone may touch ("worker only"), checked as Chromium's thread checkers
// do: the checker is a ThreadMark, marked by that thread while it runs, and each function that
// touches such a member calls Check first.
//
// To the thread-safety analysis the checker is a capability that Check asserts: a member declared
// GUARDED_BY(checker) can be touched only after a Check in the same function, or in one declared
// REQUIRES(checker), whose callers checked. So the compiler sees that no touch goes unchecked, and
// builds with thread checks run every check.
#ifndef VEXIL_SYNC_THREAD_CHECKER_H_
#define VEXIL_SYNC_THREAD_CHECKER_H_

#include "sync/check.h"
#include "sync/thread_annotations.h"
#include "sync/thread_mark.h"

// Builds with thread checks: those without NDEBUG, and those that define VEXIL_THREAD_CHECKS to 1
// (the CMake option VEXIL_THREAD_CHECKS, which the native presets turn on, so that scripts/test's
// native runs check while their RelWithDebInfo build defines NDEBUG). Elsewhere a check is
// nothing. The whole build must agree: the option defines it for every file.
#ifndef VEXIL_THREAD_CHECKS
#ifdef NDEBUG
#define VEXIL_THREAD_CHECKS 0
#else
#define VEXIL_THREAD_CHECKS 1
#endif
#endif

namespace vexil {

inline constexpr bool kThreadChecks = VEXIL_THREAD_CHECKS != 0;

class CAPABILITY("thread") ThreadChecker : public ThreadMark {
 public:
  // With thread checks: raises the internal check (CheckFailed) when a thread is marked and the
  // caller is another one; any thread passes while none is (before the marked thread starts and
  // after it ends, when its owner may touch what it left). Call it before taking any lock, as
  // CheckFailed asks.
  void Check() const ASSERT_CAPABILITY(this) {
    if (kThreadChecks && !IsCurrentOrNone()) CheckFailed();
  }
};

}  // namespace vexil

#endif  // VEXIL_SYNC_THREAD_CHECKER_H_
