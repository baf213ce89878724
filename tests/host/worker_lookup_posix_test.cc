// The worker while the agent's host name is being looked up and the resolver never answers (a
// stand-in for the C library's asynchronous requests): a stop ends the worker at once.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "host/agent_connector.h"
#include "net/name_resolver_posix.h"
#include "net/native_socket.h"
#include "support/agreeing_host.h"

namespace vexil {
namespace {

using std::chrono::milliseconds;

std::atomic<int> g_started{0};
std::atomic<int> g_cancelled{0};

int StartHanging(gaicb*) {
  g_started.fetch_add(1);
  return 0;
}
int StillInProgress(gaicb*) { return EAI_INPROGRESS; }
// Cancelled before the resolver took it up, so the request block is freed.
int CancelHanging(gaicb*) {
  g_cancelled.fetch_add(1);
  return EAI_CANCELED;
}

LogTime FixedTime() { return LogTime{2024, 3, 5, 7, 9, 3, 45}; }

TEST(WorkerLookupTest, AStopDuringAHangingLookupEndsTheWorkerAtOnce) {
  StartupSockets(kSocketVersion20);
  const NameResolver previous =
      ReplaceNameResolver(NameResolver{&StartHanging, &StillInProgress, &CancelHanging});
  ConnLog log(&FixedTime, L"/no such directory/none.ini");
  testing::AgreeingHost host;
  {
    AgentConnector connector(&log, ConnectorTiming{10, 1});
    const wchar_t* const argv[] = {L"srv", L"-GSID:12", L"-HAPORT:1", L"-HAIP:agent.example", L"x"};
    ASSERT_EQ(kInitOk, connector.InitConn(5, argv));
    ASSERT_EQ(kRunStarted, connector.RunConn(&host));
    for (int i = 0; i < 1000 && g_started.load() == 0; ++i) {
      std::this_thread::sleep_for(milliseconds(10));
    }
    ASSERT_EQ(1, g_started.load());

    // StopConn waits for the worker: its return means the worker has left.
    auto stop = std::async(std::launch::async, [&connector] { connector.StopConn(); });
    ASSERT_EQ(std::future_status::ready, stop.wait_for(milliseconds(1000)));
    EXPECT_LE(1, g_cancelled.load());
    EXPECT_EQ(StatusConnecting, connector.GetStatus());
  }
  ReplaceNameResolver(previous);
  CleanupSockets();
}

}  // namespace
}  // namespace vexil
