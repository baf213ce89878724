// The thread-start wrapper over the C runtime's _beginthreadex, which sets up the runtime's
// per-thread state that a bare CreateThread would not. Windows build only.
#ifndef VEXIL_SYNC_BEGIN_THREAD_H_
#define VEXIL_SYNC_BEGIN_THREAD_H_

#include <cstdint>

namespace vexil {

using ThreadStartRoutine = unsigned(__stdcall*)(void* argument);

// Passes every argument unchanged to _beginthreadex and returns its result: the new thread's
// handle, which the caller owns and must close, or 0 on failure with the runtime's error value
// (errno) standing.
uintptr_t BeginThread(void* security, unsigned stackSize, ThreadStartRoutine start, void* argument,
                      unsigned initFlags, unsigned* threadId);

// Starts start(argument) like BeginThread (default stack, running at once, id discarded) on a
// thread that holds its own reference to the module containing start, given up only as the thread
// ends (FreeLibraryAndExitThread). So the module stays mapped while the thread runs, even when the
// host unloads it first: the unload then completes as the thread leaves. The result is the thread's
// handle, which the caller owns and must close, or 0 on failure (nothing held).
uintptr_t BeginModuleThread(ThreadStartRoutine start, void* argument);

}  // namespace vexil

#endif  // VEXIL_SYNC_BEGIN_THREAD_H_
