// The benchmark's host: loads VexilConn.dll through its import library, as a game server does,
// answers the connector's callbacks, serves the raw Winsock baselines and times the host-side
// calls. vexil_bench_agent starts it and drives it phase by phase over the control connection:
//   vexil_bench_host ADDRESS
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "bench/call_latency.h"
#include "bench_wire.h"
#include "vexilconn/vexilconn.h"

// After the Windows headers that bench_wire.h brings in.
#include <psapi.h>

namespace vexil::bench {
namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Answers every check, fills ten statistics, and can hold the worker inside a check so that the
// host can queue warnings that cannot be sent yet.
class BenchCallback final : public HostCallback {
 public:
  BenchCallback()
      : held_(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
        release_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
    if (held_.get() == nullptr || release_.get() == nullptr) Fail("CreateEventW");
  }

  int OnCheckRequest(int32_t value) override {
    workerThread_.store(GetCurrentThreadId());
    if (value == kHoldCheckValue) {
      SetEvent(held_.get());
      // Bounded, so a host that fails to release cannot keep the worker forever.
      WaitForSingleObject(release_.get(), kReceiveTimeoutMs);
    }
    return 1;
  }
  int OnOrder(const char*, const char*, char*, int32_t* resultLength, uint32_t, uint32_t) override {
    *resultLength = 0;
    return 0;
  }
  int OnCommand(uint32_t, uint32_t, const char*) override { return 1; }
  int OnCountsRequest(CountsSink*) override { return 0; }
  int OnRegionRequest(RegionSink*) override { return 0; }
  int OnStatRequest(StatSink* sink) override {
    for (uint32_t i = 0; i < 10; ++i) {
      sink->AddStat(i, i + 1, 100 + i, 200 + i, 300 + i, 400 + i, "statistic text");
    }
    return 0;
  }
  int OnRegionRequestExtra(RegionExtraSink*) override { return 0; }
  int OnStatRequestExtra(StatExtraSink*) override { return 0; }

  // True once the worker waits inside a held check.
  bool WaitHeld() const { return WaitForSingleObject(held_.get(), kReceiveTimeoutMs) == 0; }
  void Release() const { SetEvent(release_.get()); }
  DWORD workerThread() const { return workerThread_.load(); }

 private:
  HandleHolder held_;     // set by the worker on entering a held check
  HandleHolder release_;  // set by the host to let it return
  std::atomic<DWORD> workerThread_{0};
};

// Counts whole requests among the bytes received and gives the replies owed for them.
class RawServer {
 public:
  explicit RawServer(const Phase& phase)
      : requestSize_(static_cast<size_t>(phase.requestSize)),
        count_(phase.count),
        reply_(static_cast<size_t>(phase.replySize), '\0') {}

  std::string Take(size_t received) {
    partial_ += received;
    std::string replies;
    for (; partial_ >= requestSize_; partial_ -= requestSize_) {
      replies += reply_;
      ++served_;
    }
    return replies;
  }
  bool done() const { return served_ >= count_; }

 private:
  const size_t requestSize_;
  const int32_t count_;
  const std::string reply_;
  size_t partial_ = 0;
  int32_t served_ = 0;
};

void ServeBlocking(const SocketHolder& data, const Phase& phase) {
  RawServer server(phase);
  std::vector<char> chunk(65536);
  while (!server.done()) {
    const int received = recv(data.get(), chunk.data(), static_cast<int>(chunk.size()), 0);
    if (received <= 0) Fail("recv");
    const std::string replies = server.Take(static_cast<size_t>(received));
    SendAll(data, replies.data(), replies.size());
  }
}

// Waits as the connector's worker does: on a stop event, the socket's network event and a send
// event, in that order, with every network event selected. Replies go out at once; what the
// system does not take waits for the next write notification.
void ServeEventDriven(const SocketHolder& data, const Phase& phase) {
  HandleHolder stop(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  HandleHolder network(WSACreateEvent());
  HandleHolder sendReady(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (WSAEventSelect(data.get(), network.get(), FD_ALL_EVENTS) != 0) Fail("WSAEventSelect");
  const HANDLE handles[3] = {stop.get(), network.get(), sendReady.get()};
  RawServer server(phase);
  std::vector<char> chunk(65536);
  std::string unsent;
  if (phase.likeConnector != 0) {
    const BOOL noDelay = FALSE;
    setsockopt(data.get(), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay),
               sizeof(noDelay));
  }
  const size_t sendLimit =
      phase.likeConnector != 0 ? static_cast<size_t>(phase.replySize) : std::string::npos;
  while (!server.done() || !unsent.empty()) {
    if (WaitForMultipleObjects(3, handles, FALSE, kReceiveTimeoutMs) != WAIT_OBJECT_0 + 1) {
      Fail("the wait for network events");
    }
    // Given the event, the enumeration also resets it.
    WSANETWORKEVENTS events;
    if (WSAEnumNetworkEvents(data.get(), network.get(), &events) != 0) {
      Fail("WSAEnumNetworkEvents");
    }
    if ((events.lNetworkEvents & FD_CLOSE) != 0) Fail("the agent closed the raw connection early");
    if ((events.lNetworkEvents & FD_READ) != 0) {
      const int received = recv(data.get(), chunk.data(), static_cast<int>(chunk.size()), 0);
      if (received > 0) {
        unsent += server.Take(static_cast<size_t>(received));
      } else if (received == 0 || WSAGetLastError() != WSAEWOULDBLOCK) {
        Fail("recv");
      }
    }
    while (!unsent.empty()) {
      const int sent =
          send(data.get(), unsent.data(), static_cast<int>(std::min(unsent.size(), sendLimit)), 0);
      if (sent > 0) {
        unsent.erase(0, static_cast<size_t>(sent));
      } else if (WSAGetLastError() == WSAEWOULDBLOCK) {
        break;
      } else {
        Fail("send");
      }
    }
  }
}

double PrivateBytes() {
  PROCESS_MEMORY_COUNTERS_EX counters{};
  counters.cb = sizeof(counters);
  if (!GetProcessMemoryInfo(GetCurrentProcess(),
                            reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                            sizeof(counters))) {
    Fail("GetProcessMemoryInfo");
  }
  return static_cast<double>(counters.PrivateUsage);
}

// Bytes handed out and not yet freed, over every heap of the process (the C runtime's among
// them). Each heap is locked while it is walked; call it while no other thread allocates.
double HeapBytesInUse() {
  std::vector<HANDLE> heaps(16);
  DWORD found = GetProcessHeaps(static_cast<DWORD>(heaps.size()), heaps.data());
  if (found > heaps.size()) {
    heaps.resize(found);
    found = GetProcessHeaps(found, heaps.data());
  }
  heaps.resize(std::min<size_t>(found, heaps.size()));
  double inUse = 0;
  for (HANDLE heap : heaps) {
    if (!HeapLock(heap)) continue;
    PROCESS_HEAP_ENTRY entry{};
    while (HeapWalk(heap, &entry)) {
      if ((entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) != 0) inUse += entry.cbData;
    }
    HeapUnlock(heap);
  }
  return inUse;
}

// Each thread sends its share with the warning code counting up from 0 and idA naming the
// thread, so that the agent can check each thread's order. Returns the calls that queued.
int32_t SendWarnings(int32_t count, int32_t threads) {
  std::atomic<int32_t> accepted{0};
  std::vector<std::thread> senders;
  for (int32_t thread = 0; thread < threads; ++thread) {
    const int32_t share = count / threads + (thread < count % threads ? 1 : 0);
    senders.emplace_back([&accepted, thread, share] {
      int32_t queued = 0;
      for (int32_t code = 0; code < share; ++code) {
        if (VexilSendWarningMsg(code, "bench warning", "bench extra text",
                                static_cast<uint32_t>(thread), 0) == kWarningQueued) {
          ++queued;
        }
      }
      accepted += queued;
    });
  }
  for (std::thread& sender : senders) sender.join();
  return accepted.load();
}

void StartConnector(const std::string& address, BenchCallback& callback) {
  const std::wstring haIp = L"-HAIP:" + std::wstring(address.begin(), address.end());
  // At least five elements, as a game server's command line has: fewer are refused.
  const wchar_t* const argv[] = {L"vexil_bench_host.exe", L"-GSID:7", L"-HAPORT:8990", haIp.c_str(),
                                 L"-BENCH"};
  if (VexilInitConn(5, argv) != kInitOk) Fail("VexilInitConn");
  if (VexilRunConn(&callback) != kRunStarted) Fail("VexilRunConn");
}

// A named event made and closed at once: its name shows in a Wine server trace, marking where a
// phase begins and ends.
void Mark(const char* edge, const Phase& phase) {
  const std::string label(phase.label, strnlen(phase.label, sizeof(phase.label)));
  const std::string name = std::string("vexil-bench-") + edge + "-" + label;
  HandleHolder marker(CreateEventA(nullptr, TRUE, FALSE, name.c_str()));
}

PhaseResult RunPhase(const Phase& phase, const std::string& address, const SocketHolder& control,
                     BenchCallback& callback) {
  PhaseResult result;
  switch (phase.kind) {
    case PhaseKind::kRawBlocking:
    case PhaseKind::kRawEvent: {
      SocketHolder data = Connect(address, kControlPort);
      SendSignal(control);
      if (phase.kind == PhaseKind::kRawBlocking) {
        ServeBlocking(data, phase);
      } else {
        ServeEventDriven(data, phase);
      }
      ReceiveSignal(control);
      break;
    }
    case PhaseKind::kRawSender: {
      SocketHolder data = Connect(address, kControlPort);
      SendSignal(control);
      const std::string frame(static_cast<size_t>(phase.replySize), '\0');
      for (int32_t i = 0; i < phase.count; ++i) SendAll(data, frame.data(), frame.size());
      ReceiveSignal(control);
      break;
    }
    case PhaseKind::kStartConnector:
      StartConnector(address, callback);
      SendSignal(control);
      ReceiveSignal(control);
      result.values[0] = VexilGetStatus();
      break;
    case PhaseKind::kConnectorIdle:
      SendSignal(control);
      ReceiveSignal(control);
      result.values[0] = GetCurrentThreadId();
      result.values[1] = callback.workerThread();
      break;
    case PhaseKind::kSetEvent: {
      HandleHolder event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
      const Clock::time_point start = Clock::now();
      for (int32_t i = 0; i < phase.count; ++i) SetEvent(event.get());
      result.values[0] = SecondsSince(start);
      break;
    }
    case PhaseKind::kWarnings: {
      SendSignal(control);
      const Clock::time_point start = Clock::now();
      result.values[0] = SendWarnings(phase.count, phase.threads);
      result.values[1] = SecondsSince(start);
      ReceiveSignal(control);
      break;
    }
    case PhaseKind::kWarningLatency:
    case PhaseKind::kCopyLatency: {
      // The warnings' phase runs while the agent reads them (it says when it has all); the
      // copies' phase needs no agent.
      const bool warnings = phase.kind == PhaseKind::kWarningLatency;
      if (warnings) SendSignal(control);
      const auto threads = static_cast<uint32_t>(phase.threads);
      const auto each = static_cast<uint32_t>(phase.count / phase.threads);
      const char text[] = "bench warning";
      const char extra[] = "bench extra text";
      const CallLatency latency =
          warnings ? TimeCalls(threads, each,
                               [&](uint32_t thread, uint32_t i) {
                                 return VexilSendWarningMsg(static_cast<int32_t>(i), text, extra,
                                                            thread, 0) == kWarningQueued;
                               })
                   : TimeCalls(threads, each, [&](uint32_t thread, uint32_t i) {
                       return CopyLikeAWarning(text, sizeof text, extra, sizeof extra, thread, i);
                     });
      result.values[0] = latency.p50;
      result.values[1] = latency.p99;
      result.values[2] = latency.p999;
      result.values[3] = latency.max;
      if (warnings) ReceiveSignal(control);
      break;
    }
    case PhaseKind::kQueuedMemory: {
      SendSignal(control);
      if (!callback.WaitHeld()) Fail("the held check");
      const double privateBefore = PrivateBytes();
      const double heapBefore = HeapBytesInUse();
      result.values[0] = SendWarnings(phase.count, 1);
      result.values[1] = PrivateBytes() - privateBefore;
      result.values[2] = HeapBytesInUse() - heapBefore;
      callback.Release();
      ReceiveSignal(control);
      break;
    }
    case PhaseKind::kEnd:
      VexilStopConn();
      break;
  }
  return result;
}

}  // namespace
}  // namespace vexil::bench

int main(int argc, char** argv) {
  using namespace vexil::bench;
  if (argc != 2) {
    std::fprintf(stderr, "usage: vexil_bench_host ADDRESS\n");
    return 2;
  }
  const std::string address = argv[1];
  WinsockSession session;
  SocketHolder control = Connect(address, kControlPort);
  // Outlives VexilStopConn, which the last phase calls.
  BenchCallback callback;
  for (;;) {
    const Phase phase = ReceiveRecord<Phase>(control);
    Mark("begin", phase);
    const PhaseResult result = RunPhase(phase, address, control, callback);
    Mark("end", phase);
    SendRecord(control, result);
    if (phase.kind == PhaseKind::kEnd) return 0;
  }
}
