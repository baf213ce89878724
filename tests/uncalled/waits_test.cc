#include <vector>

#include <gtest/gtest.h>

#include "support/check_recorder.h"
#include "sync/begin_thread.h"
#include "sync/win32.h"
#include "uncalled/sync/event.h"
#include "uncalled/sync/handle_set.h"
#include "uncalled/sync/message_wait_set.h"
#include "uncalled/sync/multi_object_lock.h"
#include "uncalled/sync/mutex.h"
#include "uncalled/sync/semaphore.h"

namespace vexil {
namespace {

using testing::CheckRecorder;

// Puts a message in this thread's queue; removes whatever is left when it goes.
class QueuedMessage {
 public:
  QueuedMessage() {
    MSG msg;
    ::PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);  // makes sure the thread has a queue
    ::PostThreadMessageW(::GetCurrentThreadId(), WM_USER, 0, 0);
  }
  ~QueuedMessage() {
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
  }
};

void __stdcall NoOp(ULONG_PTR) {}

TEST(PairWaitTest, WaitWithAndSignalAndWait) {
  Event own(FALSE, TRUE, nullptr, nullptr);
  Event other(TRUE, TRUE, nullptr, nullptr);
  EXPECT_EQ(own.WaitWith(other.GetHandle(), FALSE, 0), 1u);
  EXPECT_EQ(own.WaitWith(other.GetHandle(), TRUE, 0), kWaitTimeout);
  ASSERT_TRUE(::QueueUserAPC(&NoOp, ::GetCurrentThread(), 0));
  EXPECT_EQ(own.WaitWithEx(TRUE, own.GetHandle(), FALSE, 5000), kWaitIoCompletion);

  Event to_signal(FALSE, TRUE, nullptr, nullptr);
  Semaphore to_wait_on(1, 1, nullptr, nullptr);
  EXPECT_EQ(WaitableBase::SignalAndWait(&to_signal, &to_wait_on, 0, FALSE), 0u);
  EXPECT_EQ(to_signal.Wait(0), 0u);
  EXPECT_EQ(WaitableBase::SignalAndWait(&to_signal, &to_wait_on, 0, FALSE), kWaitTimeout);
  CheckRecorder checks;
  EXPECT_EQ(WaitableBase::SignalAndWait(nullptr, &to_wait_on, 0, FALSE), kWaitFailed);
  EXPECT_EQ(checks.count(), 1);
}

TEST(MultiObjectLockTest, MarksOnlyWhatItAcquired) {
  Event first(FALSE, FALSE, nullptr, nullptr);
  Event second(FALSE, FALSE, nullptr, nullptr);
  WaitableObject* objects[] = {&first, &second};
  MultiObjectLock lock(objects, 2, FALSE);
  EXPECT_EQ(lock.Lock(0, FALSE, 0, FALSE), kWaitTimeout);
  EXPECT_FALSE(lock.IsLocked(0) || lock.IsLocked(1));
  second.Set();
  EXPECT_EQ(lock.Lock(0, FALSE, 0, FALSE), 1u);
  EXPECT_FALSE(lock.IsLocked(0));
  EXPECT_TRUE(lock.IsLocked(1));
  QueuedMessage message;
  EXPECT_EQ(lock.Lock(5000, FALSE, QS_POSTMESSAGE, FALSE), 2u);
  EXPECT_FALSE(lock.IsLocked(0));
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
  }
  EXPECT_TRUE(a.Lock(0));  // the destructor gave both counts back
  EXPECT_TRUE(b.Lock(0));
  EXPECT_TRUE(a.Unlock());
  // A rebuild forgets the held flags, so what was held is no longer given back.
  MultiObjectLock lock(objects, 1, TRUE);
  EXPECT_TRUE(lock.IsLocked(0));
  EXPECT_TRUE(lock.Add(&b));
  EXPECT_FALSE(lock.IsLocked(0));
  EXPECT_TRUE(a.Unlock());
}

unsigned __stdcall TakeAndEnd(void* mutex) {
  static_cast<Mutex*>(mutex)->Lock(kInfinite);
  return 0;
}

TEST(MultiObjectLockTest, AbandonedMutexIsReportedButNotMarked) {
  Event idle(FALSE, TRUE, nullptr, nullptr);
  Mutex mutex(FALSE, nullptr, nullptr);
  unsigned tid = 0;
  HANDLE thread = reinterpret_cast<HANDLE>(BeginThread(nullptr, 0, &TakeAndEnd, &mutex, 0, &tid));
  ASSERT_NE(thread, nullptr);
  EXPECT_NE(tid, 0u);
  ASSERT_EQ(::WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
  ::CloseHandle(thread);
  WaitableObject* objects[] = {&idle, &mutex};
  MultiObjectLock lock(objects, 2, FALSE);
  EXPECT_EQ(lock.Lock(5000, FALSE, 0, FALSE), kWaitAbandoned0 + 1);
  EXPECT_FALSE(lock.IsLocked(1));
  EXPECT_TRUE(mutex.Unlock());  // the wait made this thread the owner all the same
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
  EXPECT_EQ(checks.count(), 3);
  EXPECT_EQ(lock.GetCount(), 1u);
  std::vector<WaitableObject*> many(65, &a);
  MultiObjectLock too_many(many.data(), 65, FALSE);
  EXPECT_EQ(checks.count(), 4);
  EXPECT_EQ(too_many.GetCount(), 0u);
}

TEST(MessageWaitSetTest, ReturnsTheSignalledMemberOrTheCountForInput) {
  CheckRecorder checks;
  Event a(FALSE, TRUE, nullptr, nullptr);
  Event b(FALSE, TRUE, nullptr, nullptr);
  WaitableObject* objects[] = {&a, &b};
  MessageWaitSet set(objects, 2, FALSE);
  EXPECT_EQ(set.Wait(0, FALSE), kWaitTimeout);
  b.Set();
  EXPECT_EQ(set.Wait(0, FALSE), 1u);
  b.Reset();
  {
    QueuedMessage message;
    EXPECT_EQ(set.Wait(5000, FALSE), 2u);
  }
  ASSERT_TRUE(::QueueUserAPC(&NoOp, ::GetCurrentThread(), 0));
  EXPECT_EQ(set.Wait(5000, TRUE), kWaitIoCompletion);
  // Adding a present member is checked and then goes ahead; removing drops every occurrence.
  set.Add(&a);
  EXPECT_EQ(checks.count(), 1);
  EXPECT_EQ(set.GetCount(), 3u);
  set.Remove(&a);
  EXPECT_EQ(set.GetObjectAt(0), &b);
  Event closed;
  set.Remove(&closed);  // not open and absent
  EXPECT_EQ(checks.count(), 3);
}

TEST(HandleSetTest, Holds64DistinctHandlesAndWaitsOnThem) {
  std::vector<Event> events(65);
  for (Event& event : events) ASSERT_TRUE(event.Create(FALSE, TRUE, nullptr, nullptr));
  HandleSet set;
  EXPECT_TRUE(set.Add(events[0].GetHandle()));
  EXPECT_FALSE(set.Add(events[0].GetHandle()));
  for (int i = 1; i < 64; ++i) EXPECT_TRUE(set.Add(events[i].GetHandle()));
  EXPECT_FALSE(set.Add(events[64].GetHandle()));
  EXPECT_EQ(set.GetAt(63), events[63].GetHandle());
  EXPECT_EQ(set.GetAt(64), nullptr);
  EXPECT_TRUE(set.Remove(events[10].GetHandle()));
  EXPECT_FALSE(set.Remove(events[10].GetHandle()));

  EXPECT_EQ(set.Wait(FALSE, 0), kWaitTimeout);
  events[40].Set();
  EXPECT_EQ(set.WaitEx(FALSE, FALSE, 0), 39u);
  events[40].Reset();
  QueuedMessage message;
  EXPECT_EQ(set.MsgWait(FALSE, QS_TIMER, 0), kWaitTimeout);
  EXPECT_EQ(set.MsgWaitEx(0, QS_POSTMESSAGE, 5000), 63u);
}

}  // namespace
}  // namespace vexil
