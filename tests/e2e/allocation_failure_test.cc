// An allocation that fails inside the connector, on a host thread and on the worker: the program
// replaces the global allocation functions so that one chosen allocation throws std::bad_alloc.
// The exception must stay inside the library: the host's call returns its failure result, the
// worker drops its connection and makes it again, and both are logged.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <new>
#include <string>

#include "host/agent_connector.h"
#include "net/native_socket.h"
#include "support/dll_library.h"
#include "support/file_bytes.h"
#include "support/running_agent.h"
#include "sync/win32.h"

namespace {

// The one allocation that fails: the first of at least g_fail_from bytes made on the thread
// g_failing_thread. Disarmed as it fails.
std::atomic<DWORD> g_failing_thread{0};
std::atomic<size_t> g_fail_from{SIZE_MAX};

void FailNextAllocationOnThisThread(size_t at_least) {
  g_failing_thread = ::GetCurrentThreadId();
  g_fail_from = at_least;
}

void Disarm() { g_fail_from = SIZE_MAX; }

}  // namespace

void* operator new(size_t size) {
  if (size >= g_fail_from && ::GetCurrentThreadId() == g_failing_thread) {
    Disarm();
    throw std::bad_alloc();
  }
  // The process heap rather than malloc: the compiler pairs malloc with free, never with delete.
  void* block = ::HeapAlloc(::GetProcessHeap(), 0, size == 0 ? 1 : size);
  if (block == nullptr) throw std::bad_alloc();
  return block;
}

void operator delete(void* block) noexcept {
  if (block != nullptr) ::HeapFree(::GetProcessHeap(), 0, block);
}
void operator delete(void* block, size_t) noexcept { operator delete(block); }

namespace vexil {
namespace {

constexpr size_t kLarge = 1u << 20;

LogTime FixedTime() { return LogTime{2024, 3, 5, 7, 9, 3, 45}; }

// Agrees to everything; the check for value 1 arms the failure on the worker's own thread.
class ArmingHost final : public testing::AgreeingHost {
 public:
  int OnCheckRequest(int32_t value) override {
    if (value == 1) FailNextAllocationOnThisThread(kLarge);
    return 1;
  }
};

class AllocationFailureTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { StartupSockets(kSocketVersion20); }
  static void TearDownTestSuite() { CleanupSockets(); }

  AllocationFailureTest()
      : log_(&FixedTime, L"c:\\no such directory\\none.ini"),
        connector_(&log_, ConnectorTiming{50, 8990}) {
    ::DeleteFileW(log_.path());
  }
  ~AllocationFailureTest() override {
    Disarm();
    connector_.StopConn();
    ::DeleteFileW(log_.path());
  }
  void Start(const wchar_t* haip) {
    const std::wstring option = std::wstring(L"-HAIP:") + haip;
    const wchar_t* const argv[] = {L"srv", L"-GSID:12", L"-HAPORT:1", option.c_str(), L"x"};
    ASSERT_EQ(kInitOk, connector_.InitConn(5, argv));
    ASSERT_EQ(kRunStarted, connector_.RunConn(&host_));
    for (int i = 0; i < 1000 && connector_.GetStatus() != StatusConnected; ++i) ::Sleep(10);
    ASSERT_EQ(StatusConnected, connector_.GetStatus());
  }
  std::string Log() { return testing::FileBytes(log_.path()); }

  ConnLog log_;
  ArmingHost host_;
  AgentConnector connector_;
};

TEST_F(AllocationFailureTest, AHostCallReturnsItsFailureAndTheConnectionStays) {
  tools::RunningAgent agent("127.0.0.46",
                            {"expect Register 10000", "expect Warning 10000 code=4 ", "quit"});
  ASSERT_TRUE(agent.listening());
  Start(L"127.0.0.46");
  // The texts are encoded where they lie, and the frame's own bytes come from the byte buffer,
  // which Zoth.dll allocates: the first allocation of the connector's own on this thread fails.
  const std::string text(2 * kLarge, 't');
  FailNextAllocationOnThisThread(1);
  EXPECT_EQ(kWarningNotConnected, connector_.SendWarningMsg(3, text.c_str(), "", 0, 0));
  Disarm();
  EXPECT_NE(std::string::npos, Log().find("VexilSendWarningMsg failed")) << Log();
  EXPECT_EQ(kWarningQueued, connector_.SendWarningMsg(4, "after", "", 0, 0));
  ASSERT_EQ(tools::kExitOk, agent.Join()) << agent.Output().substr(0, 2000);
  EXPECT_EQ(std::string::npos, agent.Output().find("code=3 "));
}

TEST_F(AllocationFailureTest, TheWorkerDropsTheConnectionAndMakesItAgain) {
  tools::RunningAgent agent(
      "127.0.0.47",
      {"expect Register 10000", "check 1", "expect CheckReply 10000 value=1", "big-order 2000000",
       "expect Register 20000", "check 2", "expect CheckReply 10000 value=2", "quit"});
  ASSERT_TRUE(agent.listening());
  Start(L"127.0.0.47");
  ASSERT_EQ(tools::kExitOk, agent.Join()) << agent.Output().substr(0, 2000);
  EXPECT_NE(std::string::npos, Log().find("Worker failure: std::bad_alloc, connection dropped"))
      << Log();
}

}  // namespace
}  // namespace vexil
