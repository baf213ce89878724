#include "sync/worker_thread.h"

#include "sync/begin_thread.h"
#include "sync/win32.h"

namespace vexil {
namespace {

unsigned __stdcall RunEntry(void* thread_fields) {
  // entry_ and argument_ are set before the start and not changed until the join.
  auto* fields = static_cast<std::pair<WorkerThread::Entry, void*>*>(thread_fields);
  fields->first(fields->second);
  return 0;
}

}  // namespace

WorkerThread::~WorkerThread() {
  if (started_) ::CloseHandle(reinterpret_cast<HANDLE>(native_));
}

bool WorkerThread::Start(Entry entry, void* argument) {
  if (started_) {
    ::SetLastError(ERROR_ALREADY_INITIALIZED);
    return false;
  }
  start_ = std::make_pair(entry, argument);
  // The thread holds the module while it runs: a host that stops the worker from inside a
  // callback and unloads at once must not leave it returning into unmapped code.
  const uintptr_t handle = BeginModuleThread(&RunEntry, &start_);
  if (handle == 0) return false;
  native_ = handle;
  started_ = true;
  return true;
}

void WorkerThread::Join() {
  if (!started_) return;
  ::WaitForSingleObject(reinterpret_cast<HANDLE>(native_), INFINITE);
  ::CloseHandle(reinterpret_cast<HANDLE>(native_));
  started_ = false;
}

}  // namespace vexil
