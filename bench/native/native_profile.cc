// The connector's own instructions per message, for callgrind, whose counts the machine's load
// does not change:
//   vexil_native_profile agent [COUNT] &
//   valgrind --tool=callgrind vexil_native_profile host [COUNT]
// The agent (127.0.0.1:8990 for the connector, 8991 for the host's orders) reads COUNT warnings
// that the host sends from one thread, then sends COUNT CheckRequests, 100 per write, and reads
// every reply. The host zeroes callgrind's counts before each phase and dumps them after it, so
// each dump holds the host process's instructions (all threads) for that phase alone. Run both
// in one private network namespace. Every loop is bounded; any failure ends the process.
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "blocking_io.h"
#include "vexilconn/vexilconn.h"

#if __has_include(<valgrind/callgrind.h>)
#include <valgrind/callgrind.h>
#else
#define CALLGRIND_ZERO_STATS
#define CALLGRIND_DUMP_STATS_AT(name)
#endif

namespace {

using vexil::bench::Fail;
using vexil::bench::ReadAll;
using vexil::bench::WriteAll;

constexpr uint16_t kAgentPort = 8990;
constexpr uint16_t kOrderPort = 8991;
const char kWarningText[] = "tick overrun in the physics step";
const char kWarningExtra[] = "frame 123456";

// One whole frame: its first four bytes (little-endian) give its length, those four included.
size_t SkipFrame(int fd) {
  uint32_t length = 0;
  ReadAll(fd, &length, sizeof length);
  if (length < 4 || length > (1u << 20)) Fail("frame length");
  std::string rest(length - 4, '\0');
  ReadAll(fd, &rest[0], rest.size());
  return length;
}

sockaddr_in Loopback(uint16_t port) {
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

int AcceptOne(uint16_t port) {
  const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  const int on = 1;
  ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  const sockaddr_in address = Loopback(port);
  if (::bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listener, 1) != 0) {
    Fail("listen");
  }
  const int fd = ::accept(listener, nullptr, nullptr);
  if (fd < 0) Fail("accept");
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  ::close(listener);
  return fd;
}

// The agent's listeners are made by a process started first: up to 10 s of attempts.
int ConnectToOrders() {
  const sockaddr_in address = Loopback(kOrderPort);
  for (int attempt = 0; attempt < 100; ++attempt) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) return fd;
    ::close(fd);
    ::usleep(100000);
  }
  Fail("connect");
}

class ProfileHost final : public vexil::HostCallback {
 public:
  int OnCheckRequest(int32_t) override { return 1; }
  int OnOrder(const char*, const char*, char*, int32_t* length, uint32_t, uint32_t) override {
    *length = 0;
    return 0;
  }
  int OnCommand(uint32_t, uint32_t, const char*) override { return 1; }
  int OnCountsRequest(vexil::CountsSink*) override { return 0; }
  int OnRegionRequest(vexil::RegionSink*) override { return 0; }
  int OnStatRequest(vexil::StatSink*) override { return 0; }
  int OnRegionRequestExtra(vexil::RegionExtraSink*) override { return 0; }
  int OnStatRequestExtra(vexil::StatExtraSink*) override { return 0; }
};

int RunAgent(uint32_t count) {
  // The order connection first: the connector's first attempt comes 5 s after it starts.
  int orders = -1;
  std::thread accept_orders([&orders] { orders = AcceptOne(kOrderPort); });
  const int connector = AcceptOne(kAgentPort);
  accept_orders.join();
  SkipFrame(connector);  // Register
  char step = 0;
  WriteAll(orders, "w", 1);
  const size_t frame = SkipFrame(connector);
  std::string rest((count - 1) * frame, '\0');
  ReadAll(connector, &rest[0], rest.size());
  WriteAll(orders, "p", 1);
  ReadAll(orders, &step, 1);
  const uint8_t request[12] = {12, 0, 0, 0, 2, 0, 0, 0, 7, 0, 0, 0};
  std::string batch;
  for (int i = 0; i < 100; ++i) batch.append(reinterpret_cast<const char*>(request), 12);
  std::thread writer([&] {
    for (uint32_t sent = 0; sent < count; sent += 100)
      WriteAll(connector, batch.data(), batch.size());
  });
  std::string replies(size_t{16} * ((count + 99) / 100 * 100), '\0');
  ReadAll(connector, &replies[0], replies.size());
  writer.join();
  WriteAll(orders, "q", 1);
  ReadAll(orders, &step, 1);
  std::printf("%u warnings of %zu bytes and %zu CheckRequests served\n", count, frame,
              replies.size() / 16);
  return 0;
}

int RunHost(uint32_t count) {
  static ProfileHost host;
  const int orders = ConnectToOrders();
  const wchar_t* const argv[] = {L"profile", L"-GSID:7", L"-HAPORT:8990", L"-HAIP:127.0.0.1", L"x"};
  if (VexilInitConn(5, argv) != vexil::kInitOk || VexilRunConn(&host) != vexil::kRunStarted) {
    Fail("start");
  }
  char step = 0;
  ReadAll(orders, &step, 1);  // 'w': the agent has the Register and reads
  // The status shows the connection a moment after the Register left: up to 10 s.
  for (int wait = 0; wait < 1000 && VexilGetStatus() != VEXIL_STATUS_CONNECTED; ++wait) {
    ::usleep(10000);
  }
  CALLGRIND_ZERO_STATS;
  for (uint32_t i = 0; i < count; ++i) {
    if (VexilSendWarningMsg(1001, kWarningText, kWarningExtra, 0, i) != vexil::kWarningQueued) {
      Fail("warning refused");
    }
  }
  ReadAll(orders, &step, 1);  // 'p': every warning arrived
  CALLGRIND_DUMP_STATS_AT("warnings");
  WriteAll(orders, "p", 1);
  ReadAll(orders, &step, 1);  // 'q': every reply arrived
  CALLGRIND_DUMP_STATS_AT("pipelined");
  VexilStopConn();
  WriteAll(orders, "q", 1);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const bool agent = argc > 1 && std::strcmp(argv[1], "agent") == 0;
  const bool host = argc > 1 && std::strcmp(argv[1], "host") == 0;
  if (!agent && !host) {
    std::fprintf(stderr, "usage: vexil_native_profile agent|host [COUNT]\n");
    return 2;
  }
  const long count = argc > 2 ? std::atol(argv[2]) : 20000;
  if (count < 100 || count > 10000000) Fail("count");
  return agent ? RunAgent(static_cast<uint32_t>(count)) : RunHost(static_cast<uint32_t>(count));
}
