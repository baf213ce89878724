#include <process.h>

#include <string>

#include <gtest/gtest.h>

#include "support/check_recorder.h"
#include "sync/event.h"
#include "sync/last_error.h"
#include "sync/mutex.h"
#include "sync/object_lock.h"
#include "sync/semaphore.h"
#include "sync/win32.h"

namespace vexil {
namespace {

using testing::CheckRecorder;

// A name no other test program uses at the same time.
std::wstring UniqueName(const wchar_t* what) {
  return L"Local\\vexil-test-" + std::wstring(what) + L"-" +
         std::to_wstring(::GetCurrentProcessId());
}

// Holds a raw handle the way the socket layer's event object does.
class RawObject : public WaitableObject {
 public:
  explicit RawObject(void* handle) { set_handle(handle); }
  int Unlock() override { return TRUE; }
};

TEST(KernelObjectTest, DetachHandsTheHandleOverOpen) {
  void* handle = nullptr;
  {
    Event event(FALSE, TRUE, nullptr, nullptr);
    handle = event.Detach();
    EXPECT_FALSE(KernelObject::IsOpen(&event));
    EXPECT_EQ(event.GetHandle(), nullptr);
  }
  // Still open after the object is gone: setting it works and closing it is ours to do.
  EXPECT_TRUE(::SetEvent(handle));
  EXPECT_EQ(::WaitForSingleObject(handle, 0), WAIT_OBJECT_0);
  EXPECT_TRUE(::CloseHandle(handle));
}

TEST(KernelObjectTest, ValidityAndFailedCloseAreChecked) {
  CheckRecorder checks;
  EXPECT_FALSE(KernelObject::IsValid(nullptr));
  EXPECT_EQ(checks.count(), 1);
  EXPECT_EQ(checks.last().code, 0xE0000001u);
  EXPECT_EQ(checks.last().flags, 0u);
  EXPECT_EQ(checks.last().argument_count, 0u);
  {
    RawObject invalid(INVALID_HANDLE_VALUE);
    EXPECT_TRUE(KernelObject::IsOpen(&invalid));
    EXPECT_FALSE(KernelObject::IsValid(&invalid));
  }
  // Nothing was closed for INVALID_HANDLE_VALUE, so no check fired.
  EXPECT_EQ(checks.count(), 1);
  {
    HANDLE closed = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ::CloseHandle(closed);
    RawObject stale(closed);
  }
  EXPECT_EQ(checks.count(), 2);
}

TEST(KernelObjectTest, WaitsOnAClosedObjectFail) {
  Event closed;
  EXPECT_EQ(closed.Wait(0), kWaitFailed);
  EXPECT_EQ(closed.WaitEx(FALSE, 0), kWaitFailed);
}

TEST(SemaphoreTest, CountsAcquiresAndReleases) {
  Semaphore semaphore(0, 1, nullptr, nullptr);
  EXPECT_FALSE(semaphore.Lock(0));
  EXPECT_TRUE(semaphore.Unlock());
  EXPECT_TRUE(semaphore.Lock(0));
  EXPECT_FALSE(semaphore.Lock(0));
  long previous = -1;
  EXPECT_TRUE(semaphore.Unlock(1, &previous));
  EXPECT_EQ(previous, 0);
  // Past the maximum the release fails and the system says why.
  EXPECT_FALSE(semaphore.Unlock());
  EXPECT_EQ(LastErrorCode(), static_cast<uint32_t>(ERROR_TOO_MANY_POSTS));
}

TEST(SemaphoreTest, NamedSemaphoreOpenedTwiceIsOneObject) {
  const std::wstring name = UniqueName(L"semaphore");
  Semaphore created(0, 2, name.c_str(), nullptr);
  Semaphore opened(name.c_str(), SEMAPHORE_ALL_ACCESS, FALSE);
  Semaphore two_phase;
  ASSERT_TRUE(two_phase.Open(name.c_str(), SEMAPHORE_ALL_ACCESS, FALSE));
  EXPECT_NE(created.GetHandle(), opened.GetHandle());
  EXPECT_TRUE(opened.Unlock(2, nullptr));
  EXPECT_TRUE(created.Lock(0));
  EXPECT_TRUE(two_phase.Lock(0));
  EXPECT_FALSE(opened.Lock(0));
}

TEST(SemaphoreTest, FailedCreationIsCheckedOnlyInTheConstructors) {
  CheckRecorder checks;
  Semaphore bad(2, 1, nullptr, nullptr);  // initial above maximum
  EXPECT_EQ(checks.count(), 1);
  EXPECT_FALSE(KernelObject::IsOpen(&bad));
  Semaphore missing(UniqueName(L"absent").c_str(), SEMAPHORE_ALL_ACCESS, FALSE);
  EXPECT_EQ(checks.count(), 2);

  Semaphore two_phase;
  EXPECT_FALSE(two_phase.Create(2, 1, nullptr, nullptr));
  EXPECT_EQ(LastErrorCode(), static_cast<uint32_t>(ERROR_INVALID_PARAMETER));
  EXPECT_FALSE(two_phase.Open(UniqueName(L"absent").c_str(), SEMAPHORE_ALL_ACCESS, FALSE));
  EXPECT_EQ(LastErrorCode(), static_cast<uint32_t>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(checks.count(), 2);
}

TEST(TwoPhaseTest, CreateOrOpenOnAnOpenObjectKeepsItsHandle) {
  CheckRecorder checks;
  Semaphore semaphore(1, 1, nullptr, nullptr);
  Mutex mutex(FALSE, nullptr, nullptr);
  Event event(FALSE, FALSE, nullptr, nullptr);
  void* const handles[] = {semaphore.GetHandle(), mutex.GetHandle(), event.GetHandle()};

  EXPECT_FALSE(semaphore.Create(1, 1, nullptr, nullptr));
  EXPECT_EQ(LastErrorCode(), kErrorAlreadyInitialized);
  EXPECT_FALSE(semaphore.Open(L"x", SEMAPHORE_ALL_ACCESS, FALSE));
  EXPECT_FALSE(mutex.Create(FALSE, nullptr, nullptr));
  EXPECT_FALSE(mutex.Open(L"x", MUTEX_ALL_ACCESS, FALSE));
  EXPECT_FALSE(event.Create(FALSE, FALSE, nullptr, nullptr));
  EXPECT_FALSE(event.Open(nullptr, EVENT_ALL_ACCESS, FALSE));
  EXPECT_EQ(LastErrorCode(), kErrorAlreadyInitialized);
  // One check each; the already-open test comes before Event::Open's name test.
  EXPECT_EQ(checks.count(), 6);
  EXPECT_EQ(semaphore.GetHandle(), handles[0]);
  EXPECT_EQ(mutex.GetHandle(), handles[1]);
  EXPECT_EQ(event.GetHandle(), handles[2]);
}

TEST(TwoPhaseTest, ClosedObjectsAreCheckedBeforeEveryOperation) {
  CheckRecorder checks;
  Semaphore semaphore;
  Mutex mutex;
  Event event;
  EXPECT_FALSE(semaphore.Lock(0));
  EXPECT_FALSE(semaphore.Unlock());
  EXPECT_FALSE(mutex.Unlock());
  EXPECT_FALSE(event.Set());
  EXPECT_FALSE(event.Pulse());
  EXPECT_FALSE(event.Reset());
  EXPECT_EQ(checks.count(), 6);
  EXPECT_TRUE(event.Unlock());
  EXPECT_EQ(checks.count(), 6);
}

unsigned __stdcall LockAndEnd(void* mutex) {
  static_cast<Mutex*>(mutex)->Lock(kInfinite);
  return 0;
}

TEST(MutexTest, AbandonedMutexIsAcquired) {
  Mutex mutex(FALSE, nullptr, nullptr);
  HANDLE thread =
      reinterpret_cast<HANDLE>(::_beginthreadex(nullptr, 0, &LockAndEnd, &mutex, 0, nullptr));
  ASSERT_NE(thread, nullptr);
  ASSERT_EQ(::WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
  ::CloseHandle(thread);
  EXPECT_TRUE(mutex.Lock(5000));
  EXPECT_TRUE(mutex.Unlock());
  // Released by its new owner, the mutex is no longer abandoned.
  EXPECT_EQ(mutex.Wait(0), WAIT_OBJECT_0);
  EXPECT_TRUE(mutex.Unlock());
  EXPECT_FALSE(mutex.Unlock());
  EXPECT_EQ(LastErrorCode(), static_cast<uint32_t>(ERROR_NOT_OWNER));
}

TEST(MutexTest, NamedMutexOpenedTwiceIsOneObject) {
  const std::wstring name = UniqueName(L"mutex");
  Mutex owner(TRUE, name.c_str(), nullptr);
  Mutex opened(name.c_str(), MUTEX_ALL_ACCESS, FALSE);
  // The owner may enter again; the second handle names the same owned mutex.
  EXPECT_TRUE(opened.Lock(0));
  EXPECT_TRUE(opened.Unlock());
  EXPECT_TRUE(owner.Unlock());
  EXPECT_FALSE(owner.Unlock());
}

TEST(EventTest, ConstructorTakesTheInitialStateFirst) {
  Event signalled_auto(TRUE, FALSE, nullptr, nullptr);
  EXPECT_EQ(signalled_auto.Wait(0), WAIT_OBJECT_0);
  EXPECT_EQ(signalled_auto.Wait(0), WAIT_TIMEOUT);

  Event unsignalled_manual(FALSE, TRUE, nullptr, nullptr);
  EXPECT_EQ(unsignalled_manual.Wait(0), WAIT_TIMEOUT);
  EXPECT_TRUE(unsignalled_manual.Set());
  EXPECT_TRUE(unsignalled_manual.Lock(0));
  EXPECT_TRUE(unsignalled_manual.Lock(0));
  EXPECT_TRUE(unsignalled_manual.Reset());
  EXPECT_FALSE(unsignalled_manual.Lock(0));

  Event two_phase;
  ASSERT_TRUE(two_phase.Create(TRUE, TRUE, nullptr, nullptr));
  EXPECT_EQ(two_phase.Wait(0), WAIT_OBJECT_0);
  EXPECT_EQ(two_phase.Wait(0), WAIT_OBJECT_0);
}

TEST(EventTest, OpenedByNameAndNullNamesAreChecked) {
  CheckRecorder checks;
  const std::wstring name = UniqueName(L"event");
  Event created(FALSE, TRUE, name.c_str(), nullptr);
  Event opened(name.c_str(), EVENT_ALL_ACCESS, FALSE);
  EXPECT_TRUE(opened.Set());
  EXPECT_EQ(created.Wait(0), WAIT_OBJECT_0);
  EXPECT_EQ(checks.count(), 0);

  Event unnamed(nullptr, EVENT_ALL_ACCESS, FALSE);
  EXPECT_FALSE(KernelObject::IsOpen(&unnamed));
  EXPECT_EQ(checks.count(), 2);  // the name, then the failed open
  Event two_phase;
  EXPECT_FALSE(two_phase.Open(nullptr, EVENT_ALL_ACCESS, FALSE));
  EXPECT_EQ(checks.count(), 3);
}

TEST(ObjectLockTest, GuardsASemaphoreCount) {
  Semaphore semaphore(1, 1, nullptr, nullptr);
  {
    ObjectLock guard(&semaphore, TRUE);
    EXPECT_TRUE(guard.IsHeld());
    EXPECT_FALSE(semaphore.Lock(0));
    EXPECT_TRUE(guard.Unlock());
    EXPECT_FALSE(guard.IsHeld());
    EXPECT_TRUE(guard.Unlock());
    EXPECT_TRUE(guard.Lock(0));
  }
  // The destructor gave the count back.
  EXPECT_TRUE(semaphore.Lock(0));
  ObjectLock guard(&semaphore, FALSE);
  EXPECT_FALSE(guard.Lock(0));
  EXPECT_FALSE(guard.IsHeld());
  EXPECT_TRUE(semaphore.Unlock());
}

TEST(ObjectLockTest, LockingWhileHeldTakesNothingMore) {
  CheckRecorder checks;
  Semaphore semaphore(2, 2, nullptr, nullptr);
  {
    ObjectLock guard(&semaphore, TRUE);
    EXPECT_TRUE(guard.Lock(0));
    EXPECT_EQ(checks.count(), 1);
  }
  long previous = -1;
  EXPECT_TRUE(semaphore.Lock(0));
  EXPECT_TRUE(semaphore.Unlock(1, &previous));
  EXPECT_EQ(previous, 1);  // both counts are back

  ObjectLock nothing(nullptr, TRUE);
  EXPECT_EQ(checks.count(), 2);
  EXPECT_FALSE(nothing.Lock(0));
  EXPECT_TRUE(nothing.Unlock());
}

TEST(ObjectLockTest, OverAnEventUnlockLeavesTheEventAlone) {
  Event event(TRUE, TRUE, nullptr, nullptr);
  ObjectLock guard(&event, TRUE);
  EXPECT_TRUE(guard.IsHeld());
  EXPECT_TRUE(guard.Unlock());
  EXPECT_FALSE(guard.IsHeld());
  EXPECT_EQ(event.Wait(0), WAIT_OBJECT_0);
}

}  // namespace
}  // namespace vexil
