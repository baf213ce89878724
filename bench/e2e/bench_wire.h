// What the two end-to-end benchmark programs share: the control protocol by which the agent
// drives the host through the phases, owning holders for sockets and kernel handles, and exact
// transfers on blocking sockets. Windows only (both programs are Windows programs).
#ifndef VEXIL_BENCH_E2E_BENCH_WIRE_H_
#define VEXIL_BENCH_E2E_BENCH_WIRE_H_

#include <cstdint>
#include <string>

#include "sync/win32.h"

namespace vexil::bench {

// The connector always connects to port 8990; the control connection and every raw transport
// use the next port on the same address.
constexpr uint16_t kAgentPort = 8990;
constexpr uint16_t kControlPort = 8991;
// Every blocking receive gives up after this long, so a dead peer ends a run instead of hanging it.
constexpr DWORD kReceiveTimeoutMs = 30000;
// A CheckRequest carrying this value holds the host's callback until the host releases it.
constexpr int32_t kHoldCheckValue = -7;

// The phases, in the order the agent runs them. The host's part of each is in bench_host.cc.
enum class PhaseKind : int32_t {
  kEnd = 0,             // stop the connector and exit
  kRawBlocking = 1,     // serve raw requests on a new data connection with blocking calls
  kRawEvent = 2,        // the same, waiting as the connector waits
  kStartConnector = 3,  // VexilInitConn and VexilRunConn
  kConnectorIdle = 4,   // the agent talks to the connector; the host only waits for "done"
  kSetEvent = 5,        // time SetEvent calls (values[0]: seconds)
  kWarnings = 6,        // time VexilSendWarningMsg calls from `threads` threads (values[0]:
                        // calls that queued, values[1]: seconds)
  kQueuedMemory = 7,    // memory of warnings queued while the worker is held (values[0]: calls
                        // that queued, values[1]: private bytes, values[2]: heap bytes added)
  kRawSender = 8,       // send `count` frames of replySize bytes on a new data connection, one
                        // blocking send each: the raw baseline of delivered warnings
  kWarningLatency = 9,  // time each of `count` VexilSendWarningMsg calls spread over `threads`
                        // threads (values: p50, p99, p99.9, max in nanoseconds)
  kCopyLatency = 10,    // the same threads copying the same bytes into their own buffer: the
                        // floor of kWarningLatency (values as there)
};

// Agent to host: which phase, and its sizes.
struct Phase {
  PhaseKind kind = PhaseKind::kEnd;
  int32_t count = 0;        // requests, calls or warnings
  int32_t requestSize = 0;  // raw phases: bytes per request
  int32_t replySize = 0;    // raw phases: bytes per reply
  int32_t threads = 0;      // kWarnings
  // kRawEvent: send each reply with its own send and leave Nagle's algorithm on, as the
  // connector does, instead of one send for all replies owed and no coalescing delay.
  int32_t likeConnector = 0;
  // Names the phase in the host's trace markers.
  char label[40] = {};
};

// Host to agent at the end of each phase; the meaning of the values depends on the phase.
struct PhaseResult {
  double values[4] = {0, 0, 0, 0};
};

// Owns one socket; closes it when destroyed.
class SocketHolder {
 public:
  SocketHolder() = default;
  explicit SocketHolder(SOCKET socket) : socket_(socket) {}
  SocketHolder(SocketHolder&& other) noexcept : socket_(other.socket_) {
    other.socket_ = INVALID_SOCKET;
  }
  SocketHolder& operator=(SocketHolder&& other) noexcept;
  SocketHolder(const SocketHolder&) = delete;
  SocketHolder& operator=(const SocketHolder&) = delete;
  ~SocketHolder();

  SOCKET get() const { return socket_; }
  bool valid() const { return socket_ != INVALID_SOCKET; }

 private:
  SOCKET socket_ = INVALID_SOCKET;
};

// Owns one kernel handle; closes it when destroyed.
class HandleHolder {
 public:
  explicit HandleHolder(HANDLE handle) : handle_(handle) {}
  HandleHolder(const HandleHolder&) = delete;
  HandleHolder& operator=(const HandleHolder&) = delete;
  ~HandleHolder();

  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

// WSAStartup for the life of the object.
class WinsockSession {
 public:
  WinsockSession();
  WinsockSession(const WinsockSession&) = delete;
  WinsockSession& operator=(const WinsockSession&) = delete;
  ~WinsockSession();
};

// Prints what failed with the last Winsock or system error and ends the process with status 1.
[[noreturn]] void Fail(const std::string& what);

sockaddr_in Address(const std::string& ip, uint16_t port);
SocketHolder Listen(const std::string& ip, uint16_t port);
// Waits at most timeoutMs for a connection; fails the run after that.
SocketHolder Accept(const SocketHolder& listener, DWORD timeoutMs);
SocketHolder Connect(const std::string& ip, uint16_t port);
// Turns off send coalescing and sets the receive timeout.
void TuneStream(const SocketHolder& socket);

void SendAll(const SocketHolder& socket, const void* data, size_t size);
void ReceiveExact(const SocketHolder& socket, void* data, size_t size);

// Both programs are built by the same compiler for the same machine, so the control records
// (Phase, PhaseResult) travel as their bytes.
template <typename Record>
void SendRecord(const SocketHolder& control, const Record& record) {
  SendAll(control, &record, sizeof(record));
}
template <typename Record>
Record ReceiveRecord(const SocketHolder& control) {
  Record record;
  ReceiveExact(control, &record, sizeof(record));
  return record;
}
// One int32 signal: "ready" from the host, "done" from the agent.
void SendSignal(const SocketHolder& control);
void ReceiveSignal(const SocketHolder& control);

}  // namespace vexil::bench

#endif  // VEXIL_BENCH_E2E_BENCH_WIRE_H_
