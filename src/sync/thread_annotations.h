// Clang's thread-safety annotations, so that the compiler checks which lock guards what. They
// expand to Clang's attributes under Clang and to nothing elsewhere (GCC, MinGW). The build that
// checks them is native-tsan, whose Clang runs with -Wthread-safety, as errors, on our own code.
//
// What they say, in our words (the attribute each stands for, and the rules, are Clang's:
// "Thread Safety Analysis" in its documentation):
//   CAPABILITY(kind)     on a class: its objects are locks (kind: "mutex", or "thread" for a
//                        thread checker), named in the annotations below.
//   SCOPED_CAPABILITY    on a class: a guard that holds a lock from its constructor to its end.
//   GUARDED_BY(lock)     on a member: read or written only while lock is held.
//   PT_GUARDED_BY(lock)  the same for what a pointer member points to.
//   REQUIRES(lock...)    on a function: its callers hold the lock.
//   EXCLUDES(lock...)    on a function: its callers do not hold it (it takes it itself). Not for
//                        a re-entrant lock whose holders may call in again.
//   ACQUIRE(lock...) / RELEASE(lock...) / TRY_ACQUIRE(result, lock...): the function takes or
//                        lets go of the lock (the object itself when none is named); the try
//                        form takes it when it returns result.
//   ASSERT_CAPABILITY(x) the function checks at run time that x is held; from the call on, the
//                        analysis takes it to be.
//   RETURN_CAPABILITY(x) the function returns the lock x.
//   NO_THREAD_SAFETY_ANALYSIS  the function's body is not checked. Always with a one-line reason
//                        beside it: it is for what the analysis cannot express, not for silencing.
//
// The analysis follows one function at a time and knows no re-entrant lock: a function that takes
// a lock it may already hold (the connector's) is left without EXCLUDES, and taking the same lock
// twice within one function is reported.
#ifndef VEXIL_SYNC_THREAD_ANNOTATIONS_H_
#define VEXIL_SYNC_THREAD_ANNOTATIONS_H_

#if defined(__clang__)
#define VEXIL_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define VEXIL_THREAD_ANNOTATION(x)
#endif

#define CAPABILITY(kind) VEXIL_THREAD_ANNOTATION(capability(kind))
#define SCOPED_CAPABILITY VEXIL_THREAD_ANNOTATION(scoped_lockable)
#define GUARDED_BY(lock) VEXIL_THREAD_ANNOTATION(guarded_by(lock))
#define PT_GUARDED_BY(lock) VEXIL_THREAD_ANNOTATION(pt_guarded_by(lock))
#define REQUIRES(...) VEXIL_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define EXCLUDES(...) VEXIL_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define ACQUIRE(...) VEXIL_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define RELEASE(...) VEXIL_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define TRY_ACQUIRE(...) VEXIL_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
#define ASSERT_CAPABILITY(x) VEXIL_THREAD_ANNOTATION(assert_capability(x))
#define RETURN_CAPABILITY(x) VEXIL_THREAD_ANNOTATION(lock_returned(x))
#define NO_THREAD_SAFETY_ANALYSIS VEXIL_THREAD_ANNOTATION(no_thread_safety_analysis)

#endif  // VEXIL_SYNC_THREAD_ANNOTATIONS_H_
