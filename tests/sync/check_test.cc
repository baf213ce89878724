#include "sync/check.h"

#include <gtest/gtest.h>

#include "support/check_recorder.h"
#include "sync/critical_section.h"
#include "sync/last_error.h"
#include "sync/lockable.h"
#include "sync/scoped_lock.h"
#include "sync/thread_checker.h"

#include <thread>
#include <vector>
#ifndef _WIN32
#include <signal.h>
#endif

namespace vexil {
namespace {

TEST(CheckFailed, RaisesContinuableCodeWithNoArgumentsAndResumes) {
  testing::CheckRecorder recorder;
  CheckFailed();
  CheckFailed();
  EXPECT_EQ(2, recorder.count());
  EXPECT_EQ(kCheckFailureCode, recorder.last().code);
  EXPECT_EQ(0u, recorder.last().flags);
  EXPECT_EQ(0u, recorder.last().argument_count);
}

#ifndef _WIN32
TEST(CheckFailedDeathTest, UnobservedEndsTheProcessNamingTheCheck) {
  ::testing::FLAGS_gtest_death_test_style = "threadsafe";
  EXPECT_DEATH(CheckFailed(), "VexilConn: internal check 0xE0000001 failed");
}

TEST(CheckFailed, AnIgnoredSignalLetsTheFallbackRun) {
  struct sigaction ignore = {}, previous;
  ignore.sa_handler = SIG_IGN;
  ASSERT_EQ(0, ::sigaction(kCheckSignal, &ignore, &previous));
  CheckFailed();  // returns
  ::sigaction(kCheckSignal, &previous, nullptr);
}
#endif

TEST(LastError, IsPerThread) {
  SetLastErrorCode(1237);
  EXPECT_EQ(1237u, LastErrorCode());
  // Starting and joining a thread may change this thread's value, so only the new thread's view
  // is checked: it does not see ours.
  std::thread other([] {
    EXPECT_NE(1237u, LastErrorCode());
    SetLastErrorCode(11);
    EXPECT_EQ(11u, LastErrorCode());
  });
  other.join();
}

TEST(CriticalSection, IsReentrantAndHonoursOnlyInfiniteTimeouts) {
  CriticalSection section;
  EXPECT_EQ(0, section.Lock(0));
  EXPECT_EQ(0, section.Lock(5000));
  EXPECT_EQ(1, section.Lock(CriticalSection::kInfinite));
  section.Enter();  // re-entrant for the owner
  std::thread other([&] { EXPECT_EQ(0, section.TryEnter()); });
  other.join();
  section.Leave();
  EXPECT_EQ(1, section.Unlock());
  std::thread free_now([&] {
    ASSERT_NE(0, section.TryEnter());
    section.Leave();
  });
  free_now.join();
}

// Threads that enter, re-enter and leave at once never overlap: a count changed in two steps
// under the lock always comes out whole.
TEST(CriticalSection, ExcludesOtherThreadsAcrossReentries) {
  CriticalSection section;
  int64_t count = 0;
  std::vector<std::thread> threads;
  constexpr int kThreads = 4;
  constexpr int kRounds = 20000;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < kRounds; ++i) {
        section.Enter();
        const int64_t before = count;
        section.Enter();
        count = before + 1;
        section.Leave();
        if (i % 2 == 0 && section.TryEnter()) section.Leave();
        section.Leave();
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(int64_t{kThreads} * kRounds, count);
}

class CountingLockable : public Lockable {
 public:
  void Lock() override { ++locks; }
  void Unlock() override { ++unlocks; }
  int locks = 0;
  int unlocks = 0;
};

TEST(ScopedLock, LocksOnlyWhenAskedAndAlwaysUnlocksANonNullTarget) {
  CountingLockable target;
  { ScopedLock<Lockable> guard(&target, true); }
  EXPECT_EQ(1, target.locks);
  EXPECT_EQ(1, target.unlocks);
  { ScopedLock<Lockable> guard(&target, false); }
  EXPECT_EQ(1, target.locks);
  EXPECT_EQ(2, target.unlocks);
  { ScopedLock<Lockable> guard(nullptr, true); }  // neither locks nor unlocks
}

// Any thread passes while none is marked; while one is, another raises the check, where the build
// checks (the native presets and builds without NDEBUG), and nothing is raised where it does not.
TEST(ThreadChecker, OnlyTheMarkedThreadPassesWhileOneIsMarked) {
  testing::CheckRecorder recorder;
  ThreadChecker checker;
  const auto check_on_another_thread = [&checker] { std::thread([&] { checker.Check(); }).join(); };
  checker.Check();
  check_on_another_thread();
  EXPECT_EQ(0, recorder.count());

  checker.MarkCurrent();
  checker.Check();
  EXPECT_EQ(0, recorder.count());
  check_on_another_thread();
  EXPECT_EQ(kThreadChecks ? 1 : 0, recorder.count());
  if (kThreadChecks) {
    EXPECT_EQ(kCheckFailureCode, recorder.last().code);
  }

  checker.Clear();
  check_on_another_thread();
  EXPECT_EQ(kThreadChecks ? 1 : 0, recorder.count());
}

}  // namespace
}  // namespace vexil
