// VexilConn.dll itself, loaded at run time, against the stand-in agent run in-process: stop from
// every state of the worker followed by an unload, the warning storm from eight host threads, and
// (label long) agent restarts in a row with the library's own 5 s retry delay.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <future>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "e2e/process_figures.h"
#include "e2e/warning_storm.h"
#include "support/dll_library.h"
#include "support/running_agent.h"
#include "support/test_platform.h"

#ifdef _WIN32
#include "e2e/full_listen_queue.h"
#endif

namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;
using vexil::testing::AgreeingHost;
using vexil::testing::Library;
using vexil::testing::StartLibrary;
using vexil::testing::ThreadCount;
using vexil::testing::WaitForStatus;
using Clock = std::chrono::steady_clock;

bool StopsWithinASecond(const Library& library) {
  auto stop = std::async(std::launch::async, [&library] { library.StopConn(); });
  return stop.wait_for(seconds(1)) == std::future_status::ready;
}

// Stop returns within a second from each state of the worker, and the unload that follows
// leaves no thread of the library running.
TEST(DllStop, FromEveryStateThenUnload) {
  const int threads_before = ThreadCount();
  AgreeingHost host;
  {
    // Before the first attempt, inside the 5 s wait.
    Library library;
    ASSERT_TRUE(library.loaded());
    ASSERT_TRUE(StartLibrary(library, L"127.0.0.40", &host));
    std::this_thread::sleep_for(milliseconds(200));
    EXPECT_TRUE(StopsWithinASecond(library));
  }
  {
    // The agent refusing: the first attempt failed, the worker waits for the next.
    Library library;
    ASSERT_TRUE(StartLibrary(library, L"127.0.0.41", &host));
    std::this_thread::sleep_for(milliseconds(5500));
    EXPECT_EQ(vexil::StatusConnecting, library.GetStatus());
    EXPECT_TRUE(StopsWithinASecond(library));
  }
#ifdef _WIN32
  {
    // A connect under way that the system takes long to give up on: the agent's listen queue is
    // full. The worker's first attempt starts 5 s after the start.
    vexil::testing::FullListenQueue full("127.0.0.49");
    ASSERT_TRUE(full.full());
    Library library;
    ASSERT_TRUE(StartLibrary(library, L"127.0.0.49", &host));
    std::this_thread::sleep_for(milliseconds(6000));
    EXPECT_EQ(vexil::StatusConnecting, library.GetStatus());
    EXPECT_TRUE(StopsWithinASecond(library));
  }
#endif
  {
    // Connected and idle.
    vexil::tools::RunningAgent agent("127.0.0.42", {"expect Register 15000", "wait 3000", "quit"});
    Library library;
    ASSERT_TRUE(StartLibrary(library, L"127.0.0.42", &host));
    ASSERT_TRUE(WaitForStatus(library, vexil::StatusConnected, 15000));
    EXPECT_TRUE(StopsWithinASecond(library));
  }
  {
    // Connected with replies queued behind an agent that does not read.
    vexil::tools::RunningAgent agent(
        "127.0.0.43", {"expect Register 15000", "stall", "flood 5000", "wait 3000", "quit"});
    Library library;
    ASSERT_TRUE(StartLibrary(library, L"127.0.0.43", &host));
    ASSERT_TRUE(WaitForStatus(library, vexil::StatusConnected, 15000));
    std::this_thread::sleep_for(milliseconds(1000));
    EXPECT_TRUE(StopsWithinASecond(library));
  }
  {
    // In the middle of a reconnect: the agent closed (after the test saw status 2), the worker
    // waits before the next attempt.
    vexil::tools::RunningAgent agent("127.0.0.44",
                                     {"expect Register 15000", "wait 500", "close", "quit"});
    Library library;
    ASSERT_TRUE(StartLibrary(library, L"127.0.0.44", &host));
    ASSERT_TRUE(WaitForStatus(library, vexil::StatusConnected, 15000));
    // Status 5 holds for the whole retry wait after the close; look for it before joining the
    // agent, which on a loaded machine may take longer than that wait to wind up.
    ASSERT_TRUE(WaitForStatus(library, vexil::StatusConnecting, 5000));
    EXPECT_TRUE(StopsWithinASecond(library));
    agent.Join();
  }
  // Wine keeps a few service threads of its own; the library must not leave any.
  for (int i = 0; i < 100 && ThreadCount() > threads_before + 2; ++i)
    std::this_thread::sleep_for(milliseconds(20));
  std::printf("threads: %d before the loads, %d after the last unload\n", threads_before,
              ThreadCount());
  EXPECT_LE(ThreadCount(), threads_before + 2);
}

#ifdef _WIN32
// A host that stops the connector from inside a callback, lets its main thread unload the
// library at once (without the second stop the header asks for) and is still inside the callback
// while the unload happens.
class StoppingHost final : public AgreeingHost {
 public:
  explicit StoppingHost(const Library* library) : library_(library) {}
  int OnCheckRequest(int32_t) override {
    library_->StopConn();
    ::SetEvent(stopped_.get());
    // The worker returns into the library only after the unload.
    std::this_thread::sleep_for(milliseconds(300));
    return 1;
  }
  HANDLE stopped() const { return stopped_.get(); }

 private:
  struct CloseHandleDeleter {
    void operator()(HANDLE handle) const { ::CloseHandle(handle); }
  };
  const Library* library_;
  std::unique_ptr<void, CloseHandleDeleter> stopped_{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
};

// The worker holds the library while it runs: the unload completes when it leaves, and the
// process goes on.
TEST(DllUnload, AfterAStopInsideACallbackTheProcessGoesOn) {
  vexil::tools::RunningAgent agent("127.0.0.48",
                                   {"expect Register 15000", "check 1", "wait 2000", "quit"});
  ASSERT_TRUE(agent.listening());
  Library library;
  ASSERT_TRUE(library.loaded());
  StoppingHost host(&library);
  ASSERT_TRUE(StartLibrary(library, L"127.0.0.48", &host));
  ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(host.stopped(), 15000));
  library.Unload();
  bool unloaded = false;
  for (int i = 0; i < 300 && !unloaded; ++i) {
    unloaded = ::GetModuleHandleW(L"VexilConn.dll") == nullptr;
    if (!unloaded) std::this_thread::sleep_for(milliseconds(10));
  }
  EXPECT_TRUE(unloaded) << "the worker never gave the library up";
  std::this_thread::sleep_for(milliseconds(500));
  agent.Join();
}
#endif

// Eight host threads send 10,000 warnings each while the agent reads: every warning whose call
// returned 1 arrives exactly once, in its thread's order. A call that returned 0 met the queue's
// bound (the threads can outrun the worker, most of all in slow builds), and is counted refused.
TEST(DllStorm, EveryQueuedWarningArrivesOnceInItsThreadsOrder) {
  constexpr unsigned kThreads = 8;
  constexpr unsigned kEach = 10000;
  vexil::tools::RunningAgent agent(
      "127.0.0.45", {"expect Register 15000", "expect Warning 120000 code=999", "quit"});
  ASSERT_TRUE(agent.listening());
  AgreeingHost host;
  Library library;
  ASSERT_TRUE(StartLibrary(library, L"127.0.0.45", &host));
  ASSERT_TRUE(WaitForStatus(library, vexil::StatusConnected, 15000));
  const vexil::testing::StormOutcome storm =
      vexil::testing::RunWarningStorm(kThreads, kEach, 0, [&](unsigned t, unsigned seq) {
        return library.SendWarningMsg(1, "storm", "", t, seq) == 1;
      });
  const std::vector<std::vector<unsigned>>& queued = storm.queued;
  // The end mark once the worker has caught up with the storm: up to 60 s.
  uint64_t end_refused = 0;
  for (; end_refused < 6000 && library.SendWarningMsg(999, "end", "", 0, 0) != 1; ++end_refused)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_LT(end_refused, 6000u);
  ASSERT_EQ(vexil::tools::kExitOk, agent.Join());
  const VexilConnCounters counters = library.Counters();
  library.StopConn();

  std::vector<std::vector<unsigned>> arrived(kThreads);
  std::istringstream lines(agent.Output());
  for (std::string line; std::getline(lines, line);) {
    unsigned thread = 0;
    unsigned seq = 0;
    if (vexil::testing::WarningIds(line, &thread, &seq) && thread < kThreads && seq != 0) {
      arrived[thread].push_back(seq);
    }
  }
  uint64_t storm_queued = 0;
  for (unsigned t = 0; t < kThreads; ++t) {
    storm_queued += queued[t].size();
    EXPECT_EQ(queued[t], arrived[t]) << "thread " << t;
  }
  EXPECT_EQ(storm_queued + 1, counters.warningsQueued);
  EXPECT_EQ(kThreads * kEach - storm_queued + end_refused, counters.warningsRefused);
  std::printf("storm: %llu of %u refused at the bound, longest call %lld ms\n",
              static_cast<unsigned long long>(kThreads * kEach - storm_queued), kThreads * kEach,
              storm.longest_ms);
  EXPECT_LT(storm.longest_ms, 1000);
}

// A host that reads the counters inside its check callback, on the worker.
class CountersReadingHost final : public AgreeingHost {
 public:
  explicit CountersReadingHost(const Library* library) : library_(library) {}
  int OnCheckRequest(int32_t) override {
    frames_received_in_callback_ = library_->Counters().framesReceived;
    return 1;
  }
  uint64_t frames_received_in_callback() const { return frames_received_in_callback_; }

 private:
  const Library* library_;
  std::atomic<uint64_t> frames_received_in_callback_{0};
};

// Each counter moves with its own event, through the library and its 5 s retry delay, against an
// agent that closes, sends a malformed frame, stops reading and is finally left by a stop.
TEST(DllCounters, EachCounterMovesWithItsEvent) {
  vexil::tools::RunningAgent agent(
      "127.0.0.56", {"expect Register 15000", "expect Warning 10000 code=3", "check 5",
                     "expect CheckReply 10000 value=5", "close",     // closed by the agent
                     "expect Register 15000", "wait 500", "tag 99",  // an error
                     "expect Register 15000", "stall", "wait 20000", "resume",  // the limit
                     "expect Register 20000", "wait 10000", "quit"});
  ASSERT_TRUE(agent.listening());
  Library library;
  CountersReadingHost host(&library);
  ASSERT_TRUE(StartLibrary(library, L"127.0.0.56", &host));

  ASSERT_TRUE(WaitForStatus(library, vexil::StatusConnected, 15000));
  // Sent before the agent's check, so that the agent meets the two frames in a fixed order.
  ASSERT_EQ(1, library.SendWarningMsg(3, "counted", "", 0, 0));
  // The agent's expectations end within 20 s, and its output says which one failed.
  ASSERT_TRUE(WaitForStatus(library, vexil::StatusConnecting, 20000)) << agent.Output();
  VexilConnCounters c = library.Counters();
  EXPECT_EQ(1u, c.connectAttempts);
  EXPECT_EQ(1u, c.connections);
  EXPECT_EQ(1u, c.registrations);
  EXPECT_EQ(1u, c.closedByAgent);
  EXPECT_EQ(0u, c.closedByError + c.closedAtOutgoingLimit + c.closedByStop);
  EXPECT_EQ(1u, c.warningsQueued);
  EXPECT_EQ(0u, c.warningsRefused + c.warningsDropped);
  EXPECT_EQ(3u, c.framesSent) << "Register, CheckReply, Warning";
  EXPECT_EQ(1u, c.framesReceived);
  EXPECT_EQ(1u, host.frames_received_in_callback()) << "read inside the callback";
  EXPECT_GT(c.bytesSent, c.bytesReceived);
  EXPECT_GT(c.bytesReceived, 0u);
  EXPECT_EQ(0u, c.bytesQueued);
  EXPECT_EQ(0u, c.lastSystemError);
  const uint64_t bytes_sent = c.bytesSent;

  ASSERT_TRUE(WaitForStatus(library, vexil::StatusConnected, 15000));
  ASSERT_TRUE(WaitForStatus(library, vexil::StatusConnecting, 20000));
  c = library.Counters();
  EXPECT_EQ(2u, c.registrations);
  EXPECT_EQ(1u, c.closedByError);
  EXPECT_EQ(11u, c.lastSystemError) << "ERROR_BAD_FORMAT: a frame with an unknown tag";
  EXPECT_GT(c.bytesSent, bytes_sent) << "the second Register";

  // The agent stops reading: 4000-byte warnings pile up until the connection holds the most it
  // may and is dropped.
  ASSERT_TRUE(WaitForStatus(library, vexil::StatusConnected, 15000));
  const std::string text(4000, 'w');
  uint64_t queued = 0;
  uint64_t most_queued = 0;
  for (int i = 0; i < 20000 && library.GetStatus() == vexil::StatusConnected; ++i) {
    queued += library.SendWarningMsg(i, text.c_str(), "", 0, 0) == 1 ? 1 : 0;
    if (i % 100 == 0) most_queued = std::max(most_queued, library.Counters().bytesQueued);
  }
  ASSERT_NE(vexil::StatusConnected, library.GetStatus()) << "the connection was never dropped";
  ASSERT_TRUE(WaitForStatus(library, vexil::StatusConnecting, 5000));
  // A warning whose call straddled the drop (it passed the gate before the connection closed and
  // reached the queue after) is dropped by the worker just before its next attempt, which may
  // then register at once.
  for (int i = 0; i < 300 && library.Counters().bytesQueued != 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  c = library.Counters();
  EXPECT_GE(c.registrations, 3u);
  EXPECT_LE(c.registrations, 4u);
  EXPECT_EQ(1u, c.closedAtOutgoingLimit);
  EXPECT_EQ(1u, c.closedByError) << "the limit is a cause of its own";
  EXPECT_EQ(1u + queued, c.warningsQueued);
  EXPECT_GT(c.warningsDropped, 0u);
  EXPECT_LE(c.warningsDropped, queued);
  EXPECT_GT(most_queued, 1u << 20) << "bytes queued while the agent did not read";
  EXPECT_EQ(0u, c.bytesQueued) << "dropped with the connection";
  std::printf(
      "counters: %llu warnings queued at the stall, %llu dropped, at most %llu bytes "
      "queued\n",
      static_cast<unsigned long long>(queued), static_cast<unsigned long long>(c.warningsDropped),
      static_cast<unsigned long long>(most_queued));

  ASSERT_TRUE(WaitForStatus(library, vexil::StatusConnected, 30000));
  library.StopConn();
  c = library.Counters();
  EXPECT_EQ(4u, c.connections);
  EXPECT_EQ(4u, c.registrations);
  EXPECT_EQ(c.connections, c.connectAttempts);
  EXPECT_EQ(1u, c.closedByStop);
  EXPECT_EQ(1u, c.closedByAgent);
  EXPECT_EQ(0u, c.bytesQueued);
  agent.Join();
}

#ifndef _WIN32
// Linux: a host that unloads or exits without VexilStopConn. The library stops and joins its worker
// before its objects go: no crash, and no thread of the library left behind.
TEST(DllUnload, WithoutStopWhileConnectedLeavesNoThread) {
  AgreeingHost host;
  vexil::tools::RunningAgent agent("127.0.0.45", {"expect Register 15000", "wait 1000", "quit"});
  const int threads_before = ThreadCount();
  Library library;
  ASSERT_TRUE(StartLibrary(library, L"127.0.0.45", &host));
  ASSERT_TRUE(WaitForStatus(library, vexil::StatusConnected, 15000));
  auto unload = std::async(std::launch::async, [&library] { library.Unload(); });
  ASSERT_EQ(std::future_status::ready, unload.wait_for(seconds(5)));
  unload.get();
  for (int i = 0; i < 100 && ThreadCount() > threads_before; ++i) {
    std::this_thread::sleep_for(milliseconds(20));
  }
  EXPECT_EQ(threads_before, ThreadCount());
  // The agent closes the connection a second later: a worker left behind would wake into code
  // that is no longer mapped.
  agent.Join();
  std::this_thread::sleep_for(milliseconds(200));
}

TEST(DllUnloadDeathTest, ExitWithoutStopEndsCleanly) {
  ::testing::FLAGS_gtest_death_test_style = "threadsafe";
  EXPECT_EXIT(
      {
        AgreeingHost host;
        vexil::tools::RunningAgent agent("127.0.0.46", {"expect Register 15000", "wait 3000"});
        static Library library;
        if (!StartLibrary(library, L"127.0.0.46", &host)) std::_Exit(2);
        if (!WaitForStatus(library, vexil::StatusConnected, 15000)) std::_Exit(3);
        std::exit(0);
      },
      ::testing::ExitedWithCode(0), "");
}
#endif

// 30 agent restarts through the library with its own 5 s retry delay (about three minutes).
TEST(DllLong, ThirtyRestartsKeepHandlesAndMemoryFlat) {
  constexpr int kRestarts = 30;
  std::vector<std::string> script = {"expect Register 15000"};
  for (int i = 1; i <= kRestarts; ++i) {
    script.push_back("restart");
    script.push_back("expect Register 15000");
    script.push_back("check " + std::to_string(i));
    script.push_back("expect CheckReply 10000 value=" + std::to_string(i));
  }
  script.push_back("quit");

  class MeasuringHost final : public AgreeingHost {
   public:
    int OnCheckRequest(int32_t) override {
      figures.push_back(vexil::testing::MeasureProcess());
      return 1;
    }
    std::vector<vexil::testing::ProcessFigures> figures;  // written by the worker, read after stop
  } host;

  vexil::tools::RunningAgent agent("127.0.0.46", script);
  ASSERT_TRUE(agent.listening());
  Library library;
  ASSERT_TRUE(StartLibrary(library, L"127.0.0.46", &host));
  ASSERT_EQ(vexil::tools::kExitOk, agent.Join()) << agent.Output().substr(0, 2000);
  library.StopConn();
  ASSERT_EQ(static_cast<size_t>(kRestarts), host.figures.size());
  const vexil::testing::ProcessFigures tenth = host.figures[9];
  const vexil::testing::ProcessFigures last = host.figures.back();
  std::printf("30 restarts: handles %lu -> %lu, next handle %#x -> %#x, private bytes %zu -> %zu\n",
              tenth.handles, last.handles, static_cast<unsigned>(tenth.next_handle),
              static_cast<unsigned>(last.next_handle), tenth.private_bytes, last.private_bytes);
  EXPECT_LE(last.handles, tenth.handles + 8);
  EXPECT_LE(vexil::testing::LateNextHandle(host.figures, 10),
            vexil::testing::SettledNextHandle(host.figures, 10) + 8 * 4)
      << "handles leak";
  if (vexil::testing::kMemoryIsLeakProbe) {
    EXPECT_LE(last.private_bytes, tenth.private_bytes + (2u << 20));
  }
}

}  // namespace
