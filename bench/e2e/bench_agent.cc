// The benchmark's agent: listens where the connector connects, starts vexil_bench_host, and times
// request round trips, pipelined requests and warning delivery, first over raw Winsock between
// the two processes (the limit for this transport), then through VexilConn.dll. Prints
// "bench <name> <value> <unit>" and "ratio <name> <value>" lines.
//   vexil_bench_agent [--address 127.0.0.N] [--count N] [--trace]
// --trace runs every phase once (no rounds) and prints the thread ids, for counting Wine server
// calls in a trace of the run.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "bench_wire.h"
#include "orvel/frame.h"
#include "sync/last_error.h"
#include "vexilconn/vexilconn.h"

namespace vexil::bench {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int32_t kPipelineWindow = 16;  // requests in flight in the pipelined phases

std::string FrameBytes(const AgentMsg& message) {
  BufferPtr buffer;
  if (!WriteFrame(buffer, message)) Fail("WriteFrame");
  return std::string(reinterpret_cast<const char*>(buffer.Data()), buffer.Size());
}

std::string CheckRequestFrame(int32_t value) {
  CheckRequest request;
  request.value = value;
  return FrameBytes(AgentMsg(AgentTag::kCheckRequest, request));
}

// One receive from a blocking socket per call; says how many whole replies it completed.
class ReplyStream {
 public:
  virtual ~ReplyStream() = default;
  virtual int Receive() = 0;
  // Receives until exactly one reply has arrived (the ping-pong case).
  void ReceiveOne() {
    int replies = 0;
    while (replies == 0) replies = Receive();
    if (replies != 1) Fail("one reply per request");
  }
};

// Raw replies: only their size matters.
class RawReplies final : public ReplyStream {
 public:
  RawReplies(const SocketHolder& socket, size_t replySize)
      : socket_(socket), replySize_(replySize), chunk_(65536) {}

  int Receive() override {
    const int received = recv(socket_.get(), chunk_.data(), static_cast<int>(chunk_.size()), 0);
    if (received <= 0) Fail("recv");
    partial_ += static_cast<size_t>(received);
    const int whole = static_cast<int>(partial_ / replySize_);
    partial_ %= replySize_;
    return whole;
  }

 private:
  const SocketHolder& socket_;
  const size_t replySize_;
  std::vector<char> chunk_;
  size_t partial_ = 0;
};

// Frames from the connector, each decoded. Counts the frames with the expected tag; checks that
// warnings keep each sending thread's order (the host numbers them from 0 per thread and phase);
// any other frame ends the run.
class FrameReplies final : public ReplyStream {
 public:
  explicit FrameReplies(const SocketHolder& socket) : socket_(socket), chunk_(65536) {}

  void Expect(ConnectorTag tag) {
    expected_ = tag;
    nextCode_.clear();
  }

  int Receive() override {
    const int received = recv(socket_.get(), chunk_.data(), static_cast<int>(chunk_.size()), 0);
    if (received <= 0) Fail("recv from the connector");
    inbox_.Append(chunk_.data(), static_cast<unsigned>(received));
    int whole = 0;
    for (unsigned before = inbox_.Size(); ReadFrame(message_, inbox_); before = inbox_.Size()) {
      lastFrameSize_ = before - inbox_.Size();
      if (const Warning* warning = message_.As<Warning>()) TakeWarning(*warning);
      if (message_.tag() == expected_) {
        ++whole;
      } else if (message_.tag() != ConnectorTag::kWarning) {
        Fail("an unexpected frame tag " + std::to_string(static_cast<uint32_t>(message_.tag())));
      }
    }
    if (LastErrorCode() != kErrorIncompleteFrame) Fail("a malformed frame from the connector");
    return whole;
  }

  unsigned lastFrameSize() const { return lastFrameSize_; }
  // Since the start of the run.
  int64_t outOfOrder() const { return outOfOrder_; }

 private:
  void TakeWarning(const Warning& warning) {
    int32_t& next = nextCode_[warning.ids.idA];
    if (warning.code != next) ++outOfOrder_;
    next = warning.code + 1;
  }

  const SocketHolder& socket_;
  std::vector<char> chunk_;
  BufferPtr inbox_;
  ConnectorMsg message_;
  ConnectorTag expected_ = ConnectorTag::kNone;
  unsigned lastFrameSize_ = 0;
  std::map<uint32_t, int32_t> nextCode_;  // per sending thread (idA): the code expected next
  int64_t outOfOrder_ = 0;                // warnings that were duplicated, lost or reordered
};

// Round-trip times in microseconds, one per request.
std::vector<double> PingPong(int32_t count, const SocketHolder& socket, const std::string& request,
                             ReplyStream& replies) {
  std::vector<double> micros;
  micros.reserve(static_cast<size_t>(count));
  for (int32_t i = 0; i < count; ++i) {
    const Clock::time_point start = Clock::now();
    SendAll(socket, request.data(), request.size());
    replies.ReceiveOne();
    micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
  }
  return micros;
}

// Keeps kPipelineWindow requests in flight, sending as many new ones as replies came back.
// Returns the seconds taken.
double Pipelined(int32_t count, const SocketHolder& socket, const std::string& request,
                 ReplyStream& replies) {
  std::string window;
  for (int32_t i = 0; i < kPipelineWindow; ++i) window += request;
  const Clock::time_point start = Clock::now();
  int32_t sent = std::min(count, kPipelineWindow);
  SendAll(socket, window.data(), request.size() * static_cast<size_t>(sent));
  for (int32_t done = 0; done < count;) {
    const int32_t arrived = replies.Receive();
    done += arrived;
    const int32_t more = std::min(arrived, count - sent);
    if (more > 0) SendAll(socket, window.data(), request.size() * static_cast<size_t>(more));
    sent += more;
  }
  return std::chrono::duration<double>(Clock::now() - start).count();
}

void Print(const std::string& name, double value, const char* unit) {
  std::printf("bench %s %.1f %s\n", name.c_str(), value, unit);
}

// reads: which way is better, "lower is better" or "higher is better".
void PrintRatio(const std::string& name, double value, const char* reads) {
  std::printf("ratio %s %.2f (%s)\n", name.c_str(), value, reads);
}

// Owns the started host process: waits for it to exit, and ends it if it has not after 10 s. (A
// failed run exits at once; the host then fails on its closed control connection.)
class HostProcess {
 public:
  explicit HostProcess(const std::string& address) {
    std::wstring path(MAX_PATH, L'\0');
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), MAX_PATH);
    if (length == 0 || length >= MAX_PATH) Fail("GetModuleFileNameW");
    path.resize(length);
    path.replace(path.find_last_of(L"\\/") + 1, std::wstring::npos, L"vexil_bench_host.exe");
    std::wstring commandLine = L"\"" + path + L"\" " + std::wstring(address.begin(), address.end());
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION started{};
    if (!CreateProcessW(path.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &started)) {
      Fail("starting vexil_bench_host.exe");
    }
    CloseHandle(started.hThread);
    process_ = started.hProcess;
  }
  HostProcess(const HostProcess&) = delete;
  HostProcess& operator=(const HostProcess&) = delete;
  ~HostProcess() {
    if (WaitForSingleObject(process_, 10000) != WAIT_OBJECT_0) TerminateProcess(process_, 1);
    CloseHandle(process_);
  }

 private:
  HANDLE process_;
};

struct Options {
  std::string address = "127.0.0.100";
  int32_t count = 20000;
  bool trace = false;
};

Options ParseOptions(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--address") == 0 && i + 1 < argc) {
      options.address = argv[++i];
    } else if (std::strcmp(argv[i], "--count") == 0 && i + 1 < argc) {
      options.count = std::max(1, std::atoi(argv[++i]));
    } else if (std::strcmp(argv[i], "--trace") == 0) {
      options.trace = true;
    } else {
      std::fprintf(stderr, "usage: vexil_bench_agent [--address IP] [--count N] [--trace]\n");
      std::exit(2);
    }
  }
  return options;
}

Phase MakePhase(PhaseKind kind, const char* label, int32_t count = 0) {
  Phase phase;
  phase.kind = kind;
  phase.count = count;
  std::snprintf(phase.label, sizeof(phase.label), "%s", label);
  return phase;
}

// Round-trip times pooled over the rounds of a run.
class Samples {
 public:
  void Add(const std::vector<double>& micros) {
    micros_.insert(micros_.end(), micros.begin(), micros.end());
  }
  double Percentile(int percent) {
    std::sort(micros_.begin(), micros_.end());
    return micros_.empty() ? 0 : micros_[micros_.size() * percent / 100];
  }

 private:
  std::vector<double> micros_;
};

// Requests and seconds pooled over the rounds of a run.
struct Throughput {
  double requests = 0;
  double seconds = 0;
  void Add(int32_t count, double taken) {
    requests += count;
    seconds += taken;
  }
  double PerSecond() const { return seconds > 0 ? requests / seconds : 0; }
};

// The agent's side of one run: the two listeners, the control connection and, once the
// connector has registered, its connection.
class BenchRun {
 public:
  explicit BenchRun(const Options& options)
      : connectorListener_(Listen(options.address, kAgentPort)),
        rawListener_(Listen(options.address, kControlPort)),
        host_(options.address),
        control_(Accept(rawListener_, 30000)),
        connectorReplies_(connector_) {}

  // Host side of a phase that the agent does not talk through.
  PhaseResult HostPhase(const Phase& phase) {
    SendRecord(control_, phase);
    return ReceiveRecord<PhaseResult>(control_);
  }

  // A raw phase: the host connects a data connection and serves phase.count requests on it;
  // measure talks to it through the data connection and the raw replies.
  template <typename Measure>
  void RawPhase(Phase phase, const std::string& request, size_t replySize, Measure&& measure) {
    phase.requestSize = static_cast<int32_t>(request.size());
    phase.replySize = static_cast<int32_t>(replySize);
    SendRecord(control_, phase);
    SocketHolder data = Accept(rawListener_, 30000);
    ReceiveSignal(control_);
    RawReplies replies(data, replySize);
    measure(data, replies);
    SendSignal(control_);
    ReceiveRecord<PhaseResult>(control_);
  }

  // A phase that the agent runs against the connector while the host does its part.
  template <typename Measure>
  PhaseResult ConnectorPhase(const Phase& phase, Measure&& measure) {
    SendRecord(control_, phase);
    ReceiveSignal(control_);
    measure();
    SendSignal(control_);
    return ReceiveRecord<PhaseResult>(control_);
  }

  // Starts the connector and reads its Register; returns the status the host then sees.
  double StartConnector() {
    return ConnectorPhase(MakePhase(PhaseKind::kStartConnector, "start"),
                          [this] {
                            connector_ = Accept(connectorListener_, 30000);
                            connectorReplies_.Expect(ConnectorTag::kRegister);
                            connectorReplies_.ReceiveOne();
                          })
        .values[0];
  }

  const SocketHolder& connector() const { return connector_; }
  FrameReplies& connectorReplies() { return connectorReplies_; }

 private:
  SocketHolder connectorListener_;
  SocketHolder rawListener_;
  HostProcess host_;  // waited for, or ended, after the connections below have closed
  SocketHolder control_;
  SocketHolder connector_;
  FrameReplies connectorReplies_;
};

// Raw and connector measurements alternate in rounds, so that load from elsewhere on the machine
// falls on both alike.
constexpr int32_t kRounds = 4;

int Run(const Options& options) {
  BenchRun run(options);
  const int32_t rounds = options.trace ? 1 : kRounds;
  const int32_t share = std::max(1, options.count / rounds);
  const std::string checkRequest = CheckRequestFrame(1);
  const std::string statRequest = FrameBytes(AgentMsg(AgentTag::kStatRequest));

  // The connector first (its first attempt waits 5 s), so that the raw baselines use the reply
  // sizes it actually sends.
  if (run.StartConnector() != StatusConnected) Fail("the connector reporting itself connected");
  const SocketHolder& connector = run.connector();
  FrameReplies& replies = run.connectorReplies();
  size_t checkReplySize = 0;
  size_t statReplySize = 0;
  run.ConnectorPhase(MakePhase(PhaseKind::kConnectorIdle, "probe"), [&] {
    replies.Expect(ConnectorTag::kCheckReply);
    SendAll(connector, checkRequest.data(), checkRequest.size());
    replies.ReceiveOne();
    checkReplySize = replies.lastFrameSize();
    replies.Expect(ConnectorTag::kStatListReply);
    SendAll(connector, statRequest.data(), statRequest.size());
    replies.ReceiveOne();
    statReplySize = replies.lastFrameSize();
  });

  Samples rawBlockingCheck, rawEventCheck, rawBlockingStat, rawEventStat, check, stat;
  Throughput rawBlockingPipelined, rawEventPipelined, rawLikeConnectorPipelined, pipelined;
  PhaseResult threads;
  for (int32_t round = 0; round < rounds; ++round) {
    const auto rawPingPong = [&](PhaseKind kind, const char* label, const std::string& request,
                                 size_t replySize, Samples& into) {
      run.RawPhase(MakePhase(kind, label, share), request, replySize,
                   [&](const SocketHolder& data, ReplyStream& raw) {
                     into.Add(PingPong(share, data, request, raw));
                   });
    };
    const auto rawPipelined = [&](Phase phase, Throughput& into) {
      run.RawPhase(phase, checkRequest, checkReplySize,
                   [&](const SocketHolder& data, ReplyStream& raw) {
                     into.Add(share, Pipelined(share, data, checkRequest, raw));
                   });
    };
    rawPingPong(PhaseKind::kRawBlocking, "raw_blocking_check", checkRequest, checkReplySize,
                rawBlockingCheck);
    rawPingPong(PhaseKind::kRawEvent, "raw_event_check", checkRequest, checkReplySize,
                rawEventCheck);
    rawPingPong(PhaseKind::kRawBlocking, "raw_blocking_stat", statRequest, statReplySize,
                rawBlockingStat);
    rawPingPong(PhaseKind::kRawEvent, "raw_event_stat", statRequest, statReplySize, rawEventStat);
    rawPipelined(MakePhase(PhaseKind::kRawBlocking, "raw_blocking_pipelined", share),
                 rawBlockingPipelined);
    rawPipelined(MakePhase(PhaseKind::kRawEvent, "raw_event_pipelined", share), rawEventPipelined);
    Phase likeConnector = MakePhase(PhaseKind::kRawEvent, "raw_like_connector_pipelined", share);
    likeConnector.likeConnector = 1;
    rawPipelined(likeConnector, rawLikeConnectorPipelined);

    threads = run.ConnectorPhase(MakePhase(PhaseKind::kConnectorIdle, "check"), [&] {
      replies.Expect(ConnectorTag::kCheckReply);
      check.Add(PingPong(share, connector, checkRequest, replies));
    });
    run.ConnectorPhase(MakePhase(PhaseKind::kConnectorIdle, "stat"), [&] {
      replies.Expect(ConnectorTag::kStatListReply);
      stat.Add(PingPong(share, connector, statRequest, replies));
    });
    run.ConnectorPhase(MakePhase(PhaseKind::kConnectorIdle, "pipelined"), [&] {
      replies.Expect(ConnectorTag::kCheckReply);
      pipelined.Add(share, Pipelined(share, connector, checkRequest, replies));
    });
  }

  // Warnings: calls per second on the host side, frames per second arriving here, each round
  // next to plain SetEvent calls in the same host thread and to a raw sender in the host writing
  // frames of a warning's size in a loop (the most frames the connection carries).
  Throughput setEvents, oneThreadCalls, oneThreadFrames, fourThreadCalls, fourThreadFrames;
  Throughput rawSender;
  size_t warningFrameSize = 0;
  const auto warnings = [&](const char* label, int32_t senders, Throughput& calls,
                            Throughput& frames) {
    Phase phase = MakePhase(PhaseKind::kWarnings, label, share);
    phase.threads = senders;
    const PhaseResult result = run.ConnectorPhase(phase, [&] {
      const Clock::time_point start = Clock::now();
      replies.Expect(ConnectorTag::kWarning);
      for (int32_t arrived = 0; arrived < share;) arrived += replies.Receive();
      frames.Add(share, std::chrono::duration<double>(Clock::now() - start).count());
    });
    if (result.values[0] != share) Fail("every warning queued while connected");
    calls.Add(share, result.values[1]);
    warningFrameSize = replies.lastFrameSize();
  };
  for (int32_t round = 0; round < rounds; ++round) {
    setEvents.Add(share,
                  run.HostPhase(MakePhase(PhaseKind::kSetEvent, "setevent", share)).values[0]);
    warnings("warnings_1_thread", 1, oneThreadCalls, oneThreadFrames);
    warnings("warnings_4_threads", 4, fourThreadCalls, fourThreadFrames);
    run.RawPhase(MakePhase(PhaseKind::kRawSender, "raw_sender", share), std::string(),
                 warningFrameSize, [&](const SocketHolder&, ReplyStream& raw) {
                   const Clock::time_point start = Clock::now();
                   for (int32_t arrived = 0; arrived < share;) arrived += raw.Receive();
                   rawSender.Add(share,
                                 std::chrono::duration<double>(Clock::now() - start).count());
                 });
  }

  // Each warning call's time on its host thread, 1, 4 and 8 threads while the worker sends and
  // this agent reads, next to the same threads copying the same bytes: one of each per round,
  // each percentile's median over the rounds printed.
  constexpr int32_t kLatencyCalls = 8000;
  const int32_t latencyThreads[3] = {1, 4, 8};
  std::vector<PhaseResult> callLatency[3], copyLatency[3];
  for (int32_t round = 0; round < rounds; ++round) {
    for (int k = 0; k < 3; ++k) {
      Phase phase = MakePhase(PhaseKind::kWarningLatency, "warning_latency", kLatencyCalls);
      phase.threads = latencyThreads[k];
      const int32_t calls = kLatencyCalls / latencyThreads[k] * latencyThreads[k];
      callLatency[k].push_back(run.ConnectorPhase(phase, [&] {
        replies.Expect(ConnectorTag::kWarning);
        for (int32_t arrived = 0; arrived < calls;) arrived += replies.Receive();
      }));
      phase.kind = PhaseKind::kCopyLatency;
      std::snprintf(phase.label, sizeof(phase.label), "%s", "copy_latency");
      copyLatency[k].push_back(run.HostPhase(phase));
    }
  }

  // Warnings queued while the worker is held in a check: nothing can be sent meanwhile.
  const std::string hold = CheckRequestFrame(kHoldCheckValue);
  const PhaseResult memory =
      run.ConnectorPhase(MakePhase(PhaseKind::kQueuedMemory, "queued_memory", options.count), [&] {
        replies.Expect(ConnectorTag::kCheckReply);
        SendAll(connector, hold.data(), hold.size());
        // The reply follows the warnings queued while the check was held.
        int32_t checkReplies = 0;
        while (checkReplies == 0) checkReplies = replies.Receive();
      });
  if (memory.values[0] != options.count) Fail("every warning queued while the worker was held");
  run.HostPhase(MakePhase(PhaseKind::kEnd, "end"));

  if (options.trace) {
    std::printf("threads agent=%04lx host=%04lx worker=%04lx count=%d\n", GetCurrentThreadId(),
                static_cast<unsigned long>(threads.values[0]),
                static_cast<unsigned long>(threads.values[1]), share);
  }
  const double queued = options.count;
  Print("check_reply_bytes", static_cast<double>(checkReplySize), "bytes");
  Print("stat_reply_bytes", static_cast<double>(statReplySize), "bytes");
  Print("raw_blocking_check_rtt_p50", rawBlockingCheck.Percentile(50), "us");
  Print("raw_blocking_check_rtt_p99", rawBlockingCheck.Percentile(99), "us");
  Print("raw_event_check_rtt_p50", rawEventCheck.Percentile(50), "us");
  Print("raw_event_check_rtt_p99", rawEventCheck.Percentile(99), "us");
  Print("raw_blocking_stat_rtt_p50", rawBlockingStat.Percentile(50), "us");
  Print("raw_blocking_stat_rtt_p99", rawBlockingStat.Percentile(99), "us");
  Print("raw_event_stat_rtt_p50", rawEventStat.Percentile(50), "us");
  Print("raw_event_stat_rtt_p99", rawEventStat.Percentile(99), "us");
  Print("raw_blocking_pipelined", rawBlockingPipelined.PerSecond(), "requests/s");
  Print("raw_event_pipelined", rawEventPipelined.PerSecond(), "requests/s");
  Print("raw_event_pipelined_send_per_reply_nagle", rawLikeConnectorPipelined.PerSecond(),
        "requests/s");
  Print("raw_setevent", setEvents.PerSecond(), "calls/s");
  Print("raw_sender_frames", rawSender.PerSecond(), "frames/s");
  Print("warning_frame_bytes", static_cast<double>(warningFrameSize), "bytes");
  Print("check_rtt_p50", check.Percentile(50), "us");
  Print("check_rtt_p99", check.Percentile(99), "us");
  Print("stat_rtt_p50", stat.Percentile(50), "us");
  Print("stat_rtt_p99", stat.Percentile(99), "us");
  Print("pipelined", pipelined.PerSecond(), "requests/s");
  Print("warnings_1_thread_calls", oneThreadCalls.PerSecond(), "calls/s");
  Print("warnings_1_thread_frames", oneThreadFrames.PerSecond(), "frames/s");
  Print("warnings_4_threads_calls", fourThreadCalls.PerSecond(), "calls/s");
  Print("warnings_4_threads_frames", fourThreadFrames.PerSecond(), "frames/s");
  Print("warnings_out_of_order", static_cast<double>(replies.outOfOrder()), "frames");
  Print("queued_warning_private", memory.values[1] / queued, "bytes/warning");
  Print("queued_warning_heap", memory.values[2] / queued, "bytes/warning");
  const char* lower = "lower is better";
  const char* names[4] = {"p50", "p99", "p999", "max"};
  for (int k = 0; k < 3; ++k) {
    for (int v = 0; v < 4; ++v) {
      std::vector<double> calls, copies;
      for (const PhaseResult& result : callLatency[k]) calls.push_back(result.values[v]);
      for (const PhaseResult& result : copyLatency[k]) copies.push_back(result.values[v]);
      std::sort(calls.begin(), calls.end());
      std::sort(copies.begin(), copies.end());
      const std::string threads = std::to_string(latencyThreads[k]);
      Print("warning_call_" + std::string(names[v]) + "_" + threads + "_threads",
            calls[calls.size() / 2], "ns");
      Print("copy_floor_" + std::string(names[v]) + "_" + threads + "_threads",
            copies[copies.size() / 2], "ns");
    }
  }
  // The tail against the floor, per round, with eight threads.
  std::vector<double> tail;
  for (int32_t round = 0; round < rounds; ++round) {
    tail.push_back(callLatency[2][round].values[2] / copyLatency[2][round].values[2]);
  }
  std::sort(tail.begin(), tail.end());
  PrintRatio("warning_call_p999_8_threads_vs_copy_floor", tail[tail.size() / 2],
             "lower is better; median of the rounds");
  const char* higher = "higher is better";
  PrintRatio("check_rtt_vs_event_pingpong", check.Percentile(50) / rawEventCheck.Percentile(50),
             lower);
  PrintRatio("check_rtt_vs_blocking_pingpong",
             check.Percentile(50) / rawBlockingCheck.Percentile(50), lower);
  PrintRatio("stat_rtt_vs_event_pingpong", stat.Percentile(50) / rawEventStat.Percentile(50),
             lower);
  PrintRatio("stat_rtt_vs_blocking_pingpong", stat.Percentile(50) / rawBlockingStat.Percentile(50),
             lower);
  PrintRatio("pipelined_vs_event_pipelined", pipelined.PerSecond() / rawEventPipelined.PerSecond(),
             higher);
  PrintRatio("warnings_vs_setevent", oneThreadCalls.PerSecond() / setEvents.PerSecond(), higher);
  PrintRatio("warnings_4_threads_vs_setevent", fourThreadCalls.PerSecond() / setEvents.PerSecond(),
             higher);
  PrintRatio("warning_frames_vs_raw_sender", oneThreadFrames.PerSecond() / rawSender.PerSecond(),
             higher);
  PrintRatio("warning_frames_4_threads_vs_raw_sender",
             fourThreadFrames.PerSecond() / rawSender.PerSecond(), higher);
  return 0;
}

}  // namespace
}  // namespace vexil::bench

int main(int argc, char** argv) {
  vexil::bench::WinsockSession session;
  return vexil::bench::Run(vexil::bench::ParseOptions(argc, argv));
}
