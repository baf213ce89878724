// The connector's worker against an agent played by the test, over loopback sockets, with a short
// retry delay and the agent's port given by injection.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#endif

#include <chrono>
#include <future>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "host/agent_connector.h"
#include "host/stand_in_peers.h"
#include "log/process_info.h"
#include "net/native_socket.h"
#include "orvel/frame.h"
#include "orvel/message_text.h"
#include "support/check_recorder.h"
#include "support/file_bytes.h"
#include "support/test_platform.h"
#include "sync/code_page.h"
#include "sync/last_error.h"

namespace vexil {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

LogTime FixedTime() { return LogTime{2024, 3, 5, 7, 9, 3, 45}; }

// The agent's end: one listening socket on 127.0.0.1 and the one accepted connection.
class FakeAgent {
 public:
  FakeAgent() {
    listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
    ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(listener_, 4);
    SockLength length = sizeof address;
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ::ntohs(address.sin_port);
  }
  FakeAgent(const FakeAgent&) = delete;
  FakeAgent& operator=(const FakeAgent&) = delete;
  ~FakeAgent() {
    CloseClient();
    CloseNativeSocket(listener_);
  }

  uint16_t port() const { return port_; }
  // The connector's port on the accepted connection; 0 when none is accepted.
  uint16_t ConnectorPort() const {
    sockaddr_in address = {};
    SockLength length = sizeof address;
    if (::getpeername(client_, reinterpret_cast<sockaddr*>(&address), &length) != 0) return 0;
    return ::ntohs(address.sin_port);
  }

  // Waits up to timeout for the connector to connect; drops an earlier connection first.
  bool Accept(milliseconds timeout) {
    CloseClient();
    if (!Readable(listener_, timeout)) return false;
    client_ = ::accept(listener_, nullptr, nullptr);
    return client_ != INVALID_SOCKET;
  }

  // The next frame from the connector as text; "closed" when the connector closed, "timeout".
  std::string NextFrame(milliseconds timeout = milliseconds(10000)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      ConnectorMsg message;
      if (received_.Size() > 0 && ReadFrame(message, received_)) return ToText(message);
      if (received_.Size() > 0 && LastErrorCode() != kErrorIncompleteFrame) return "malformed";
      const auto left =
          std::chrono::duration_cast<milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0 || !Readable(client_, left)) return "timeout";
      char chunk[4096];
      const int n = static_cast<int>(::recv(client_, chunk, sizeof chunk, 0));
      if (n <= 0) return "closed";
      received_.Append(chunk, static_cast<unsigned>(n));
    }
  }

  std::string Encode(const AgentMsg& message) {
    BufferPtr frame;
    WriteFrame(frame, message);
    return std::string(reinterpret_cast<const char*>(frame.Data()), frame.Size());
  }
  void Send(const AgentMsg& message) { SendBytes(Encode(message)); }
  void SendBytes(const std::string& bytes) {
    ::send(client_, bytes.data(), static_cast<int>(bytes.size()), kSendFlags);
  }
  void CloseClient() {
    if (client_ != INVALID_SOCKET) CloseNativeSocket(client_);
    client_ = INVALID_SOCKET;
    received_.Clear();
  }

 private:
  static bool Readable(SOCKET socket, milliseconds timeout) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(socket, &set);
    timeval limit{static_cast<long>(timeout.count() / 1000),
                  static_cast<long>(timeout.count() % 1000 * 1000)};
    // The first argument counts descriptors on POSIX; Windows ignores it.
    return ::select(static_cast<int>(socket) + 1, &set, nullptr, nullptr, &limit) == 1;
  }

  SOCKET listener_ = INVALID_SOCKET;
  SOCKET client_ = INVALID_SOCKET;
  uint16_t port_ = 0;
  BufferPtr received_;
};

// A host that agrees to everything; the command "stop" stops the connector from inside the call,
// and "fail" throws failure_text.
class TestHost final : public HostCallback {
 public:
  int OnCheckRequest(int32_t) override { return 1; }
  int OnOrder(const char*, const char*, char*, int32_t*, uint32_t, uint32_t) override { return 1; }
  int OnCommand(uint32_t, uint32_t, const char* text) override {
    if (std::string(text) == "fail") throw std::runtime_error(failure_text);
    if (std::string(text) == "stop") {
      connector->StopConn();
      stopped_inside = true;
    }
    return 1;
  }
  int OnCountsRequest(CountsSink* sink) override {
    const std::vector<int32_t> counts{1, 2};
    sink->SetCounts(&counts);
    return 0;
  }
  int OnRegionRequest(RegionSink*) override { return 0; }
  int OnStatRequest(StatSink*) override { return 0; }
  int OnRegionRequestExtra(RegionExtraSink*) override { return 0; }
  int OnStatRequestExtra(StatExtraSink*) override { return 0; }

  AgentConnector* connector = nullptr;
  std::atomic<bool> stopped_inside{false};
  std::string failure_text;
};

AgentMsg Check(int32_t value) {
  CheckRequest body;
  body.value = value;
  return AgentMsg(AgentTag::kCheckRequest, body);
}

class WorkerTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { StartupSockets(kSocketVersion20); }
  static void TearDownTestSuite() { CleanupSockets(); }

  explicit WorkerTest(uint32_t retry_delay_ms = 50, AgentCheck check = AgentCheck())
      : log_(&FixedTime, L"c:\\no such directory\\none.ini"),
        connector_(&log_, ConnectorTiming{retry_delay_ms, agent_.port()}, std::move(check)) {
    testing::RemoveFile(log_.path());
    host_.connector = &connector_;
    const wchar_t* const argv[] = {L"srv", L"-GSID:12", L"-HAPORT:1", L"-HAIP:127.0.0.1", L"x"};
    connector_.InitConn(5, argv);
  }
  ~WorkerTest() override {
    connector_.StopConn();
    testing::RemoveFile(log_.path());
  }

  std::string RegisterText(int32_t gsid) const {
    return "Register(magic=65537, gsid=" + std::to_string(gsid) +
           ", processId=" + std::to_string(testing::TestProcessId()) +
           ", nsapList=[Nsap(nsapId=88888, port=" + std::to_string(agent_.port()) +
           ")], reserved=0, exeName=\"host_worker_test\")";
  }
  // Starts the worker and takes its first connection up to the Register frame.
  void StartAndRegister() {
    ASSERT_EQ(kRunStarted, connector_.RunConn(&host_));
    ASSERT_TRUE(agent_.Accept(seconds(10)));
    ASSERT_EQ(RegisterText(12), agent_.NextFrame());
    ASSERT_TRUE(WaitForStatus(StatusConnected));
  }
  bool WaitForStatus(int32_t status) {
    for (int i = 0; i < 1000; ++i) {
      if (connector_.GetStatus() == status) return true;
      std::this_thread::sleep_for(milliseconds(10));
    }
    return false;
  }

  FakeAgent agent_;
  ConnLog log_;
  TestHost host_;
  AgentConnector connector_;
};

TEST_F(WorkerTest, RegistersThenAnswersEveryRequestInOrder) {
  EXPECT_EQ(kWarningNotConnected, connector_.SendWarningMsg(1, "early", "", 0, 0));
  StartAndRegister();
  EXPECT_EQ(kRunAlreadyRunning, connector_.RunConn(&host_));

  agent_.Send(Check(9));
  EXPECT_EQ("CheckReply(value=9, gsid=12)", agent_.NextFrame());

  // Two requests in one send, then one split into single bytes.
  agent_.SendBytes(agent_.Encode(AgentMsg(AgentTag::kCountsRequest)) +
                   agent_.Encode(AgentMsg(AgentTag::kStatRequest)));
  EXPECT_EQ("CountsReply(counts=[1, 2])", agent_.NextFrame());
  EXPECT_EQ("StatListReply(stats=[])", agent_.NextFrame());
  for (char byte : agent_.Encode(Check(5))) {
    agent_.SendBytes(std::string(1, byte));
    std::this_thread::sleep_for(milliseconds(5));
  }
  EXPECT_EQ("CheckReply(value=5, gsid=12)", agent_.NextFrame());

  Order order;
  order.name = "__ISOLATE__";
  order.argument = "31|x";
  agent_.Send(AgentMsg(AgentTag::kOrder, order));
  EXPECT_NE(std::string::npos, agent_.NextFrame().find("OrderReply(name=\"__ISOLATE__\""));
  EXPECT_EQ(kWarningQueued, connector_.SendWarningMsg(-3, "hot", "cpu", 1, 2));
  EXPECT_EQ(
      "Warning(ids=IdTriple(idA=1, gsid=31, idB=2), code=-3, text=\"hot\", extraText=\"cpu\")",
      agent_.NextFrame());
}

// Replies leave after the dispatch that made them, gathered, while host threads queue warnings
// that only sometimes find the queue empty: nothing may be lost, doubled or reordered.
TEST_F(WorkerTest, PipelinedRepliesAndWarningsFromHostThreadsAllArriveInOrder) {
  StartAndRegister();
  constexpr int kRequests = 300;
  constexpr uint32_t kThreads = 2;
  constexpr uint32_t kWarnings = 1500;
  std::string requests;
  for (int i = 0; i < kRequests; ++i) requests += agent_.Encode(Check(i));
  std::vector<std::future<int>> senders;
  for (uint32_t thread = 0; thread < kThreads; ++thread) {
    senders.push_back(std::async(std::launch::async, [this, thread] {
      int queued = 0;
      for (uint32_t i = 0; i < kWarnings; ++i) {
        queued += connector_.SendWarningMsg(0, "w", "", thread, i) == kWarningQueued;
      }
      return queued;
    }));
  }
  agent_.SendBytes(requests);
  int replies = 0;
  uint32_t next[kThreads] = {};
  for (uint32_t frames = 0; frames < kRequests + kThreads * kWarnings; ++frames) {
    const std::string frame = agent_.NextFrame();
    if (frame.rfind("CheckReply(", 0) == 0) {
      ASSERT_EQ("CheckReply(value=" + std::to_string(replies) + ", gsid=12)", frame);
      ++replies;
      continue;
    }
    ASSERT_EQ(0u, frame.rfind("Warning(ids=IdTriple(idA=", 0)) << frame;
    const uint32_t thread = static_cast<uint32_t>(std::stoul(frame.substr(25)));
    ASSERT_LT(thread, kThreads) << frame;
    ASSERT_NE(std::string::npos, frame.find("gsid=12, idB=" + std::to_string(next[thread]++) + ")"))
        << frame;
  }
  for (auto& sender : senders) EXPECT_EQ(static_cast<int>(kWarnings), sender.get());
  EXPECT_EQ(kRequests, replies);
}

TEST_F(WorkerTest, ReconnectsWithAFreshRegisterAndNoStaleReplies) {
  StartAndRegister();
  Order isolate;
  isolate.name = "__ISOLATE__";
  isolate.argument = "31";
  agent_.Send(AgentMsg(AgentTag::kOrder, isolate));
  ASSERT_NE(std::string::npos, agent_.NextFrame().find("OrderReply("));
  // A request whose reply can only be queued after the connection is gone.
  agent_.Send(AgentMsg(AgentTag::kCountsRequest));
  agent_.CloseClient();
  ASSERT_TRUE(agent_.Accept(seconds(10)));
  EXPECT_EQ(RegisterText(31), agent_.NextFrame());
  agent_.Send(Check(4));
  EXPECT_EQ("CheckReply(value=4, gsid=31)", agent_.NextFrame());
  const std::string log = testing::FileBytes(log_.path());
  EXPECT_NE(std::string::npos, log.find(" Event: ")) << log;
  // A connect that succeeded logs error 0, not whatever the thread's last error held before it.
  EXPECT_NE(std::string::npos, log.find("Error code : 0 Connect IP: 127.0.0.1 ")) << log;
}

// A registered attempt writes its outcome, then the registration; nothing else.
TEST_F(WorkerTest, ARegisteredAttemptLogsItsConnectThenTheRegistration) {
  const std::string head = "VexilConn[05_07:09:03:045] = ";
  const std::string attempt =
      head + "Error code : 0 Connect IP: 127.0.0.1 Port:" + std::to_string(agent_.port()) + "  " +
      testing::kTextLineEnd + testing::kTextLineEnd;
  const std::string registered = head + "Registered with the HA agent as GSID 12, process " +
                                 std::to_string(testing::TestProcessId()) + testing::kTextLineEnd;
  StartAndRegister();
  std::string log = testing::FileBytes(log_.path());
  // The line follows the status change.
  for (int i = 0; i < 1000 && log.find(registered) == std::string::npos; ++i) {
    std::this_thread::sleep_for(milliseconds(10));
    log = testing::FileBytes(log_.path());
  }
  const size_t at = log.find(attempt);
  ASSERT_NE(std::string::npos, at) << log;
  EXPECT_EQ(attempt + registered, log.substr(at));
}

TEST_F(WorkerTest, MalformedFrameEndsTheConnection) {
  StartAndRegister();
  agent_.SendBytes(std::string("\x08\x00\x00\x00\x63\x00\x00\x00", 8));  // tag 99
  EXPECT_EQ("closed", agent_.NextFrame());
  ASSERT_TRUE(agent_.Accept(seconds(10)));
  EXPECT_EQ(RegisterText(12), agent_.NextFrame());
}

TEST_F(WorkerTest, StopFromInsideACallbackReturns) {
  StartAndRegister();
  Command command;
  command.text = "stop";
  agent_.Send(AgentMsg(AgentTag::kCommand, command));
  auto stopped = std::async(std::launch::async, [this] {
    while (!host_.stopped_inside) std::this_thread::sleep_for(milliseconds(10));
    connector_.StopConn();
  });
  ASSERT_EQ(std::future_status::ready, stopped.wait_for(seconds(10)));
  EXPECT_EQ(kWarningNotConnected, connector_.SendWarningMsg(0, "", "", 0, 0));
}

// A host's exception text is narrow, in the system's code page: beyond ASCII it is still logged
// whole, in UTF-8 as every line, and the connection is made again.
TEST_F(WorkerTest, AHostFailureBeyondAsciiIsLoggedWhole) {
  const std::wstring reason = L"Datei größer als erlaubt";
  host_.failure_text = WideToNarrow(reason);
  if (NarrowToWide(host_.failure_text) != reason) GTEST_SKIP() << "not in this code page";
  StartAndRegister();
  Command command;
  command.text = "fail";
  agent_.Send(AgentMsg(AgentTag::kCommand, command));
  ASSERT_TRUE(agent_.Accept(seconds(10)));
  EXPECT_EQ(RegisterText(12), agent_.NextFrame());
  const std::string line =
      "VexilConn[05_07:09:03:045] = Worker failure: Datei größer als erlaubt, "
      "connection dropped " +
      std::string(testing::kTextLineEnd) + testing::kTextLineEnd;
  const std::string log = testing::FileBytes(log_.path());
  EXPECT_NE(std::string::npos, log.find(line)) << log;
}

TEST_F(WorkerTest, AfterStopNothingStartsOrQueues) {
  StartAndRegister();
  connector_.StopConn();
  EXPECT_EQ(StatusConnected, connector_.GetStatus()) << "the last status stays";
  EXPECT_EQ(kWarningNotConnected, connector_.SendWarningMsg(0, "late", "", 0, 0));
  EXPECT_EQ(kRunAlreadyRunning, connector_.RunConn(&host_));
  connector_.StopConn();
  EXPECT_EQ("closed", agent_.NextFrame());
}

TEST_F(WorkerTest, StopWithoutRunThenRunStartsNothing) {
  connector_.StopConn();
  connector_.StopConn();
  EXPECT_EQ(kRunThreadFailed, connector_.RunConn(&host_));
  EXPECT_EQ(StatusIdle, connector_.GetStatus());
  EXPECT_FALSE(agent_.Accept(milliseconds(300)));
}

TEST_F(WorkerTest, NullArgumentsRaiseTheCheckAndChangeNothing) {
  testing::CheckRecorder checks;
  EXPECT_EQ(kRunThreadFailed, connector_.RunConn(nullptr));
  EXPECT_EQ(StatusIdle, connector_.GetStatus());
  EXPECT_EQ(kWarningNotConnected, connector_.SendWarningMsg(0, nullptr, "", 0, 0));
  EXPECT_EQ(kWarningNotConnected, connector_.SendWarningMsg(0, "", nullptr, 0, 0));
  EXPECT_EQ(3, checks.count());
  // Nothing was left locked: another thread gets through the connector lock.
  auto init = std::async(std::launch::async, [this] { return connector_.settings().gsid; });
  ASSERT_EQ(std::future_status::ready, init.wait_for(seconds(10)));
  EXPECT_EQ(12, init.get());
}

// A reconnect that lasts: the retry delay is long, and the agent is gone.
class SlowRetryTest : public WorkerTest {
 protected:
  SlowRetryTest() : WorkerTest(3000) {}
};

TEST_F(SlowRetryTest, HostCallsNeverWaitBehindAReconnect) {
  StartAndRegister();
  agent_.CloseClient();
  ASSERT_TRUE(WaitForStatus(StatusConnecting));
  // The worker now waits 3 s before its next attempt; host calls must not wait with it.
  auto calls = std::async(std::launch::async, [this] {
    const wchar_t* const argv[] = {L"srv"};
    return connector_.SendWarningMsg(0, "t", "x", 0, 0) * 10 + connector_.InitConn(1, argv);
  });
  ASSERT_EQ(std::future_status::ready, calls.wait_for(milliseconds(1500)));
  EXPECT_EQ(kWarningNotConnected * 10 + kInitOk, calls.get());
}

TEST_F(SlowRetryTest, StopDuringTheWaitEndsWithoutAnAttempt) {
  ASSERT_EQ(kRunStarted, connector_.RunConn(&host_));
  auto stop = std::async(std::launch::async, [this] { connector_.StopConn(); });
  ASSERT_EQ(std::future_status::ready, stop.wait_for(milliseconds(2000)));
  EXPECT_FALSE(agent_.Accept(milliseconds(200)));
  EXPECT_EQ(StatusConnecting, connector_.GetStatus());
}

// Counts occurrences of text in log.
size_t Occurrences(const std::string& log, const std::string& text) {
  size_t count = 0;
  for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) ++count;
  return count;
}

// Constructed before the worker test's connector, which borrows the stand-in.
struct StandInHolder {
  testing::StandInPeers peers_;
};

// The operator named user 1001 as the agent; the stand-in says who the far end is.
class AgentCheckWorkerTest : protected StandInHolder, public WorkerTest {
 protected:
  AgentCheckWorkerTest() : WorkerTest(50, AgentCheck(testing::Keys(L"1001"), L"", &peers_)) {}

  static PeerIdentity User(const wchar_t* user) {
    PeerIdentity identity;
    identity.user = user;
    return identity;
  }
};

TEST_F(AgentCheckWorkerTest, ARefusedAgentSeesConnectionsButNotOneByteUntilTheRealOneIsBack) {
  peers_.SetAnswer(User(L"0"));
  ASSERT_EQ(kRunStarted, connector_.RunConn(&host_));
  for (int attempt = 0; attempt < 3; ++attempt) {
    ASSERT_TRUE(agent_.Accept(seconds(10)));
    EXPECT_EQ("closed", agent_.NextFrame());
    EXPECT_EQ(StatusConnecting, connector_.GetStatus());
  }
  EXPECT_EQ(kWarningNotConnected, connector_.SendWarningMsg(1, "to nobody", "", 0, 0));
  const std::string refusal = "Agent refused at 127.0.0.1:" + std::to_string(agent_.port()) +
                              ": found user 0; expected user 1001; closed before sending, next "
                              "attempt in 50 ms";
  EXPECT_EQ(1u, Occurrences(testing::FileBytes(log_.path()), refusal))
      << "the same finding is written once: " << testing::FileBytes(log_.path());

  peers_.SetAnswer(User(L"1001"));
  // An attempt judged before the answer changed may still arrive, refused.
  std::string frame;
  for (int attempt = 0; attempt < 5 && frame != RegisterText(12); ++attempt) {
    ASSERT_TRUE(agent_.Accept(seconds(10)));
    frame = agent_.NextFrame();
  }
  ASSERT_EQ(RegisterText(12), frame);
  ASSERT_TRUE(WaitForStatus(StatusConnected));
  EXPECT_NE(std::string::npos, testing::FileBytes(log_.path())
                                   .find("Agent check passed at 127.0.0.1:" +
                                         std::to_string(agent_.port()) + ": user 1001"));
}

// A refused agent sees its connection closed at once, not only when the next attempt, a long
// delay later, replaces it.
class SlowAgentCheckWorkerTest : protected StandInHolder, public WorkerTest {
 protected:
  SlowAgentCheckWorkerTest() : WorkerTest(3000, AgentCheck(testing::Keys(L"1001"), L"", &peers_)) {}
};

TEST_F(SlowAgentCheckWorkerTest, ARefusedConnectionIsClosedBeforeTheNextAttempt) {
  PeerIdentity other;
  other.user = L"0";
  peers_.SetAnswer(other);
  ASSERT_EQ(kRunStarted, connector_.RunConn(&host_));
  ASSERT_TRUE(agent_.Accept(seconds(10)));
  EXPECT_EQ("closed", agent_.NextFrame(milliseconds(1500)));
  EXPECT_EQ(StatusConnecting, connector_.GetStatus());
}

// Off, the check asks the system nothing at all.
class AgentCheckOffWorkerTest : protected StandInHolder, public WorkerTest {
 protected:
  AgentCheckOffWorkerTest() : WorkerTest(50, AgentCheck(testing::Keys(L""), L"", &peers_)) {}
};

TEST_F(AgentCheckOffWorkerTest, RegistersWithoutAskingTheSystem) {
  StartAndRegister();
  EXPECT_EQ(0, peers_.lookups.load());
  EXPECT_EQ(0, peers_.user_resolutions.load());
}

// The agent played by this process, as the operating system sees it: the far end's executable is
// this test program's, and (POSIX) its user is ours.
AgentKeys ThisProcess() {
#ifdef _WIN32
  return testing::Keys(L"", ExecutablePath().c_str());
#else
  const std::wstring uid = std::to_wstring(::getuid());
  return testing::Keys(uid.c_str(), ExecutablePath().c_str());
#endif
}

AgentKeys AnotherProcess() {
  const std::wstring other = ExecutablePath() + L".other";
#ifdef _WIN32
  return testing::Keys(L"", other.c_str());
#else
  return testing::Keys(L"12345", other.c_str());
#endif
}

class SystemCheckedWorkerTest : public WorkerTest {
 protected:
  SystemCheckedWorkerTest() : WorkerTest(50, AgentCheck(ThisProcess(), L"", &SystemPeers())) {}
};

TEST_F(SystemCheckedWorkerTest, TheSystemNamesThisProcessAsTheAgentAndItRegisters) {
  if (testing::RunningUnderWine()) {
    GTEST_SKIP() << "Wine's TCP table names no owning process for any connection: the agent "
                    "check refuses every agent there (AnotherUserOrExecutableIsRefused still runs)";
  }
  StartAndRegister();
  EXPECT_NE(std::string::npos,
            testing::FileBytes(log_.path()).find("Agent check passed at 127.0.0.1:"));
}

class SystemRefusingWorkerTest : public WorkerTest {
 protected:
  SystemRefusingWorkerTest() : WorkerTest(50, AgentCheck(AnotherProcess(), L"", &SystemPeers())) {}
};

TEST_F(SystemRefusingWorkerTest, AnotherUserOrExecutableIsRefused) {
  ASSERT_EQ(kRunStarted, connector_.RunConn(&host_));
  for (int attempt = 0; attempt < 2; ++attempt) {
    ASSERT_TRUE(agent_.Accept(seconds(10)));
    EXPECT_EQ("closed", agent_.NextFrame());
    EXPECT_EQ(StatusConnecting, connector_.GetStatus());
  }
  const std::string log = testing::FileBytes(log_.path());
  EXPECT_EQ(1u, Occurrences(log, "Agent refused at 127.0.0.1:")) << log;
  EXPECT_NE(std::string::npos, log.find(".other")) << log;
}

#ifndef _WIN32
// The links of every descriptor process holds ("socket:[123]", "/path", ...).
std::vector<std::string> DescriptorLinks(const std::string& process) {
  std::vector<std::string> links;
  const std::string folder = "/proc/" + process + "/fd/";
  DIR* directory = ::opendir(folder.c_str());
  if (directory == nullptr) return links;
  while (const dirent* entry = ::readdir(directory)) {
    char link[512];
    const ssize_t n = ::readlink((folder + entry->d_name).c_str(), link, sizeof link - 1);
    if (n > 0) links.emplace_back(link, static_cast<size_t>(n));
  }
  ::closedir(directory);
  return links;
}

// The link of this process's descriptor for the local TCP port; empty when none has it.
std::string SocketLinkOfPort(uint16_t port) {
  for (int descriptor = 0; descriptor < 1024; ++descriptor) {
    sockaddr_in address = {};
    socklen_t length = sizeof address;
    if (::getsockname(descriptor, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
        address.sin_family != AF_INET || ::ntohs(address.sin_port) != port) {
      continue;
    }
    char link[128];
    const std::string path = "/proc/self/fd/" + std::to_string(descriptor);
    const ssize_t n = ::readlink(path.c_str(), link, sizeof link - 1);
    if (n > 0) return std::string(link, static_cast<size_t>(n));
  }
  return std::string();
}

// A program the host starts while connected must not hold the connection open (the agent would
// never see the host die), nor the connector's events.
TEST_F(WorkerTest, AChildStartedWhileConnectedHoldsNothingOfTheConnector) {
  StartAndRegister();
  const std::string connection = SocketLinkOfPort(agent_.ConnectorPort());
  ASSERT_FALSE(connection.empty());
  char program[] = "/bin/sleep";
  char seconds_argument[] = "30";
  char* const argv[] = {program, seconds_argument, nullptr};
  pid_t child = 0;
  ASSERT_EQ(0, ::posix_spawn(&child, program, nullptr, nullptr, argv, environ));
  const std::vector<std::string> links = DescriptorLinks(std::to_string(child));
  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
  ASSERT_FALSE(links.empty());
  for (const std::string& link : links) {
    EXPECT_NE(connection, link);
    EXPECT_EQ(std::string::npos, link.find("eventfd")) << link;
  }
}
#endif

}  // namespace
}  // namespace vexil
