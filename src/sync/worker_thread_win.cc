#include "sync/worker_thread.h"

#include <process.h>

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
  const uintptr_t handle = ::_beginthreadex(nullptr, 0, &RunEntry, &start_, 0, nullptr);
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
