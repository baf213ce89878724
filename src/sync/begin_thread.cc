#include "sync/begin_thread.h"

#include "sync/win32.h"

#include <process.h>

#include <new>

namespace vexil {

uintptr_t BeginThread(void* security, unsigned stackSize, ThreadStartRoutine start, void* argument,
                      unsigned initFlags, unsigned* threadId) {
  return ::_beginthreadex(security, stackSize, start, argument, initFlags, threadId);
}

namespace {

// What a module thread needs before it runs: owned by the new thread once it starts.
struct ModuleThreadStart {
  ThreadStartRoutine start;
  void* argument;
  HMODULE module;
};

unsigned __stdcall RunModuleThread(void* raw) {
  const ModuleThreadStart run = *static_cast<ModuleThreadStart*>(raw);
  delete static_cast<ModuleThreadStart*>(raw);
  const unsigned code = run.start(run.argument);
  // Never returns into the module: the reference may be the last one.
  ::FreeLibraryAndExitThread(run.module, code);
}

}  // namespace

uintptr_t BeginModuleThread(ThreadStartRoutine start, void* argument) {
  HMODULE module = nullptr;
  if (!::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                            reinterpret_cast<LPCWSTR>(start), &module)) {
    return 0;
  }
  auto* run = new (std::nothrow) ModuleThreadStart{start, argument, module};
  if (run == nullptr) {
    ::FreeLibrary(module);
    return 0;
  }
  const uintptr_t handle = BeginThread(nullptr, 0, &RunModuleThread, run, 0, nullptr);
  if (handle == 0 || handle == static_cast<uintptr_t>(-1)) {
    delete run;
    ::FreeLibrary(module);
    return 0;
  }
  return handle;
}

}  // namespace vexil
