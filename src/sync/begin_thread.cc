#include "sync/begin_thread.h"

#include <process.h>

namespace vexil {

uintptr_t BeginThread(void* security, unsigned stackSize, ThreadStartRoutine start, void* argument,
                      unsigned initFlags, unsigned* threadId) {
  return ::_beginthreadex(security, stackSize, start, argument, initFlags, threadId);
}

}  // namespace vexil
