// The end-to-end figures of libvexilconn.so on Linux, each against a raw TCP baseline of the same
// message sizes between the same two processes:
//   vexil_native_bench [ROUNDS]
// The parent plays the agent (127.0.0.1:8990 for the connector, 8991 for the raw baselines); the
// child is the host, linked with libvexilconn.so as a game server is, and takes its orders over a
// socket pair. Every loop is bounded; any failure ends both processes.
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
  char kind;       // 'e' echo baseline, 'w' warnings, 'r' raw warnings, 'q' quit
  uint32_t a = 0;  // e: request bytes; w: threads; r: frames
  uint32_t b = 0;  // e: reply bytes; w: warnings per thread
};

// ---- the host

class BenchHost final : public vexil::HostCallback {
 public:
  int OnCheckRequest(int32_t) override { return 1; }
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

void RunHost(int control) {
  static BenchHost host;
  const wchar_t* const argv[] = {L"bench", L"-GSID:7", L"-HAPORT:8990", L"-HAIP:127.0.0.1", L"x"};
  if (VexilInitConn(5, argv) != vexil::kInitOk || VexilRunConn(&host) != vexil::kRunStarted) {
    Fail("start");
  }
  for (;;) {
    Order order;
    ReadAll(control, &order, sizeof order);
    if (order.kind == 'q') break;
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

// One figure against its baseline (the raw figure, or one thread's), and their ratio.
void Ratio(const char* name, double ours, const char* against, double base, const char* unit,
           bool lower_is_better, double target) {
  const double ratio = ours / base;
  const bool met = lower_is_better ? ratio <= target : ratio >= target;
  std::printf("%-31s %11.1f %-3s %-8s %11.1f  ratio %.2f (%s is better; target %s %.2f) %s\n", name,
              ours, unit, against, base, ratio, lower_is_better ? "lower" : "higher",
              lower_is_better ? "<=" : ">=", target, met ? "met" : "MISSED");
}

int RunAgent(int control, int rounds) {
  const int agent_listener = Listen(kAgentPort);
  const int raw_listener = Listen(kRawPort);
  std::printf("waiting for the connector (its first attempt comes after 5 s)\n");
  const int connector = AcceptNoDelay(agent_listener);
  ReadFrameBytes(connector);  // Register

  vexil::CheckRequest check;
  check.value = 7;
  const std::string check_request = Encode(vexil::AgentMsg(vexil::AgentTag::kCheckRequest, check));
  const std::string stat_request = Encode(vexil::AgentMsg(vexil::AgentTag::kStatRequest));
  // The reply sizes, from one exchange each.
  WriteAll(connector, check_request.data(), check_request.size());
  const size_t check_reply = ReadFrameBytes(connector).size();
  WriteAll(connector, stat_request.data(), stat_request.size());
  const size_t stat_reply = ReadFrameBytes(connector).size();

  const auto raw_pair = [&](const std::string& request, size_t reply) {
    SendOrder(control,
              Order{'e', static_cast<uint32_t>(request.size()), static_cast<uint32_t>(reply)});
    return AcceptNoDelay(raw_listener);
  };

  // The connector's replies to one request have one size here: checks of the same value, the
  // same ten statistics.
  const std::vector<double> ours_check = RoundTrips(connector, check_request, check_reply, rounds);
  int raw = raw_pair(check_request, check_reply);
  const std::vector<double> raw_check = RoundTrips(raw, check_request, check_reply, rounds);
  const double raw_check_pipelined = Pipelined(raw, check_request, check_reply, rounds * 10);
  ::close(raw);
  const std::vector<double> ours_stat = RoundTrips(connector, stat_request, stat_reply, rounds);
  raw = raw_pair(stat_request, stat_reply);
  const std::vector<double> raw_stat = RoundTrips(raw, stat_request, stat_reply, rounds);
  ::close(raw);
  const double ours_pipelined = Pipelined(connector, check_request, check_reply, rounds * 10);

  // Warnings delivered per second from one host thread, against a raw sender of same-size frames;
  // both read the same way, into the same buffer, made before either is timed. A warning's frame
  // has one size here (the same texts, fixed-size ids): the raw sender's.
  const uint32_t warnings = static_cast<uint32_t>(rounds) * 50;
  const size_t warning_bytes = RawWarningFrame().size();
  std::string rest((warnings - 1) * warning_bytes, '\0');
  auto start = Clock::now();
  SendOrder(control, Order{'w', 1, warnings});
  if (ReadFrameBytes(connector).size() != warning_bytes) Fail("warning size");
  ReadAll(connector, &rest[0], rest.size());
  const double ours_delivered = warnings / Seconds(start);
  double one_thread_calls = 0;
  uint32_t lost = 0;
  ReadAll(control, &one_thread_calls, sizeof one_thread_calls);
  ReadAll(control, &lost, sizeof lost);
  SendOrder(control, Order{'r', warnings, 0});
  raw = AcceptNoDelay(raw_listener);
  start = Clock::now();
  ReadAll(raw, &rest[0], warning_bytes);
  ReadAll(raw, &rest[0], rest.size());
  const double raw_delivered = warnings / Seconds(start);
  ::close(raw);

  // Calls per second from 1, 4 and 8 host threads, the agent reading all the while.
  double calls[3] = {};
  const uint32_t thread_counts[3] = {1, 4, 8};
  for (int k = 0; k < 3; ++k) {
    const uint32_t each = warnings / thread_counts[k];
    std::thread drain([&] {
      std::string all(each * thread_counts[k] * warning_bytes, '\0');
      ReadAll(connector, &all[0], all.size());
    });
    SendOrder(control, Order{'w', thread_counts[k], each});
    ReadAll(control, &calls[k], sizeof calls[k]);
    uint32_t refused = 0;
    ReadAll(control, &refused, sizeof refused);
    lost += refused;
    drain.join();
  }
  SendOrder(control, Order{'q'});

  std::printf("\nlibvexilconn.so against raw TCP between the same two processes, %d rounds\n",
              rounds);
  Ratio("CheckRequest round trip p50", Percentile(ours_check, 0.5), "raw",
        Percentile(raw_check, 0.5), "us", true, 1.5);
  Ratio("StatRequest round trip p50", Percentile(ours_stat, 0.5), "raw", Percentile(raw_stat, 0.5),
        "us", true, 1.5);
  std::printf("%-31s %11.1f us  raw      %11.1f\n", "CheckRequest round trip p99",
              Percentile(ours_check, 0.99), Percentile(raw_check, 0.99));
  Ratio("pipelined checks", ours_pipelined, "raw", raw_check_pipelined, "/s", false, 0.7);
  Ratio("warnings delivered", ours_delivered, "raw", raw_delivered, "/s", false, 0.5);
  Ratio("warning calls, 4 threads", calls[1], "1 thread", calls[0], "/s", false, 0.8);
  Ratio("warning calls, 8 threads", calls[2], "1 thread", calls[0], "/s", false, 0.8);
  std::printf("warning calls from 1 thread during delivery: %.0f/s; refused: %u\n",
              one_thread_calls, lost);
  return lost == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(100, std::atoi(argv[1])) : 2000;
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
  const int result = RunAgent(pair[0], rounds);
  int status = 0;
  ::waitpid(child, &status, 0);
  return result != 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0 ? 1 : 0;
}
