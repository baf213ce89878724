#include <vector>

#include <gtest/gtest.h>

#include "support/check_recorder.h"
#include "sync/begin_thread.h"
#include "sync/event.h"
#include "sync/handle_set.h"
#include "sync/message_wait_set.h"
#include "sync/multi_object_lock.h"
#include "sync/mutex.h"
#include "sync/semaphore.h"
#include "sync/win32.h"

namespace vexil {
namespace {

using testing::CheckRecorder;

// Puts a message in this thread's queue and removes whatever is left when the test ends.
class QueuedMessage {
 public:
  QueuedMessage() { ::PostThreadMessageW(::GetCurrentThreadId(), WM_USER, 0, 0); }
  ~QueuedMessage() {
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
  }
};

// Any message call makes a thread's queue; doing it first keeps the first post from failing.
void EnsureQueue() {
  MSG msg;
  ::PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
}

void __stdcall NoOp(ULONG_PTR) {}

TEST(PairWaitTest, WaitWithAndSignalAndWait) {
  Event own(FALSE, TRUE, nullptr, nullptr);
  Event other(TRUE, TRUE, nullptr, nullptr);
  EXPECT_EQ(own.WaitWith(other.GetHandle(), FALSE, 0), 1u);
  EXPECT_EQ(own.WaitWith(other.GetHandle(), TRUE, 0), kWaitTimeout);
  own.Set();
  EXPECT_EQ(own.WaitWithEx(FALSE, other.GetHandle(), TRUE, 0), 0u);

  Event to_signal(FALSE, TRUE, nullptr, nullptr);
  Semaphore to_wait_on(1, 1, nullptr, nullptr);
  EXPECT_EQ(WaitableBase::SignalAndWait(&to_signal, &to_wait_on, 0, FALSE), 0u);
  EXPECT_EQ(to_signal.Wait(0), 0u);
  EXPECT_EQ(WaitableBase::SignalAndWait(&to_signal, &to_wait_on, 0, FALSE), kWaitTimeout);

  CheckRecorder checks;
  EXPECT_EQ(WaitableBase::SignalAndWait(nullptr, &to_wait_on, 0, FALSE), kWaitFailed);
  EXPECT_EQ(checks.count(), 1);
}

TEST(PairWaitTest, AlertableWaitsReturnForQueuedCalls) {
  Event never(FALSE, TRUE, nullptr, nullptr);
  ASSERT_TRUE(::QueueUserAPC(&NoOp, ::GetCurrentThread(), 0));
  EXPECT_EQ(never.WaitEx(TRUE, 5000), kWaitIoCompletion);
  ASSERT_TRUE(::QueueUserAPC(&NoOp, ::GetCurrentThread(), 0));
  EXPECT_EQ(never.WaitWithEx(TRUE, never.GetHandle(), FALSE, 5000), kWaitIoCompletion);
}

TEST(MultiObjectLockTest, MarksOnlyTheMemberItAcquired) {
  Event first(FALSE, FALSE, nullptr, nullptr);
  Event second(FALSE, FALSE, nullptr, nullptr);
  WaitableObject* objects[] = {&first, &second};
  MultiObjectLock lock(objects, 2, FALSE);
  EXPECT_EQ(lock.GetCount(), 2u);
  EXPECT_EQ(lock.GetObjectAt(1), &second);
  EXPECT_EQ(lock.Lock(0, FALSE, 0, FALSE), kWaitTimeout);
  EXPECT_FALSE(lock.IsLocked(0));
  EXPECT_FALSE(lock.IsLocked(1));
  second.Set();
  EXPECT_EQ(lock.Lock(0, FALSE, 0, FALSE), 1u);
  EXPECT_FALSE(lock.IsLocked(0));
  EXPECT_TRUE(lock.IsLocked(1));
  EXPECT_TRUE(lock.Unlock());
  EXPECT_FALSE(lock.IsLocked(1));
}

TEST(MultiObjectLockTest, WaitAllHoldsEveryMemberUntilGivenBack) {
  Semaphore a(1, 1, nullptr, nullptr);
  Semaphore b(1, 1, nullptr, nullptr);
  Event c(TRUE, TRUE, nullptr, nullptr);
  WaitableObject* objects[] = {&a, &b, &c};
  {
    MultiObjectLock lock(objects, 3, FALSE);
    EXPECT_EQ(lock.Lock(0, TRUE, 0, FALSE), 0u);
    for (uint32_t i = 0; i < 3; ++i) EXPECT_TRUE(lock.IsLocked(i));
    EXPECT_FALSE(a.Lock(0));
    EXPECT_FALSE(b.Lock(0));
  }
  // The destructor released both semaphores.
  EXPECT_TRUE(a.Lock(0));
  EXPECT_TRUE(b.Lock(0));

  // A rebuild forgets the held flags, so what was held is no longer given back.
  EXPECT_TRUE(a.Unlock());
  MultiObjectLock lock(objects, 1, TRUE);
  EXPECT_TRUE(lock.IsLocked(0));
  EXPECT_TRUE(lock.Add(&b));
  EXPECT_FALSE(lock.IsLocked(0));
  EXPECT_TRUE(lock.Remove(&b));
  EXPECT_EQ(lock.GetCount(), 1u);
  EXPECT_TRUE(a.Unlock());
}

unsigned __stdcall TakeAndEnd(void* mutex) {
  static_cast<Mutex*>(mutex)->Lock(kInfinite);
  return 0;
}

// Runs routine(argument) on a new thread and waits for it to end.
void RunThread(ThreadStartRoutine routine, void* argument) {
  unsigned tid = 0;
  HANDLE thread = reinterpret_cast<HANDLE>(BeginThread(nullptr, 0, routine, argument, 0, &tid));
  ASSERT_NE(thread, nullptr);
  EXPECT_NE(tid, 0u);
  EXPECT_EQ(::WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
  ::CloseHandle(thread);
}

TEST(MultiObjectLockTest, AbandonedMutexIsReportedButNotMarked) {
  Event idle(FALSE, TRUE, nullptr, nullptr);
  Mutex mutex(FALSE, nullptr, nullptr);
  RunThread(&TakeAndEnd, &mutex);
  WaitableObject* objects[] = {&idle, &mutex};
  MultiObjectLock lock(objects, 2, FALSE);
  EXPECT_EQ(lock.Lock(5000, FALSE, 0, FALSE), kWaitAbandoned0 + 1);
  EXPECT_FALSE(lock.IsLocked(1));
  // The wait made this thread the owner all the same.
  EXPECT_TRUE(mutex.Unlock());
}

TEST(MultiObjectLockTest, WakesForQueuedInput) {
  EnsureQueue();
  Event idle(FALSE, TRUE, nullptr, nullptr);
  WaitableObject* objects[] = {&idle};
  MultiObjectLock lock(objects, 1, FALSE);
  QueuedMessage message;
  EXPECT_EQ(lock.Lock(0, FALSE, 0, FALSE), kWaitTimeout);
  EXPECT_EQ(lock.Lock(5000, FALSE, QS_POSTMESSAGE, FALSE), 1u);
  EXPECT_FALSE(lock.IsLocked(0));
}

TEST(MultiObjectLockTest, BrokenCallsAreCheckedAndChangeNothing) {
  CheckRecorder checks;
  Event a(FALSE, TRUE, nullptr, nullptr);
  Event b(FALSE, TRUE, nullptr, nullptr);
  WaitableObject* objects[] = {&a};
  MultiObjectLock lock(objects, 1, FALSE);
  EXPECT_FALSE(lock.Add(&a));
  EXPECT_FALSE(lock.Remove(&b));
  EXPECT_EQ(lock.GetObjectAt(1), nullptr);
  EXPECT_FALSE(lock.IsLocked(1));
  EXPECT_EQ(checks.count(), 4);
  EXPECT_EQ(lock.GetCount(), 1u);

  std::vector<WaitableObject*> many(65, &a);
  MultiObjectLock too_many(many.data(), 65, FALSE);
  MultiObjectLock null_array(nullptr, 1, FALSE);
  EXPECT_EQ(checks.count(), 6);
  EXPECT_EQ(too_many.GetCount(), 0u);
  EXPECT_EQ(null_array.GetCount(), 0u);

  Event closed;
  EXPECT_TRUE(lock.Add(&closed));  // a member without a handle is checked at the rebuild
  EXPECT_EQ(checks.count(), 7);
}

TEST(MessageWaitSetTest, ReturnsTheSignalledMemberOrTheCountForInput) {
  EnsureQueue();
  Event a(FALSE, TRUE, nullptr, nullptr);
  Event b(FALSE, TRUE, nullptr, nullptr);
  MessageWaitSet set;
  set.Add(&a);
  set.Add(&b);
  EXPECT_EQ(set.GetCount(), 2u);
  EXPECT_EQ(set.Wait(0, FALSE), kWaitTimeout);
  b.Set();
  EXPECT_EQ(set.Wait(0, FALSE), 1u);
  b.Reset();
  {
    QueuedMessage message;
    EXPECT_EQ(set.Wait(5000, FALSE), 2u);
  }
  set.Remove(&a);
  EXPECT_EQ(set.GetObjectAt(0), &b);
  ASSERT_TRUE(::QueueUserAPC(&NoOp, ::GetCurrentThread(), 0));
  EXPECT_EQ(set.Wait(5000, TRUE), kWaitIoCompletion);
}

TEST(MessageWaitSetTest, ConstructedSetWaitsAtOnce) {
  Event a(TRUE, TRUE, nullptr, nullptr);
  WaitableObject* objects[] = {&a};
  MessageWaitSet set(objects, 1, TRUE);  // returns because a is signalled
  EXPECT_EQ(set.GetCount(), 1u);
}

TEST(MessageWaitSetTest, BrokenCallsAreCheckedAndThenProceed) {
  CheckRecorder checks;
  Event a(FALSE, TRUE, nullptr, nullptr);
  Event b(FALSE, TRUE, nullptr, nullptr);
  MessageWaitSet set;
  set.Add(&a);
  set.Add(&a);
  EXPECT_EQ(checks.count(), 1);
  EXPECT_EQ(set.GetCount(), 2u);
  set.Remove(&b);
  EXPECT_EQ(checks.count(), 2);
  set.Remove(&a);
  EXPECT_EQ(set.GetCount(), 0u);
  EXPECT_EQ(set.GetObjectAt(0), nullptr);
  EXPECT_EQ(checks.count(), 3);
  Event closed;
  set.Add(&closed);  // not open, then a null handle at the rebuild
  EXPECT_EQ(checks.count(), 5);
}

TEST(HandleSetTest, KeepsAtMost64DistinctHandles) {
  std::vector<Event> events(65);
  for (Event& event : events) ASSERT_TRUE(event.Create(FALSE, TRUE, nullptr, nullptr));
  HandleSet set;
  EXPECT_TRUE(set.Add(events[0].GetHandle()));
  EXPECT_FALSE(set.Add(events[0].GetHandle()));
  for (int i = 1; i < 64; ++i) EXPECT_TRUE(set.Add(events[i].GetHandle()));
  EXPECT_FALSE(set.Add(events[64].GetHandle()));
  EXPECT_EQ(set.GetCount(), 64u);
  EXPECT_EQ(set.GetAt(63), events[63].GetHandle());
  EXPECT_EQ(set.GetAt(64), nullptr);
  EXPECT_EQ(set.GetHandles()[10], events[10].GetHandle());

  EXPECT_TRUE(set.Remove(events[10].GetHandle()));
  EXPECT_FALSE(set.Remove(events[10].GetHandle()));
  EXPECT_EQ(set.GetAt(10), events[11].GetHandle());

  EXPECT_EQ(set.Wait(FALSE, 0), kWaitTimeout);
  events[40].Set();
  EXPECT_EQ(set.Wait(FALSE, 0), 39u);
  EXPECT_EQ(set.WaitEx(FALSE, TRUE, 0), kWaitTimeout);
}

TEST(HandleSetTest, MessageWaitsReturnTheCount) {
  EnsureQueue();
  Event a(FALSE, TRUE, nullptr, nullptr);
  HandleSet set;
  set.Add(a.GetHandle());
  EXPECT_EQ(set.MsgWait(FALSE, QS_ALLINPUT, 0), kWaitTimeout);
  QueuedMessage message;
  EXPECT_EQ(set.MsgWait(FALSE, QS_POSTMESSAGE, 5000), 1u);
  EXPECT_EQ(set.MsgWaitEx(0, QS_POSTMESSAGE, 5000), 1u);
  // A timer-only mask ignores the posted message.
  EXPECT_EQ(set.MsgWaitEx(0, QS_TIMER, 0), kWaitTimeout);
}

struct ThreadArgument {
  DWORD seen_tid = 0;
};

unsigned __stdcall Record(void* argument) {
  static_cast<ThreadArgument*>(argument)->seen_tid = ::GetCurrentThreadId();
  return 42;
}

TEST(BeginThreadTest, RunsTheRoutineWithItsArgumentAndExitCode) {
  ThreadArgument argument;
  unsigned tid = 0;
  HANDLE thread =
      reinterpret_cast<HANDLE>(BeginThread(nullptr, 0, &Record, &argument, CREATE_SUSPENDED, &tid));
  ASSERT_NE(thread, nullptr);
  EXPECT_EQ(argument.seen_tid, 0u);
  ::ResumeThread(thread);
  ASSERT_EQ(::WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
  DWORD code = 0;
  EXPECT_TRUE(::GetExitCodeThread(thread, &code));
  EXPECT_EQ(code, 42u);
  EXPECT_EQ(argument.seen_tid, tid);
  ::CloseHandle(thread);
}

}  // namespace
}  // namespace vexil
