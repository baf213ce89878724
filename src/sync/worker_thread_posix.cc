#include "sync/worker_thread.h"

#include <pthread.h>

#include <cerrno>

namespace vexil {
namespace {

void* RunEntry(void* thread_fields) {
  // The fields are set before the start and not changed until the join.
  auto* fields = static_cast<std::pair<WorkerThread::Entry, void*>*>(thread_fields);
  fields->first(fields->second);
  return nullptr;
}

}  // namespace

WorkerThread::~WorkerThread() {
  if (started_) ::pthread_detach(static_cast<pthread_t>(native_));
}

bool WorkerThread::Start(Entry entry, void* argument) {
  if (started_) {
    errno = EBUSY;
    return false;
  }
  start_ = std::make_pair(entry, argument);
  pthread_t thread;
  const int error = ::pthread_create(&thread, nullptr, &RunEntry, &start_);
  if (error != 0) {
    errno = error;
    return false;
  }
  native_ = static_cast<uintptr_t>(thread);
  started_ = true;
  return true;
}

void WorkerThread::Join() {
  if (!started_) return;
  ::pthread_join(static_cast<pthread_t>(native_), nullptr);
  started_ = false;
}

}  // namespace vexil
