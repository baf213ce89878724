#include <string>

#include <gtest/gtest.h>

#include "support/check_recorder.h"
#include "sync/begin_thread.h"
#include "sync/last_error.h"
#include "sync/win32.h"
#include "uncalled/sync/event.h"
#include "uncalled/sync/mutex.h"
#include "uncalled/sync/object_lock.h"
#include "uncalled/sync/semaphore.h"

namespace vexil {
namespace {

using testing::CheckRecorder;

// A name no other test program uses at the same time.
std::wstring UniqueName(const wchar_t* what) {
  return L"Local\\vexil-test-" + std::wstring(what) + std::to_wstring(::GetCurrentProcessId());
}

// Holds a raw handle the way the socket layer's event object does.
class RawObject : public WaitableObject {
 public:
  explicit RawObject(void* handle) { set_handle(handle); }
  int Unlock() override { return TRUE; }
};

TEST(KernelObjectTest, OwnershipEndsWithDetachAndFailedClosesAreChecked) {
  void* handle = nullptr;
  {
    Event event(FALSE, TRUE, nullptr, nullptr);
    handle = event.Detach();
    EXPECT_FALSE(KernelObject::IsOpen(&event));
  }
  EXPECT_TRUE(::SetEvent(handle));  // still open: closing it is ours to do
  EXPECT_TRUE(::CloseHandle(handle));

  CheckRecorder checks;
  EXPECT_FALSE(KernelObject::IsValid(nullptr));
  EXPECT_EQ(checks.count(), 1);
  EXPECT_EQ(checks.last().code, 0xE0000001u);
  EXPECT_EQ(checks.last().flags, 0u);
  EXPECT_EQ(checks.last().argument_count, 0u);
  {
    RawObject invalid(INVALID_HANDLE_VALUE);
    EXPECT_FALSE(KernelObject::IsValid(&invalid));
  }
  EXPECT_EQ(checks.count(), 1);  // nothing was closed
  { RawObject stale(handle); }   // already closed above
  EXPECT_EQ(checks.count(), 2);
}

TEST(SemaphoreTest, NamedSemaphoreOpenedTwiceSharesItsCount) {
  const std::wstring name = UniqueName(L"semaphore");
  Semaphore created(0, 2, name.c_str(), nullptr);
  Semaphore opened(name.c_str(), SEMAPHORE_ALL_ACCESS, FALSE);
  EXPECT_FALSE(created.Lock(0));
  long previous = -1;
  EXPECT_TRUE(opened.Unlock(2, &previous));
  EXPECT_EQ(previous, 0);
  EXPECT_TRUE(created.Lock(0));
  EXPECT_TRUE(opened.Lock(0));
  EXPECT_FALSE(opened.Lock(0));
  EXPECT_TRUE(created.Unlock());
  EXPECT_TRUE(created.Unlock());
  EXPECT_FALSE(created.Unlock());  // past the maximum
  EXPECT_EQ(LastErrorCode(), static_cast<uint32_t>(ERROR_TOO_MANY_POSTS));
}

TEST(TwoPhaseTest, FailuresAreCheckedInConstructorsAndReportedByCreateAndOpen) {
  CheckRecorder checks;
  Semaphore bad(2, 1, nullptr, nullptr);  // initial count above the maximum
  Event missing(UniqueName(L"absent").c_str(), EVENT_ALL_ACCESS, FALSE);
  EXPECT_EQ(checks.count(), 2);
  EXPECT_FALSE(KernelObject::IsOpen(&bad));

  Mutex mutex;
  EXPECT_FALSE(mutex.Open(UniqueName(L"absent").c_str(), MUTEX_ALL_ACCESS, FALSE));
  EXPECT_EQ(LastErrorCode(), static_cast<uint32_t>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(checks.count(), 2);

  // On an open object: checked, then FALSE with 1247, the handle kept.
  ASSERT_TRUE(mutex.Create(FALSE, nullptr, nullptr));
  void* const handle = mutex.GetHandle();
  EXPECT_FALSE(mutex.Create(FALSE, nullptr, nullptr));
  EXPECT_EQ(LastErrorCode(), kErrorAlreadyInitialized);
  EXPECT_EQ(mutex.GetHandle(), handle);
  Event event(FALSE, FALSE, nullptr, nullptr);
  EXPECT_FALSE(event.Open(nullptr, EVENT_ALL_ACCESS, FALSE));
  EXPECT_EQ(checks.count(), 4);  // the already-open test comes before the name test
  Event closed;
  EXPECT_FALSE(closed.Set());
  EXPECT_TRUE(closed.Unlock());  // never checked
  EXPECT_EQ(checks.count(), 5);
}

unsigned __stdcall LockAndEnd(void* mutex) {
  static_cast<Mutex*>(mutex)->Lock(kInfinite);
  return 0;
}

TEST(MutexTest, AbandonedMutexIsAcquired) {
  const std::wstring name = UniqueName(L"mutex");
  Mutex mutex(FALSE, name.c_str(), nullptr);
  Mutex opened(name.c_str(), MUTEX_ALL_ACCESS, FALSE);
  HANDLE thread =
      reinterpret_cast<HANDLE>(BeginThread(nullptr, 0, &LockAndEnd, &mutex, 0, nullptr));
  ASSERT_NE(thread, nullptr);
  ASSERT_EQ(::WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
  ::CloseHandle(thread);
  EXPECT_TRUE(opened.Lock(5000));
  EXPECT_TRUE(mutex.Lock(0));  // re-entrant for its owner, through either handle
  EXPECT_TRUE(mutex.Unlock());
  EXPECT_TRUE(opened.Unlock());
  EXPECT_FALSE(mutex.Unlock());
  EXPECT_EQ(LastErrorCode(), static_cast<uint32_t>(ERROR_NOT_OWNER));
}

TEST(EventTest, ConstructorTakesTheInitialStateBeforeTheResetMode) {
  Event signalled_auto(TRUE, FALSE, nullptr, nullptr);
  EXPECT_TRUE(signalled_auto.Lock(0));
  EXPECT_FALSE(signalled_auto.Lock(0));
  Event manual;
  ASSERT_TRUE(manual.Create(FALSE, TRUE, UniqueName(L"event").c_str(), nullptr));
  Event opened(UniqueName(L"event").c_str(), EVENT_ALL_ACCESS, FALSE);
  EXPECT_FALSE(manual.Lock(0));
  EXPECT_TRUE(opened.Set());
  EXPECT_TRUE(manual.Lock(0));
  EXPECT_TRUE(manual.Reset());
  EXPECT_FALSE(opened.Lock(0));
}

TEST(ObjectLockTest, GivesBackExactlyWhatItTook) {
  CheckRecorder checks;
  Semaphore semaphore(2, 2, nullptr, nullptr);
  {
    ObjectLock guard(&semaphore, TRUE);
    EXPECT_TRUE(guard.Lock(0));  // already held: checked, nothing more taken
    EXPECT_EQ(checks.count(), 1);
    EXPECT_TRUE(guard.Unlock());
    EXPECT_FALSE(guard.IsHeld());
    EXPECT_TRUE(guard.Lock(0));
  }
  long previous = -1;
  EXPECT_TRUE(semaphore.Lock(0));
  EXPECT_TRUE(semaphore.Unlock(1, &previous));
  EXPECT_EQ(previous, 1);  // both counts are back

  Event event(TRUE, TRUE, nullptr, nullptr);
  ObjectLock over_event(&event, TRUE);
  EXPECT_TRUE(over_event.Unlock());
  EXPECT_FALSE(over_event.IsHeld());
  EXPECT_EQ(event.Wait(0), WAIT_OBJECT_0);

  ObjectLock nothing(nullptr, TRUE);
  EXPECT_EQ(checks.count(), 2);
  EXPECT_FALSE(nothing.Lock(0));
}

}  // namespace
}  // namespace vexil
