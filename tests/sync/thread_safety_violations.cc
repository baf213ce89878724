// Code that breaks a rule its thread-safety annotations state, one case at a time (VIOLATION=1 to
// 4), for Clang's analysis to reject; VIOLATION=0 keeps every rule and compiles. Never built into
// a program: ctest runs the compiler on it with -fsyntax-only (tests/sync/CMakeLists.txt).
#include "sync/critical_section.h"
#include "sync/lockable.h"
#include "sync/scoped_lock.h"
#include "sync/thread_annotations.h"
#include "sync/thread_checker.h"

namespace vexil {

// A lock and what it guards, as SendQueue has them.
class Counter final : public Lockable {
 public:
  void Lock() override ACQUIRE() { lock_.Enter(); }
  void Unlock() override RELEASE() { lock_.Leave(); }

  void Add() EXCLUDES(this) {
#if VIOLATION == 1  // a guarded member without its lock
    ++count_;
#else
    ScopedLock<Counter> guard(this, true);
    ++count_;
#endif
  }
  void AddTwice() EXCLUDES(this) {
    ScopedLock<Counter> guard(this, true);
#if VIOLATION == 2  // a call that takes the lock itself, with the lock held
    Add();
#endif
    AddHeld();
    AddHeld();
  }
  int Count() EXCLUDES(this) {
#if VIOLATION == 3  // a call that needs the lock, without it
    AddHeld();
#endif
    ScopedLock<Counter> guard(this, true);
    return count_;
  }

 private:
  void AddHeld() REQUIRES(this) { ++count_; }

  CriticalSection lock_;
  int count_ GUARDED_BY(this) = 0;
};

// A member one thread alone may touch, as the connector's worker has them.
class Worker {
 public:
  void Step() {
#if VIOLATION != 4  // a worker-only member without the check
    worker_.Check();
#endif
    ++steps_;
  }

 private:
  ThreadChecker worker_;
  int steps_ GUARDED_BY(worker_) = 0;
};

}  // namespace vexil
