// Remembers one thread (the connector's worker) so that any thread can ask, cheaply and without a
// lock, whether it is that thread. Not a C++ thread_local: on Windows those go through the static
// thread library, which keeps a record (a thread handle, an event and two semaphores) of every
// host thread that touches one and never frees it when the library is unloaded.
#ifndef VEXIL_SYNC_THREAD_MARK_H_
#define VEXIL_SYNC_THREAD_MARK_H_

#include <atomic>
#include <cstdint>

namespace vexil {

class ThreadMark {
 public:
  // Called on the thread to remember; Clear before it ends, as the system may give its identity
  // to a later thread.
  void MarkCurrent() { marked_.store(CurrentThreadIdentity(), std::memory_order_release); }
  void Clear() { marked_.store(0, std::memory_order_release); }
  bool IsCurrent() const {
    return marked_.load(std::memory_order_acquire) == CurrentThreadIdentity();
  }
  // Whether no thread is marked, or the calling one is.
  bool IsCurrentOrNone() const {
    const uintptr_t marked = marked_.load(std::memory_order_acquire);
    return marked == 0 || marked == CurrentThreadIdentity();
  }

 private:
  // Windows: the thread id (read from the thread's own block); POSIX: pthread_self. Never 0 for a
  // running thread.
  static uintptr_t CurrentThreadIdentity();

  std::atomic<uintptr_t> marked_{0};
};

}  // namespace vexil

#endif  // VEXIL_SYNC_THREAD_MARK_H_
