// The end-to-end figures of libvexilconn.so on Linux, each against a raw TCP baseline of the same
// message sizes between the same two processes:
//   vexil_native_bench [SAMPLES [ROUNDS]]
// The figures are taken in ROUNDS short rounds (at least nine), each measuring the connector and
// its baseline moments apart; each ratio printed is the median of the rounds' ratios, with their
// spread, so that load on a shared machine, which comes and goes, moves both sides of a ratio.
// The parent plays the agent (127.0.0.1:8990 for the connector, 8991 for the raw baselines); the
// child is the host, linked with libvexilconn.so as a game server is, and takes its orders over a
// socket pair. Every loop is bounded; any failure ends both processes.
#include <malloc.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "bench/call_latency.h"
#include "blocking_io.h"
#include "orvel/frame.h"
#include "orvel/messages.h"
#include "vexilconn/vexilconn.h"

namespace {

using vexil::bench::Fail;
using vexil::bench::ReadAll;
using vexil::bench::WriteAll;

using Clock = std::chrono::steady_clock;
using vexil::BufferPtr;
constexpr uint16_t kAgentPort = 8990;
constexpr uint16_t kRawPort = 8991;

double Seconds(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// One whole frame: its first four bytes (little-endian) give its length, those four included.
std::string ReadFrameBytes(int fd) {
  uint8_t head[4];
  ReadAll(fd, head, 4);
  const uint32_t length =
      head[0] | head[1] << 8 | head[2] << 16 | static_cast<uint32_t>(head[3]) << 24;
  if (length < 4 || length > (1u << 20)) Fail("frame length");
  std::string frame(reinterpret_cast<char*>(head), 4);
  frame.resize(length);
  ReadAll(fd, &frame[4], length - 4);
  return frame;
}

std::string Bytes(const BufferPtr& frame) {
  return std::string(reinterpret_cast<const char*>(frame.Data()), frame.Size());
}

std::string Encode(const vexil::AgentMsg& message) {
  BufferPtr frame;
  if (!vexil::WriteFrame(frame, message)) Fail("encode");
  return Bytes(frame);
}

std::string Encode(const vexil::ConnectorMsg& message) {
  BufferPtr frame;
  if (!vexil::WriteFrame(frame, message)) Fail("encode");
  return Bytes(frame);
}

int Listen(uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  const int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) Fail("bind");
  if (::listen(fd, 4) != 0) Fail("listen");
  return fd;
}

int AcceptNoDelay(int listener) {
  const int fd = ::accept(listener, nullptr, nullptr);
  if (fd < 0) Fail("accept");
  const int on = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  return fd;
}

int ConnectNoDelay(uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) Fail("connect");
  const int on = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  return fd;
}

// The orders the agent gives the host over the control pair.
struct Order {
  char kind;       // 'e' echo baseline, 'w' warnings, 'l' warning latencies, 'r' raw warnings,
                   // 'c' the last check callbacks' times, 't' one warning from each of many
                   // threads at once, 'b' a burst, 'q' quit
  uint32_t a = 0;  // e: request bytes; w, l, t, b: threads; r: frames; c: callbacks
  uint32_t b = 0;  // e: reply bytes; w, l, b: warnings per thread
};

// What a burst far faster than the worker sends left: the calls that queued their warning, the
// most bytes queued at once, and the heap the host process holds once nothing is queued, against
// what it held once connected.
struct BurstOutcome {
  uint64_t queued = 0;
  uint64_t peak_bytes_queued = 0;
  int64_t heap_held = 0;
};

// The code of the burst's end mark, the last warning the agent reads of it.
constexpr int32_t kBurstEndCode = 999;

using Latency = vexil::bench::CallLatency;

// ---- the host

// When the host's check callback was entered and returned, nanoseconds of the system's monotonic
// clock, which both processes read alike: the last kCallbackTimes calls. Written by the
// connector's worker in the callback, read by the host's main thread once the agent has all the
// replies (the control socket orders the two).
constexpr uint32_t kCallbackTimes = 1024;
struct CallbackTime {
  int64_t entered = 0;
  int64_t returned = 0;
};
CallbackTime callback_times[kCallbackTimes];
uint32_t callbacks_seen = 0;

int64_t NowNanos() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
      .count();
}

class BenchHost final : public vexil::HostCallback {
 public:
  int OnCheckRequest(int32_t) override {
    CallbackTime& time = callback_times[callbacks_seen++ % kCallbackTimes];
    time.entered = NowNanos();
    time.returned = NowNanos();
    return 1;
  }
  int OnOrder(const char*, const char*, char*, int32_t* length, uint32_t, uint32_t) override {
    *length = 0;
    return 0;
  }
  int OnCommand(uint32_t, uint32_t, const char*) override { return 1; }
  int OnCountsRequest(vexil::CountsSink*) override { return 0; }
  int OnRegionRequest(vexil::RegionSink*) override { return 0; }
  int OnStatRequest(vexil::StatSink* sink) override {
    for (uint32_t i = 0; i < 10; ++i) {
      sink->AddStat(i, i + 1, 100 + i, 200 + i, 300 + i, 400 + i, "statistic text");
    }
    return 0;
  }
  int OnRegionRequestExtra(vexil::RegionExtraSink*) override { return 0; }
  int OnStatRequestExtra(vexil::StatExtraSink*) override { return 0; }
};

const char kWarningText[] = "tick overrun in the physics step";
const char kWarningExtra[] = "frame 123456";

// A warning's frame as the raw sender writes it: the texts of the host's warnings, ids 0.
std::string RawWarningFrame() {
  vexil::Warning warning;
  warning.code = 1001;
  warning.text = kWarningText;
  warning.extraText = kWarningExtra;
  return Encode(vexil::ConnectorMsg(vexil::ConnectorTag::kWarning, warning));
}

int64_t HeapInUse() {
  const struct mallinfo2 heap = ::mallinfo2();
  return static_cast<int64_t>(heap.uordblks + heap.hblkhd);
}

uint64_t BytesQueued() {
  VexilConnCounters counters = {};
  counters.size = sizeof counters;
  if (VexilGetCounters(&counters) != VEXIL_COUNTERS_FILLED) Fail("counters");
  return counters.bytesQueued;
}

// order.a threads send order.b warnings each as fast as they can while the agent reads, then the
// end mark (tried again while refused), then the host waits until nothing is queued. Every loop
// is bounded.
BurstOutcome RunBurst(const Order& order, int64_t heap_connected) {
  BurstOutcome outcome;
  std::atomic<uint64_t> queued{0};
  std::atomic<bool> sending{true};
  std::thread watch([&] {
    for (int i = 0; i < 60000 && sending.load(); ++i) {
      outcome.peak_bytes_queued = std::max(outcome.peak_bytes_queued, BytesQueued());
      std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
  });
  std::vector<std::thread> threads;
  for (uint32_t t = 0; t < order.a; ++t) {
    threads.emplace_back([&order, &queued, t] {
      uint64_t mine = 0;
      for (uint32_t i = 0; i < order.b; ++i) {
        if (VexilSendWarningMsg(1001, kWarningText, kWarningExtra, t, i) == vexil::kWarningQueued)
          ++mine;
      }
      queued.fetch_add(mine);
    });
  }
  for (std::thread& thread : threads) thread.join();
  bool marked = false;
  for (int i = 0; i < 1000 && !marked; ++i) {
    marked = VexilSendWarningMsg(kBurstEndCode, "end", "", 0, 0) == vexil::kWarningQueued;
    if (!marked) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (!marked) Fail("burst end mark refused for 10 s");
  for (int i = 0; i < 1000 && BytesQueued() != 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  sending.store(false);
  watch.join();
  outcome.queued = queued.load();
  outcome.heap_held = HeapInUse() - heap_connected;
  return outcome;
}

void RunHost(int control) {
  static BenchHost host;
  const wchar_t* const argv[] = {L"bench", L"-GSID:7", L"-HAPORT:8990", L"-HAIP:127.0.0.1", L"x"};
  if (VexilInitConn(5, argv) != vexil::kInitOk || VexilRunConn(&host) != vexil::kRunStarted) {
    Fail("start");
  }
  // Taken at the first order, which comes once the agent has the connection.
  int64_t heap_connected = -1;
  for (;;) {
    Order order;
    ReadAll(control, &order, sizeof order);
    if (heap_connected < 0) heap_connected = HeapInUse();
    if (order.kind == 'q') break;
    if (order.kind == 't') {
      // Threads that all exist at once, so that each is a thread the connector has not seen.
      std::vector<std::thread> threads;
      std::atomic<uint32_t> started{0};
      for (uint32_t t = 0; t < order.a; ++t) {
        threads.emplace_back([&order, &started, t] {
          started.fetch_add(1);
          // Bounded: every thread of this loop has been started before any waits long.
          while (started.load() < order.a) std::this_thread::yield();
          if (VexilSendWarningMsg(1001, kWarningText, kWarningExtra, t, 0) != vexil::kWarningQueued)
            Fail("warning refused");
        });
      }
      for (std::thread& thread : threads) thread.join();
      continue;
    }
    if (order.kind == 'b') {
      const BurstOutcome outcome = RunBurst(order, heap_connected);
      WriteAll(control, &outcome, sizeof outcome);
      continue;
    }
    if (order.kind == 'e') {
      // The raw peer: a reply of b bytes for every request of a bytes, as many in one send as
      // there are whole requests in what one receive brought: the raw limit for pipelining.
      const int fd = ConnectNoDelay(kRawPort);
      std::vector<char> input(64 << 10);
      std::string replies;
      size_t pending = 0;
      for (;;) {
        const ssize_t n = ::recv(fd, input.data(), input.size(), 0);
        if (n <= 0) break;
        pending += static_cast<size_t>(n);
        replies.assign(pending / order.a * order.b, 'r');
        pending %= order.a;
        if (!replies.empty()) WriteAll(fd, replies.data(), replies.size());
      }
      ::close(fd);
    } else if (order.kind == 'w') {
      // Warnings from order.a threads, order.b each; the figure is calls per second.
      std::vector<std::thread> threads;
      std::atomic<uint32_t> refused{0};
      const auto start = Clock::now();
      for (uint32_t t = 0; t < order.a; ++t) {
        threads.emplace_back([&order, &refused, t] {
          for (uint32_t i = 0; i < order.b; ++i) {
            if (VexilSendWarningMsg(1001, kWarningText, kWarningExtra, t, i) !=
                vexil::kWarningQueued) {
              refused.fetch_add(1);
            }
          }
        });
      }
      for (std::thread& thread : threads) thread.join();
      const double calls_per_second = order.a * order.b / Seconds(start);
      const uint32_t lost = refused.load();
      WriteAll(control, &calls_per_second, sizeof calls_per_second);
      WriteAll(control, &lost, sizeof lost);
    } else if (order.kind == 'l') {
      // Each call's own time on its thread, order.a threads of order.b calls, the worker sending
      // meanwhile; then the floor: the same threads copying the same bytes into a buffer of
      // their own, timed the same way. Both sets go back to the agent as percentiles.
      const Latency calls = vexil::bench::TimeCalls(order.a, order.b, [](uint32_t t, uint32_t i) {
        return VexilSendWarningMsg(1001, kWarningText, kWarningExtra, t, i) ==
               vexil::kWarningQueued;
      });
      const Latency floor = vexil::bench::TimeCalls(order.a, order.b, [](uint32_t t, uint32_t i) {
        return vexil::bench::CopyLikeAWarning(kWarningText, sizeof kWarningText, kWarningExtra,
                                              sizeof kWarningExtra, t, i);
      });
      WriteAll(control, &calls, sizeof calls);
      WriteAll(control, &floor, sizeof floor);
    } else if (order.kind == 'c') {
      for (uint32_t i = callbacks_seen - order.a; i != callbacks_seen; ++i) {
        WriteAll(control, &callback_times[i % kCallbackTimes], sizeof(CallbackTime));
      }
    } else if (order.kind == 'r') {
      // The raw sender: order.a frames of a warning's size, as fast as the socket takes them.
      const std::string frame = RawWarningFrame();
      std::string batch;
      for (int i = 0; i < 64; ++i) batch += frame;
      const int fd = ConnectNoDelay(kRawPort);
      for (uint32_t sent = 0; sent < order.a; sent += 64) WriteAll(fd, batch.data(), batch.size());
      ::close(fd);
    }
  }
  VexilStopConn();
}

// ---- the agent

double Percentile(std::vector<double> values, double p) {
  std::sort(values.begin(), values.end());
  return values[static_cast<size_t>(p * (values.size() - 1))];
}

// Round trips of one request, each waiting for its one reply of reply_bytes; microseconds.
std::vector<double> RoundTrips(int fd, const std::string& request, size_t reply_bytes, int rounds) {
  std::vector<double> micros;
  std::string reply(reply_bytes, '\0');
  for (int i = 0; i < rounds; ++i) {
    const auto start = Clock::now();
    WriteAll(fd, request.data(), request.size());
    ReadAll(fd, &reply[0], reply_bytes);
    micros.push_back(Seconds(start) * 1e6);
  }
  return micros;
}

// count requests written by a thread of their own while all the replies are read (the same
// reads for both sides); replies per second.
double Pipelined(int fd, const std::string& request, size_t reply_bytes, int count) {
  std::string batch;
  for (int i = 0; i < 100; ++i) batch += request;
  const auto start = Clock::now();
  std::thread writer([&] {
    for (int sent = 0; sent < count; sent += 100) WriteAll(fd, batch.data(), batch.size());
  });
  std::string replies(reply_bytes * count, '\0');
  ReadAll(fd, &replies[0], replies.size());
  writer.join();
  return count / Seconds(start);
}

void SendOrder(int control, Order order) { WriteAll(control, &order, sizeof order); }

// What one round measured: each connector figure next to its baseline, taken moments apart.
struct Round {
  double check_p50 = 0, raw_check_p50 = 0;  // round trips, microseconds
  double check_p99 = 0, raw_check_p99 = 0;
  double stat_p50 = 0, raw_stat_p50 = 0;
  double pipelined = 0, raw_pipelined = 0;  // replies per second
  double delivered = 0, raw_delivered = 0;  // warnings per second
  double calls[3] = {};                     // warning calls per second from 1, 4, 8 threads
  Latency latency[3];                       // each warning call's time, 1, 4, 8 threads
  Latency floor[3];                         // the same threads writing the same bytes
  // What the connector adds to a check callback, microseconds, p50: from the request's sending
  // to the callback's entry, and from its return to the reply's arrival; against half the raw
  // round trip, the same bytes' way through the system.
  double to_callback = 0, from_callback = 0, raw_one_way = 0;
  uint32_t refused = 0;
};

double Median(std::vector<double> values) { return Percentile(std::move(values), 0.5); }

// A figure's median over the rounds, with the rounds' spread.
void Figure(const char* name, const std::vector<Round>& rounds, double Round::*field,
            const char* unit) {
  std::vector<double> values;
  for (const Round& round : rounds) values.push_back(round.*field);
  std::printf("bench %s %.1f %s (median of %zu rounds, %.1f to %.1f)\n", name, Median(values), unit,
              values.size(), *std::min_element(values.begin(), values.end()),
              *std::max_element(values.begin(), values.end()));
}

// The median of the rounds' ratios of ours to base, with their spread, against its target. Each
// round's ratio compares figures taken moments apart, so a load that comes and goes moves both.
bool Ratio(const char* name, const std::vector<Round>& rounds, double (*ours)(const Round&),
           double (*base)(const Round&), bool lower_is_better, double target) {
  std::vector<double> ratios;
  for (const Round& round : rounds) ratios.push_back(ours(round) / base(round));
  const double median = Median(ratios);
  const bool met = lower_is_better ? median <= target : median >= target;
  std::printf(
      "ratio %s %.2f (%s is better; median of %zu rounds, %.2f to %.2f; target %s %.2f: %s)\n",
      name, median, lower_is_better ? "lower" : "higher", ratios.size(),
      *std::min_element(ratios.begin(), ratios.end()),
      *std::max_element(ratios.begin(), ratios.end()), lower_is_better ? "<=" : ">=", target,
      met ? "met" : "MISSED");
  return met;
}

class Agent {
 public:
  Agent(int control, int samples) : control_(control), samples_(samples) {}
  Agent(const Agent&) = delete;
  Agent& operator=(const Agent&) = delete;
  ~Agent() {
    for (const int fd : {connector_, raw_listener_, agent_listener_}) {
      if (fd >= 0) ::close(fd);
    }
  }

  // Waits for the connector, answers its registration and learns the replies' sizes.
  void Start() {
    agent_listener_ = Listen(kAgentPort);
    raw_listener_ = Listen(kRawPort);
    std::printf("waiting for the connector (its first attempt comes after 5 s)\n");
    connector_ = AcceptNoDelay(agent_listener_);
    ReadFrameBytes(connector_);  // Register
    vexil::CheckRequest check;
    check.value = 7;
    check_request_ = Encode(vexil::AgentMsg(vexil::AgentTag::kCheckRequest, check));
    stat_request_ = Encode(vexil::AgentMsg(vexil::AgentTag::kStatRequest));
    // The connector's replies to one request have one size here: checks of the same value, the
    // same ten statistics.
    WriteAll(connector_, check_request_.data(), check_request_.size());
    check_reply_ = ReadFrameBytes(connector_).size();
    WriteAll(connector_, stat_request_.data(), stat_request_.size());
    stat_reply_ = ReadFrameBytes(connector_).size();
  }

  // Every figure once, each connector figure right before or after its baseline.
  Round MeasureRound() {
    Round round;
    const std::vector<double> check =
        RoundTrips(connector_, check_request_, check_reply_, samples_);
    int raw = RawPair(check_request_, check_reply_);
    const std::vector<double> raw_check = RoundTrips(raw, check_request_, check_reply_, samples_);
    round.raw_pipelined = Pipelined(raw, check_request_, check_reply_, samples_ * 10);
    ::close(raw);
    round.pipelined = Pipelined(connector_, check_request_, check_reply_, samples_ * 10);
    round.check_p50 = Percentile(check, 0.5);
    round.raw_check_p50 = Percentile(raw_check, 0.5);
    round.check_p99 = Percentile(check, 0.99);
    round.raw_check_p99 = Percentile(raw_check, 0.99);

    round.stat_p50 = Percentile(RoundTrips(connector_, stat_request_, stat_reply_, samples_), 0.5);
    raw = RawPair(stat_request_, stat_reply_);
    round.raw_stat_p50 = Percentile(RoundTrips(raw, stat_request_, stat_reply_, samples_), 0.5);
    ::close(raw);

    round.raw_one_way = round.raw_check_p50 / 2;
    MeasureCallbackWays(round);
    MeasureWarnings(round);
    return round;
  }

  void Quit() { SendOrder(control_, Order{'q'}); }

  // A warning from each of threads host threads that all exist at once, then the p50 of check
  // round trips: whether the connector's cost grows with the threads that ever warned.
  double CheckRoundTripAfterThreads(uint32_t threads) {
    std::thread drain([this, threads] {
      std::string all(threads * RawWarningFrame().size(), '\0');
      ReadAll(connector_, &all[0], all.size());
    });
    SendOrder(control_, Order{'t', threads});
    drain.join();
    return Percentile(RoundTrips(connector_, check_request_, check_reply_, samples_), 0.5);
  }

  // threads x each warnings from the host as fast as it can, read all along, up to the end mark.
  BurstOutcome MeasureBurst(uint32_t threads, uint32_t each) {
    // Read in large pieces, as fast as the other phases read: a reader slower than the host would
    // meet the outgoing limit instead.
    std::thread drain([this] {
      std::vector<char> held;
      std::vector<char> piece(1 << 20);
      for (uint64_t reads = 0; reads < (uint64_t{1} << 32); ++reads) {
        const ssize_t n = ::recv(connector_, piece.data(), piece.size(), 0);
        if (n <= 0) Fail("the burst's connection ended");
        held.insert(held.end(), piece.begin(), piece.begin() + n);
        size_t at = 0;
        uint32_t length = 0;
        for (; held.size() - at >= 24; at += length) {
          std::memcpy(&length, &held[at], sizeof length);
          if (length < 8) Fail("frame length");
          if (held.size() - at < length) break;
          int32_t code = 0;
          // Length, tag and the three ids come before a warning's code.
          std::memcpy(&code, &held[at + 20], sizeof code);
          if (code == kBurstEndCode) return;
        }
        held.erase(held.begin(), held.begin() + static_cast<std::ptrdiff_t>(at));
      }
    });
    SendOrder(control_, Order{'b', threads, each});
    BurstOutcome outcome;
    ReadAll(control_, &outcome, sizeof outcome);
    drain.join();
    return outcome;
  }

 private:
  int RawPair(const std::string& request, size_t reply) {
    SendOrder(control_,
              Order{'e', static_cast<uint32_t>(request.size()), static_cast<uint32_t>(reply)});
    return AcceptNoDelay(raw_listener_);
  }

  // Check requests one at a time, each timed at its sending and its reply's arrival; the host
  // then tells when each callback was entered and returned.
  void MeasureCallbackWays(Round& round) {
    const uint32_t count = std::min<uint32_t>(static_cast<uint32_t>(samples_), kCallbackTimes);
    std::vector<int64_t> sent(count), arrived(count);
    std::string reply(check_reply_, '\0');
    for (uint32_t i = 0; i < count; ++i) {
      sent[i] = NowNanos();
      WriteAll(connector_, check_request_.data(), check_request_.size());
      ReadAll(connector_, &reply[0], reply.size());
      arrived[i] = NowNanos();
    }
    SendOrder(control_, Order{'c', count});
    std::vector<double> to_callback, from_callback;
    for (uint32_t i = 0; i < count; ++i) {
      CallbackTime time;
      ReadAll(control_, &time, sizeof time);
      to_callback.push_back((time.entered - sent[i]) / 1e3);
      from_callback.push_back((arrived[i] - time.returned) / 1e3);
    }
    round.to_callback = Median(to_callback);
    round.from_callback = Median(from_callback);
  }

  // Warnings delivered per second from one host thread, against a raw sender of same-size
  // frames; both read the same way, into the same buffer, made before either is timed. A
  // warning's frame has one size here (the same texts, fixed-size ids): the raw sender's. Then
  // calls per second from 1, 4 and 8 host threads, the agent reading all the while.
  void MeasureWarnings(Round& round) {
    const uint32_t warnings = static_cast<uint32_t>(samples_) * 50;
    const size_t warning_bytes = RawWarningFrame().size();
    std::string rest((warnings - 1) * warning_bytes, '\0');
    auto start = Clock::now();
    SendOrder(control_, Order{'w', 1, warnings});
    if (ReadFrameBytes(connector_).size() != warning_bytes) Fail("warning size");
    ReadAll(connector_, &rest[0], rest.size());
    round.delivered = warnings / Seconds(start);
    double one_thread_calls = 0;
    ReadAll(control_, &one_thread_calls, sizeof one_thread_calls);
    ReadAll(control_, &round.refused, sizeof round.refused);
    SendOrder(control_, Order{'r', warnings, 0});
    const int raw = AcceptNoDelay(raw_listener_);
    start = Clock::now();
    ReadAll(raw, &rest[0], warning_bytes);
    ReadAll(raw, &rest[0], rest.size());
    round.raw_delivered = warnings / Seconds(start);
    ::close(raw);

    const uint32_t thread_counts[3] = {1, 4, 8};
    for (int k = 0; k < 3; ++k) {
      const uint32_t each = warnings / thread_counts[k];
      std::thread drain([&] {
        std::string all(each * thread_counts[k] * warning_bytes, '\0');
        ReadAll(connector_, &all[0], all.size());
      });
      SendOrder(control_, Order{'w', thread_counts[k], each});
      ReadAll(control_, &round.calls[k], sizeof round.calls[k]);
      uint32_t refused = 0;
      ReadAll(control_, &refused, sizeof refused);
      round.refused += refused;
      drain.join();
    }
    for (int k = 0; k < 3; ++k) {
      const uint32_t each = 20000 / thread_counts[k];
      std::thread drain([&] {
        std::string all(each * thread_counts[k] * warning_bytes, '\0');
        ReadAll(connector_, &all[0], all.size());
      });
      SendOrder(control_, Order{'l', thread_counts[k], each});
      ReadAll(control_, &round.latency[k], sizeof round.latency[k]);
      ReadAll(control_, &round.floor[k], sizeof round.floor[k]);
      drain.join();
    }
  }

  const int control_;  // Not owned.
  const int samples_;
  // Owned: closed by the destructor.
  int agent_listener_ = -1;
  int raw_listener_ = -1;
  int connector_ = -1;
  std::string check_request_;
  std::string stat_request_;
  size_t check_reply_ = 0;
  size_t stat_reply_ = 0;
};

int RunAgent(int control, int samples, int round_count) {
  Agent agent(control, samples);
  agent.Start();
  std::vector<Round> rounds;
  uint32_t refused = 0;
  for (int i = 0; i < round_count; ++i) {
    rounds.push_back(agent.MeasureRound());
    refused += rounds.back().refused;
  }
  constexpr uint32_t kManyThreads = 1000;
  const double check_after_threads = agent.CheckRoundTripAfterThreads(kManyThreads);
  constexpr uint32_t kBurstThreads = 8;
  constexpr uint32_t kBurstEach = 200000;
  const BurstOutcome burst = agent.MeasureBurst(kBurstThreads, kBurstEach);
  agent.Quit();

  std::printf(
      "\nlibvexilconn.so against raw TCP between the same two processes: %d rounds of %d "
      "samples, the connector and its baseline measured moments apart in each\n",
      round_count, samples);
  Figure("native_check_round_trip_p50", rounds, &Round::check_p50, "us");
  Figure("native_check_round_trip_p50_raw", rounds, &Round::raw_check_p50, "us");
  Figure("native_check_round_trip_p99", rounds, &Round::check_p99, "us");
  Figure("native_check_round_trip_p99_raw", rounds, &Round::raw_check_p99, "us");
  Figure("native_stat_round_trip_p50", rounds, &Round::stat_p50, "us");
  Figure("native_stat_round_trip_p50_raw", rounds, &Round::raw_stat_p50, "us");
  Figure("native_pipelined_checks", rounds, &Round::pipelined, "replies/s");
  Figure("native_pipelined_checks_raw", rounds, &Round::raw_pipelined, "replies/s");
  Figure("native_warnings_delivered", rounds, &Round::delivered, "warnings/s");
  Figure("native_warnings_delivered_raw", rounds, &Round::raw_delivered, "warnings/s");
  std::vector<double> calls[3];
  for (const Round& round : rounds) {
    for (int k = 0; k < 3; ++k) calls[k].push_back(round.calls[k]);
  }
  std::printf("bench native_warning_calls_1_thread %.0f calls/s (median)\n", Median(calls[0]));
  std::printf("bench native_warning_calls_4_threads %.0f calls/s (median)\n", Median(calls[1]));
  std::printf("bench native_warning_calls_8_threads %.0f calls/s (median)\n", Median(calls[2]));
  Ratio(
      "native_check_round_trip_p50", rounds, [](const Round& r) { return r.check_p50; },
      [](const Round& r) { return r.raw_check_p50; }, true, 1.5);
  Ratio(
      "native_stat_round_trip_p50", rounds, [](const Round& r) { return r.stat_p50; },
      [](const Round& r) { return r.raw_stat_p50; }, true, 1.5);
  Ratio(
      "native_pipelined_checks", rounds, [](const Round& r) { return r.pipelined; },
      [](const Round& r) { return r.raw_pipelined; }, false, 0.7);
  Ratio(
      "native_warnings_delivered", rounds, [](const Round& r) { return r.delivered; },
      [](const Round& r) { return r.raw_delivered; }, false, 0.5);
  Ratio(
      "native_warning_calls_4_threads_of_1", rounds, [](const Round& r) { return r.calls[1]; },
      [](const Round& r) { return r.calls[0]; }, false, 0.8);
  Ratio(
      "native_warning_calls_8_threads_of_1", rounds, [](const Round& r) { return r.calls[2]; },
      [](const Round& r) { return r.calls[0]; }, false, 1.0);
  // Each VexilSendWarningMsg call's time on its host thread, against the same threads writing
  // the same bytes into a buffer of their own: the medians over the rounds of each percentile.
  std::printf(
      "\nVexilSendWarningMsg call latency on the host's threads, ns (median over the rounds)\n");
  std::printf("%-9s %9s %9s %9s %9s   %9s %9s %9s %9s\n", "threads", "p50", "p99", "p99.9", "max",
              "floor p50", "p99", "p99.9", "max");
  const char* names[3] = {"1", "4", "8"};
  for (int k = 0; k < 3; ++k) {
    const auto median_of = [&rounds, k](bool floor, double Latency::*field) {
      std::vector<double> values;
      for (const Round& round : rounds)
        values.push_back((floor ? round.floor : round.latency)[k].*field);
      return Median(values);
    };
    std::printf("%-9s %9.0f %9.0f %9.0f %9.0f   %9.0f %9.0f %9.0f %9.0f\n", names[k],
                median_of(false, &Latency::p50), median_of(false, &Latency::p99),
                median_of(false, &Latency::p999), median_of(false, &Latency::max),
                median_of(true, &Latency::p50), median_of(true, &Latency::p99),
                median_of(true, &Latency::p999), median_of(true, &Latency::max));
    std::printf("bench native_warning_call_p999_%s_threads %.0f ns (floor %.0f ns)\n", names[k],
                median_of(false, &Latency::p999), median_of(true, &Latency::p999));
  }
  Figure("native_request_to_callback_p50", rounds, &Round::to_callback, "us");
  Figure("native_callback_to_reply_p50", rounds, &Round::from_callback, "us");
  Figure("native_raw_one_way_p50", rounds, &Round::raw_one_way, "us");
  Ratio(
      "native_warning_call_p999_8_threads_of_floor", rounds,
      [](const Round& r) { return r.latency[2].p999; },
      [](const Round& r) { return r.floor[2].p999; }, true, 3.0);
  std::vector<double> check_p50;
  for (const Round& round : rounds) check_p50.push_back(round.check_p50);
  std::printf(
      "bench native_check_round_trip_p50_after_%u_threads %.1f us (after a warning from each; "
      "%.1f us in the rounds)\n",
      kManyThreads, check_after_threads, Median(check_p50));
  // The queue keeps the blocks its largest backlog needed for reuse; with warnings bounded, a
  // burst cannot leave more than the bound's worth.
  std::printf("\nA burst of %u threads x %u warnings, as fast as they go, the agent reading:\n",
              kBurstThreads, kBurstEach);
  std::printf("bench native_burst_warnings_queued %llu of %u\n",
              static_cast<unsigned long long>(burst.queued), kBurstThreads * kBurstEach);
  std::printf("bench native_burst_peak_bytes_queued %.1f MB\n", burst.peak_bytes_queued / 1e6);
  std::printf(
      "bench native_heap_held_after_burst %.1f MB (the whole run's, once nothing is queued)\n",
      burst.heap_held / 1e6);
  std::printf("warnings refused: %u\n", refused);
  return refused == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  // SAMPLES per figure per round (300 unless given), in ROUNDS rounds (9 unless given, no fewer).
  const int samples = argc > 1 ? std::max(100, std::atoi(argv[1])) : 300;
  const int round_count = argc > 2 ? std::max(9, std::atoi(argv[2])) : 9;
  int pair[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM, 0, pair) != 0) Fail("socketpair");
  const pid_t child = ::fork();
  if (child < 0) Fail("fork");
  if (child == 0) {
    ::close(pair[0]);
    RunHost(pair[1]);
    std::_Exit(0);
  }
  ::close(pair[1]);
  const int result = RunAgent(pair[0], samples, round_count);
  int status = 0;
  ::waitpid(child, &status, 0);
  return result != 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0 ? 1 : 0;
}
