// The connector against an agent that misbehaves in every way the stand-in agent can: the
// connector never crashes or hangs, drops a damaged connection and registers afresh, answers in
// request order, keeps host calls short, and holds its handle count and memory steady over many
// reconnects.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <future>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "e2e/process_figures.h"
#include "e2e/warning_storm.h"
#include "host/agent_connector.h"
#include "host/send_queue.h"
#include "net/native_socket.h"
#include "orvel/frame.h"
#include "support/agreeing_host.h"
#include "support/file_bytes.h"
#include "support/running_agent.h"
#include "support/test_platform.h"

#ifdef _WIN32
#include "e2e/full_listen_queue.h"
#endif

namespace vexil {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;
using Clock = std::chrono::steady_clock;

LogTime FixedTime() { return LogTime{2024, 3, 5, 7, 9, 3, 45}; }

using testing::MeasureProcess;
using testing::ProcessFigures;
using testing::RunWarningStorm;
using testing::StormOutcome;
using testing::WarningIds;

// A host that answers checks with their value and notes the connector's status at every call
// and, for a chosen check value, the process figures.
class RecordingHost final : public HostCallback {
 public:
  int OnCheckRequest(int32_t value) override {
    std::lock_guard<std::mutex> guard(mutex);
    statuses.push_back(connector->GetStatus());
    if (value >= 1000000) figures.push_back(MeasureProcess());
    return 1;
  }
  int OnOrder(const char*, const char*, char*, int32_t*, uint32_t, uint32_t) override { return 1; }
  int OnCommand(uint32_t, uint32_t, const char*) override { return 1; }
  int OnCountsRequest(CountsSink*) override { return 0; }
  int OnRegionRequest(RegionSink*) override { return 0; }
  int OnStatRequest(StatSink*) override { return 0; }
  int OnRegionRequestExtra(RegionExtraSink*) override { return 0; }
  int OnStatRequestExtra(StatExtraSink*) override { return 0; }

  AgentConnector* connector = nullptr;
  std::mutex mutex;
  std::vector<int32_t> statuses;        // guarded by mutex
  std::vector<ProcessFigures> figures;  // guarded by mutex
};

// Host calls made on a thread of their own for as long as it lives; the longest one is kept.
class HostCaller {
 public:
  explicit HostCaller(AgentConnector* connector)
      : thread_([this, connector] {
          while (!done_) {
            const auto start = Clock::now();
            connector->GetStatus();
            connector->SendWarningMsg(1, "probe", "", 0, 0);
            const auto took = std::chrono::duration_cast<milliseconds>(Clock::now() - start);
            longest_ = std::max<long long>(longest_, took.count());
            std::this_thread::sleep_for(milliseconds(2));
          }
        }) {}
  ~HostCaller() { Stop(); }
  long long Stop() {
    done_ = true;
    if (thread_.joinable()) thread_.join();
    return longest_;
  }

 private:
  std::atomic<bool> done_{false};
  std::atomic<long long> longest_{0};
  std::thread thread_;
};

std::vector<int> CheckReplyValues(const std::string& out) {
  std::vector<int> values;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    const std::string head = "<- CheckReply value=";
    if (line.compare(0, head.size(), head) == 0)
      values.push_back(std::stoi(line.substr(head.size())));
  }
  return values;
}

size_t Count(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

class FaultTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { StartupSockets(kSocketVersion20); }
  static void TearDownTestSuite() { CleanupSockets(); }

  FaultTest()
      : log_(&FixedTime, L"c:\\no such directory\\none.ini"),
        connector_(&log_, ConnectorTiming{50, 8990}) {
    testing::RemoveFile(log_.path());
    host_.connector = &connector_;
  }
  ~FaultTest() override {
    connector_.StopConn();
    testing::RemoveFile(log_.path());
  }
  static void Init(AgentConnector* connector, const wchar_t* haip) {
    const std::wstring option = std::wstring(L"-HAIP:") + haip;
    const wchar_t* const argv[] = {L"srv", L"-GSID:12", L"-HAPORT:1", option.c_str(), L"x"};
    ASSERT_EQ(kInitOk, connector->InitConn(5, argv));
  }
  void Start(const wchar_t* haip) {
    Init(&connector_, haip);
    ASSERT_EQ(kRunStarted, connector_.RunConn(&host_));
  }
  void ExpectEveryCallbackSawConnected() {
    std::lock_guard<std::mutex> guard(host_.mutex);
    EXPECT_FALSE(host_.statuses.empty());
    for (int32_t status : host_.statuses) EXPECT_EQ(StatusConnected, status);
  }

  ConnLog log_;
  RecordingHost host_;
  AgentConnector connector_;
};

// Each damaging fault: the connection is dropped, the next one opens with a fresh Register and
// is served. Each harmless one: the connection stays and is served.
TEST_F(FaultTest, EveryFaultEndsInAServedConnection) {
  struct Case {
    const char* fault;
    bool drops;
  };
  const Case cases[] = {
      {"frame-length +4\ncheck 999\ncheck 998", true},
      {"frame-length -3\ncheck 999", true},
      {"text-past-frame", true},
      {"tag 99", true},
      {"garbage 64", true},
      {"frame-length +17000000\ncheck 999", true},
      {"rst", true},
      {"half-close", true},
      {"close-now", true},
      {"restart", true},
      {"close", true},
      {"drip", false},
      {"big-order 1000000", false},
      // An empty tag-0 frame and a CheckRequest for 900 in one send: the request is answered.
      {"raw 0800000000000000 0C00000002000000 84030000\nexpect CheckReply 3000 value=900", false},
  };
  std::vector<std::string> script = {"expect Register 10000"};
  int value = 1;
  for (const Case& c : cases) {
    std::istringstream fault(c.fault);
    for (std::string line; std::getline(fault, line);) script.push_back(line);
    if (c.drops) script.push_back("expect Register 10000");
    script.push_back("check " + std::to_string(value));
    script.push_back("expect CheckReply 10000 value=" + std::to_string(value));
    ++value;
  }
  script.push_back("flood 2000");
  script.push_back("expect CheckReply 20000 value=2000 ");
  script.push_back("quit");
  tools::RunningAgent agent("127.0.0.32", script);
  ASSERT_TRUE(agent.listening());
  Start(L"127.0.0.32");
  HostCaller caller(&connector_);
  const int status = agent.Join();
  const long long longest = caller.Stop();
  const std::string out = agent.Output();
  ASSERT_EQ(tools::kExitOk, status) << out;
  EXPECT_EQ(std::string::npos, out.find("malformed frame from the connector")) << out;
  // One Register per connection: the first, and one after each drop.
  EXPECT_EQ(1u + 11u, Count(out, "<- Register "));
  // Within the flood's connection the replies come in request order.
  std::vector<int> values = CheckReplyValues(out);
  std::vector<int> flood(values.end() - std::min<size_t>(values.size(), 2000), values.end());
  for (size_t i = 0; i < flood.size(); ++i) ASSERT_EQ(static_cast<int>(i + 1), flood[i]);
  ExpectEveryCallbackSawConnected();
  std::printf("longest host call during the faults: %lld ms\n", longest);
  EXPECT_LT(longest, 1000);
}

// The agent stops reading while the host queues: host calls stay short, and once the connection
// holds the most it may, it is dropped visibly and made again.
TEST_F(FaultTest, AStalledAgentCostsABoundedConnectionNotAHang) {
  tools::RunningAgent agent("127.0.0.33", {"expect Register 10000", "stall", "wait 20000", "resume",
                                           "expect Register 20000", "check 5",
                                           "expect CheckReply 10000 value=5", "quit"});
  ASSERT_TRUE(agent.listening());
  Start(L"127.0.0.33");
  for (int i = 0; i < 1000 && connector_.GetStatus() != StatusConnected; ++i)
    std::this_thread::sleep_for(milliseconds(10));
  ASSERT_EQ(StatusConnected, connector_.GetStatus());
  const ProcessFigures before = MeasureProcess();
  size_t peak = 0;
  const std::string text(4000, 'w');
  long long longest = 0;
  int queued = 0;
  for (int i = 0; i < 20000 && connector_.GetStatus() == StatusConnected; ++i) {
    const auto start = Clock::now();
    queued += connector_.SendWarningMsg(i, text.c_str(), "", 0, 0);
    longest = std::max<long long>(
        longest, std::chrono::duration_cast<milliseconds>(Clock::now() - start).count());
    if (i % 100 == 0) peak = std::max(peak, MeasureProcess().private_bytes);
  }
  EXPECT_NE(StatusConnected, connector_.GetStatus()) << "the connection was never dropped";
  const std::string log = testing::FileBytes(log_.path());
  EXPECT_NE(std::string::npos, log.find("Outgoing limit reached")) << log;
  std::printf("stall: %d warnings queued, longest call %lld ms, private bytes %zu -> peak %zu\n",
              queued, longest, before.private_bytes, peak);
  EXPECT_LT(longest, 1000);
  const int status = agent.Join();
  ASSERT_EQ(tools::kExitOk, status) << agent.Output().substr(0, 2000);
  EXPECT_EQ(std::string::npos, agent.Output().find("malformed frame from the connector"));
}

// Restarts in a row: every one ends in a registered, served connection, and from the tenth on
// the process's handle count and private memory stay within a small allowance.
TEST_F(FaultTest, TwoHundredRestartsLeakNothing) {
  constexpr int kRestarts = 200;
  std::vector<std::string> script = {"expect Register 10000"};
  for (int i = 1; i <= kRestarts; ++i) {
    script.push_back("restart");
    script.push_back("expect Register 10000");
    script.push_back("check " + std::to_string(1000000 + i));
    script.push_back("expect CheckReply 10000 value=" + std::to_string(1000000 + i));
  }
  script.push_back("quit");
  tools::RunningAgent agent("127.0.0.34", script);
  ASSERT_TRUE(agent.listening());
  Start(L"127.0.0.34");
  HostCaller caller(&connector_);
  ASSERT_EQ(tools::kExitOk, agent.Join()) << agent.Output().substr(0, 2000);
  const long long longest = caller.Stop();
  std::lock_guard<std::mutex> guard(host_.mutex);
  ASSERT_EQ(static_cast<size_t>(kRestarts), host_.figures.size());
  const ProcessFigures tenth = host_.figures[9];
  const ProcessFigures last = host_.figures.back();
  std::printf(
      "restarts: handles %lu -> %lu, next handle %#x -> %#x, private bytes %zu -> %zu, longest "
      "call %lld ms\n",
      tenth.handles, last.handles, static_cast<unsigned>(tenth.next_handle),
      static_cast<unsigned>(last.next_handle), tenth.private_bytes, last.private_bytes, longest);
  EXPECT_LE(last.handles, tenth.handles + 8);
  EXPECT_LE(vexil::testing::LateNextHandle(host_.figures, 10),
            vexil::testing::SettledNextHandle(host_.figures, 10) + 8 * 4)
      << "handles leak";
  if (testing::kMemoryIsLeakProbe) {
    EXPECT_LE(last.private_bytes, tenth.private_bytes + (2u << 20));
  }
  EXPECT_LT(longest, 1000);
}

// Eight host threads send warnings while the agent restarts every 2 s: within each thread what
// arrives is in order, never twice, and only what was reported queued; what was queued for a
// dropped connection is lost with it.
TEST_F(FaultTest, WarningStormAcrossAgentRestartsKeepsEachThreadsOrder) {
  constexpr unsigned kThreads = 8;
  constexpr unsigned kEach = 10000;
  std::vector<std::string> script = {"expect Register 10000"};
  for (int i = 0; i < 4; ++i) {
    script.insert(script.end(), {"wait 2000", "restart", "expect Register 10000"});
  }
  script.insert(script.end(), {"expect Warning 60000 code=999", "quit"});
  tools::RunningAgent agent("127.0.0.37", script);
  ASSERT_TRUE(agent.listening());
  Start(L"127.0.0.37");
  for (int i = 0; i < 1000 && connector_.GetStatus() != StatusConnected; ++i)
    std::this_thread::sleep_for(milliseconds(10));
  // Spread over several restarts: a short pause every 10 calls.
  const StormOutcome storm = RunWarningStorm(kThreads, kEach, 10, [this](unsigned t, unsigned seq) {
    return connector_.SendWarningMsg(1, "storm", "", t, seq) == kWarningQueued;
  });
  const std::vector<std::vector<unsigned>>& queued = storm.queued;
  // The end mark, repeated until the agent has seen it after its last restart.
  auto agent_done = std::async(std::launch::async, [&agent] { return agent.Join(); });
  while (agent_done.wait_for(milliseconds(100)) != std::future_status::ready) {
    connector_.SendWarningMsg(999, "end", "", kThreads, 0);
  }
  const std::string out = agent.Output();
  ASSERT_EQ(tools::kExitOk, agent_done.get()) << out.substr(0, 2000);
  EXPECT_EQ(std::string::npos, out.find("malformed frame from the connector"));

  size_t delivered = 0;
  size_t reported = 0;
  std::istringstream lines(out);
  std::vector<unsigned> last(kThreads, 0);
  std::vector<size_t> next_queued(kThreads, 0);
  for (std::string line; std::getline(lines, line);) {
    unsigned thread = 0;
    unsigned seq = 0;
    if (!WarningIds(line, &thread, &seq) || thread >= kThreads) continue;
    ASSERT_GT(seq, last[thread]) << "thread " << thread << ": repeated or out of order";
    last[thread] = seq;
    // Every arrival is one of the thread's queued warnings, found in queueing order.
    while (next_queued[thread] < queued[thread].size() &&
           queued[thread][next_queued[thread]] < seq) {
      ++next_queued[thread];
    }
    ASSERT_LT(next_queued[thread], queued[thread].size());
    ASSERT_EQ(seq, queued[thread][next_queued[thread]]) << "not reported queued";
    ++delivered;
  }
  for (const auto& q : queued) reported += q.size();
  const long long worst = storm.longest_ms;
  std::printf("storm across restarts: %zu queued, %zu delivered, longest call %lld ms\n", reported,
              delivered, worst);
  EXPECT_GT(delivered, 0u);
  EXPECT_LT(worst, 1000);
}

// A frame many times what the system takes in one send, read as fast as the agent can, then a
// burst queued behind a reader that sleeps: the sending resumes by itself on every write
// notification, so everything arrives, whole and in order, without a later message to push it.
TEST_F(FaultTest, ALargeFrameAndABurstBehindASleepingReaderArriveWhole) {
  constexpr unsigned kLargeBytes = 12000000;
  constexpr unsigned kBurst = 1500;
  tools::RunningAgent agent(
      "127.0.0.38", {"expect Register 10000", "expect Warning 30000 code=7 ", "stall", "check 5",
                     "wait 4000", "resume", "expect Warning 30000 code=1500 ", "quit"});
  ASSERT_TRUE(agent.listening());
  Start(L"127.0.0.38");
  for (int i = 0; i < 1000 && connector_.GetStatus() != StatusConnected; ++i)
    std::this_thread::sleep_for(milliseconds(10));
  ASSERT_EQ(StatusConnected, connector_.GetStatus());
  const std::string large(kLargeBytes, 'L');
  const auto large_sent = Clock::now();
  ASSERT_EQ(kWarningQueued, connector_.SendWarningMsg(7, large.c_str(), "", 1, 1));
  // The agent asks for a check once it has the large frame and has stopped reading.
  for (int i = 0; i < 3000; ++i) {
    {
      std::lock_guard<std::mutex> guard(host_.mutex);
      if (!host_.statuses.empty()) break;
    }
    std::this_thread::sleep_for(milliseconds(10));
  }
  const auto large_took = std::chrono::duration_cast<milliseconds>(Clock::now() - large_sent);
  const std::string text(4000, 'b');
  for (unsigned code = 1; code <= kBurst; ++code) {
    ASSERT_EQ(kWarningQueued,
              connector_.SendWarningMsg(static_cast<int32_t>(code), text.c_str(), "", 2, code));
  }
  const auto burst_queued = Clock::now();
  const std::string out = agent.Output();
  const auto burst_took = std::chrono::duration_cast<milliseconds>(Clock::now() - burst_queued);
  std::printf(
      "large frame: %u bytes read by the agent within %lld ms; burst: %u x %zu bytes "
      "behind a 4000 ms sleep, all read %lld ms after the last call\n",
      kLargeBytes, static_cast<long long>(large_took.count()), kBurst, text.size(),
      static_cast<long long>(burst_took.count()));
  ASSERT_EQ(tools::kExitOk, agent.Join()) << out.substr(0, 2000);
  EXPECT_EQ(std::string::npos, out.find("malformed frame from the connector"));
  EXPECT_NE(std::string::npos, out.find("code=7 text=\"" + large + "\""));
  std::vector<unsigned> burst;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    unsigned thread = 0;
    unsigned seq = 0;
    if (WarningIds(line, &thread, &seq) && thread == 2) burst.push_back(seq);
  }
  ASSERT_EQ(kBurst, burst.size());
  for (unsigned i = 0; i < kBurst; ++i) ASSERT_EQ(i + 1, burst[i]);
}

// The agent, like our own reader, takes a frame of at most kMaxFrameLength bytes: a warning that
// fills one exactly arrives; one byte more is refused at the call, with its size in the log.
TEST_F(FaultTest, AWarningAtTheFrameLimitArrivesAndOneByteMoreIsRefused) {
  tools::RunningAgent agent("127.0.0.45",
                            {"expect Register 10000", "expect Warning 30000 code=2 ", "quit"});
  ASSERT_TRUE(agent.listening());
  Start(L"127.0.0.45");
  for (int i = 0; i < 1000 && connector_.GetStatus() != StatusConnected; ++i)
    std::this_thread::sleep_for(milliseconds(10));
  ASSERT_EQ(StatusConnected, connector_.GetStatus());
  BufferPtr empty;
  ASSERT_TRUE(WriteFrame(empty, ConnectorMsg(ConnectorTag::kWarning, Warning())));
  const std::string fits(kMaxFrameLength - empty.Size(), 'f');
  const std::string over = fits + "o";
  EXPECT_EQ(kWarningNotConnected, connector_.SendWarningMsg(1, over.c_str(), "", 0, 0));
  EXPECT_EQ(kWarningQueued, connector_.SendWarningMsg(2, fits.c_str(), "", 0, 0));
  ASSERT_EQ(tools::kExitOk, agent.Join()) << agent.Output().substr(0, 2000);
  EXPECT_EQ(std::string::npos, agent.Output().find("malformed frame from the connector"));
  EXPECT_EQ(std::string::npos, agent.Output().find("code=1 "));
  const std::string log = testing::FileBytes(log_.path());
  EXPECT_NE(std::string::npos, log.find(std::to_string(kMaxFrameLength + 1) + " bytes")) << log;
}

// While the worker is held in a host callback, another thread's warnings fill the queue to its
// bound: the next ones are refused with result 0 and counted, the first of them logged, and
// warnings are taken again once the worker has taken what waited.
TEST_F(FaultTest, WarningsPastTheQueuesBoundAreRefusedUntilTheWorkerTakesThem) {
  class HoldingHost final : public testing::AgreeingHost {
   public:
    int OnCheckRequest(int32_t) override {
      entered.set_value();
      released.get_future().wait_for(seconds(30));
      return 1;
    }
    std::promise<void> entered;
    std::promise<void> released;
  } host;
  tools::RunningAgent agent("127.0.0.57",
                            {"expect Register 10000", "check 1", "expect CheckReply 30000 value=1",
                             "expect Warning 30000 code=3 ", "quit"});
  ASSERT_TRUE(agent.listening());
  Init(&connector_, L"127.0.0.57");
  ASSERT_EQ(kRunStarted, connector_.RunConn(&host));
  ASSERT_EQ(std::future_status::ready, host.entered.get_future().wait_for(seconds(10)));
  uint32_t queued = 0;
  while (queued <= SendQueue::kMostQueuedFrames &&
         connector_.SendWarningMsg(1, "t", "", 0, queued) == kWarningQueued) {
    ++queued;
  }
  EXPECT_EQ(SendQueue::kMostQueuedFrames, queued);
  EXPECT_EQ(kWarningNotConnected, connector_.SendWarningMsg(2, "t", "", 0, 0));
  host.released.set_value();
  bool taken_again = false;
  for (int i = 0; i < 1000 && !taken_again; ++i) {
    taken_again = connector_.SendWarningMsg(3, "again", "", 0, 0) == kWarningQueued;
    if (!taken_again) std::this_thread::sleep_for(milliseconds(10));
  }
  EXPECT_TRUE(taken_again);
  ASSERT_EQ(tools::kExitOk, agent.Join()) << agent.Output().substr(0, 2000);
  EXPECT_EQ(std::string::npos, agent.Output().find("code=2 "));
  const std::string log = testing::FileBytes(log_.path());
  const std::string line =
      "Warning refused: 65536 frames or 8388608 bytes already wait to be sent; 1 refused so far";
  EXPECT_NE(std::string::npos, log.find(line)) << log;
  EXPECT_EQ(std::string::npos, log.find("2 refused so far")) << log;
}

// A stop asked for inside a callback, while a second request waits unread: the reply to the
// first still reaches the agent, followed by an orderly end of the stream rather than a reset
// (which a close with unread input would send, and which could cost the agent that reply).
TEST_F(FaultTest, TheLastReplyBeforeAStopArrivesAndTheStreamEndsInOrder) {
  class StoppingHost final : public testing::AgreeingHost {
   public:
    explicit StoppingHost(AgentConnector* connector) : connector_(connector) {}
    int OnCheckRequest(int32_t) override {
      // The agent's second request arrives meanwhile and stays unread.
      std::this_thread::sleep_for(milliseconds(300));
      connector_->StopConn();
      return 1;
    }

   private:
    AgentConnector* connector_;
  } host(&connector_);
  tools::RunningAgent agent("127.0.0.53", {"expect Register 10000", "check 1", "wait 50", "check 2",
                                           "expect CheckReply 10000 value=1", "wait 1000", "quit"});
  ASSERT_TRUE(agent.listening());
  Init(&connector_, L"127.0.0.53");
  ASSERT_EQ(kRunStarted, connector_.RunConn(&host));
  agent.Join();
  const std::string out = agent.Output();
  EXPECT_NE(std::string::npos, out.find("<- CheckReply value=1")) << out;
  EXPECT_EQ(std::string::npos, out.find("<- CheckReply value=2")) << out;
  EXPECT_NE(std::string::npos, out.find("-- connection closed by the connector")) << out;
}

// Stop returns promptly from every state the worker can be in.
TEST_F(FaultTest, StopReturnsFromEveryState) {
  const auto timed_stop = [](AgentConnector* connector) {
    const auto start = Clock::now();
    auto stop = std::async(std::launch::async, [connector] { connector->StopConn(); });
    const bool prompt = stop.wait_for(seconds(1)) == std::future_status::ready;
    std::printf("stop took %lld ms\n",
                static_cast<long long>(
                    std::chrono::duration_cast<milliseconds>(Clock::now() - start).count()));
    return prompt;
  };
  {
    // Agent refusing: nothing listens on this address.
    AgentConnector refused(&log_, ConnectorTiming{50, 8990});
    Init(&refused, L"127.0.0.35");
    ASSERT_EQ(kRunStarted, refused.RunConn(&host_));
    std::this_thread::sleep_for(milliseconds(300));
    EXPECT_TRUE(timed_stop(&refused));
  }
  {
    // Before the first attempt, inside a long wait.
    AgentConnector waiting(&log_, ConnectorTiming{5000, 8990});
    ASSERT_EQ(kRunStarted, waiting.RunConn(&host_));
    EXPECT_TRUE(timed_stop(&waiting));
  }
#ifdef _WIN32
  {
    // A connect the system takes long to give up on: the agent's listen queue is full, so its
    // further connection requests are dropped unanswered.
    testing::FullListenQueue full("127.0.0.39");
    ASSERT_TRUE(full.full());
    AgentConnector stuck(&log_, ConnectorTiming{50, 8990});
    Init(&stuck, L"127.0.0.39");
    ASSERT_EQ(kRunStarted, stuck.RunConn(&host_));
    std::this_thread::sleep_for(milliseconds(1000));
    EXPECT_EQ(StatusConnecting, stuck.GetStatus());
    EXPECT_TRUE(timed_stop(&stuck));
    // The attempt a stop ends writes no line.
    const std::string log = testing::FileBytes(log_.path());
    EXPECT_EQ(std::string::npos, log.find("Connect IP: 127.0.0.39")) << log;
  }
#endif
  if (testing::kSystemNameLookupTestable) {
    // A name: looked up off the worker (a label longer than 63 characters fails without a query).
    AgentConnector named(&log_, ConnectorTiming{50, 8990});
    Init(&named, (std::wstring(70, L'n') + L".invalid").c_str());
    ASSERT_EQ(kRunStarted, named.RunConn(&host_));
    std::this_thread::sleep_for(milliseconds(300));
    EXPECT_TRUE(timed_stop(&named));
  }
  // Connected with replies queued behind a stalled agent, then connected and idle.
  tools::RunningAgent agent("127.0.0.36", {"expect Register 10000", "stall", "flood 3000",
                                           "wait 1500", "resume", "wait 500", "quit"});
  ASSERT_TRUE(agent.listening());
  Start(L"127.0.0.36");
  for (int i = 0; i < 1000 && connector_.GetStatus() != StatusConnected; ++i)
    std::this_thread::sleep_for(milliseconds(10));
  std::this_thread::sleep_for(milliseconds(500));
  EXPECT_TRUE(timed_stop(&connector_));
  agent.Join();
}

}  // namespace
}  // namespace vexil
