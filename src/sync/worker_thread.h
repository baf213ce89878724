// One thread started with a plain function and joined by its starter. Windows: the C runtime's
// thread start (the runtime's per-thread state set up), the thread holding its own reference to
// the module until it ends (BeginModuleThread); POSIX: a pthread (the library joins its worker
// before it can be unmapped, see vexil_conn.cc). The object belongs to the thread that starts and
// joins it.
#ifndef VEXIL_SYNC_WORKER_THREAD_H_
#define VEXIL_SYNC_WORKER_THREAD_H_

#include <cstdint>
#include <utility>

namespace vexil {

class WorkerThread {
 public:
  using Entry = void (*)(void* argument);

  WorkerThread() = default;
  WorkerThread(const WorkerThread&) = delete;
  WorkerThread& operator=(const WorkerThread&) = delete;
  // A thread still running is let go (it keeps running); join it first where that matters.
  ~WorkerThread();

  // Starts entry(argument) on a new thread. False, with the cause in the last error, when the
  // system refuses or a thread was started already.
  bool Start(Entry entry, void* argument);
  // Waits for the thread to end and releases it; nothing when none was started. Never call it on
  // the thread itself.
  void Join();
  bool started() const { return started_; }

 private:
  // What the new thread runs; set before the start, read by the new thread.
  std::pair<Entry, void*> start_{nullptr, nullptr};
  bool started_ = false;
  uintptr_t native_ = 0;  // The thread handle (Windows) or pthread_t (POSIX) while started_.
};

}  // namespace vexil

#endif  // VEXIL_SYNC_WORKER_THREAD_H_
