#include "sync/thread_mark.h"

#ifdef _WIN32
#include "sync/win32.h"
#else
#include <pthread.h>
#endif

namespace vexil {

uintptr_t ThreadMark::CurrentThreadIdentity() {
#ifdef _WIN32
  return ::GetCurrentThreadId();
#else
  static_assert(sizeof(pthread_t) <= sizeof(uintptr_t), "a thread's identity fits the mark");
  return static_cast<uintptr_t>(::pthread_self());
#endif
}

}  // namespace vexil
