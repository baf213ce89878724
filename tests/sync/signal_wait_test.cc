// The connector's waiting primitives, the same tests on Windows and POSIX.
#include <atomic>
#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "sync/ordered_wait.h"
#include "sync/signal_event.h"
#include "sync/worker_thread.h"

namespace vexil {
namespace {

TEST(SignalEventTest, StaysSetUntilReset) {
  SignalEvent event;
  EXPECT_FALSE(event.Wait(0));
  EXPECT_EQ(1, event.Reset()) << "resetting an event that is not set succeeds";
  ASSERT_EQ(1, event.Set());
  ASSERT_EQ(1, event.Set());
  EXPECT_TRUE(event.Wait(0));
  EXPECT_TRUE(event.Wait(kInfinite)) << "a wait does not consume the signal";
  ASSERT_EQ(1, event.Reset());
  EXPECT_FALSE(event.Wait(20)) << "one reset clears any number of sets";
}

TEST(OrderedWaitTest, TheLowestReadySourceWins) {
  SignalEvent stop, network, send;
  const WaitSource sources[] = {stop.Source(), network.Source(), send.Source()};
  EXPECT_EQ(kWaitTimeout, WaitForFirst(sources, 3, 10));
  send.Set();
  EXPECT_EQ(kWaitObject0 + 2, WaitForFirst(sources, 3, 0));
  network.Set();
  EXPECT_EQ(kWaitObject0 + 1, WaitForFirst(sources, 3, 0));
  stop.Set();
  for (int i = 0; i < 3; ++i) EXPECT_EQ(kWaitObject0, WaitForFirst(sources, 3, kInfinite));
}

TEST(OrderedWaitTest, RefusesNoSourcesAndTooMany) {
  SignalEvent event;
  const WaitSource source = event.Source();
  EXPECT_EQ(kWaitFailed, WaitForFirst(&source, 0, 0));
  EXPECT_EQ(kWaitFailed, WaitForFirst(nullptr, 1, 0));
  WaitSource many[kMaxWaitObjects + 1];
  for (WaitSource& each : many) each = source;
  event.Set();
  EXPECT_EQ(kWaitFailed, WaitForFirst(many, kMaxWaitObjects + 1, 0));
  EXPECT_EQ(kWaitObject0, WaitForFirst(many, kMaxWaitObjects, 0));
}

#ifndef _WIN32
TEST(OrderedWaitTest, PosixEmptySlotsKeepTheirPlace) {
  SignalEvent event;
  event.Set();
  const WaitSource sources[] = {WaitSource{}, event.Source()};
  EXPECT_EQ(kWaitObject0 + 1, WaitForFirst(sources, 2, 0));
}
#endif

TEST(WorkerThreadTest, RunsTheEntryAndJoins) {
  struct Shared {
    SignalEvent go;
    std::atomic<int> runs{0};
  } shared;
  WorkerThread thread;
  EXPECT_FALSE(thread.started());
  thread.Join();  // nothing started: returns at once
  ASSERT_TRUE(thread.Start(
      [](void* argument) {
        auto* state = static_cast<Shared*>(argument);
        if (state->go.Wait(10000)) state->runs.fetch_add(1);
      },
      &shared));
  EXPECT_TRUE(thread.started());
  EXPECT_FALSE(thread.Start([](void*) {}, nullptr)) << "one thread per object";
  shared.go.Set();
  thread.Join();
  EXPECT_FALSE(thread.started());
  EXPECT_EQ(1, shared.runs.load());
}

TEST(WorkerThreadTest, ASetFromAnotherThreadEndsAnInfiniteWait) {
  SignalEvent stop, other;
  WorkerThread setter;
  ASSERT_TRUE(setter.Start(
      [](void* event) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        static_cast<SignalEvent*>(event)->Set();
      },
      &stop));
  const WaitSource sources[] = {stop.Source(), other.Source()};
  EXPECT_EQ(kWaitObject0, WaitForFirst(sources, 2, kInfinite));
  setter.Join();
}

}  // namespace
}  // namespace vexil
