// What the connector counts for VexilGetCounters: plain totals of relaxed 64-bit atomics that any
// thread adds to and any thread reads, without a lock, from the library's load to its unload.
#ifndef VEXIL_HOST_CONN_COUNTERS_H_
#define VEXIL_HOST_CONN_COUNTERS_H_

#include <atomic>
#include <cstdint>

#include "net/buffered_socket.h"
#include "vexilconn/vexilconn.h"

namespace vexil {

static_assert(std::atomic<uint64_t>::is_always_lock_free,
              "VexilGetCounters must read the counters without a lock");
static_assert(std::atomic<uint32_t>::is_always_lock_free,
              "VexilGetCounters must read the last error without a lock");

class ConnCounters {
 public:
  // The totals, in the order of their fields in VexilConnCounters. The bytes sent and received
  // are the traffic's (see traffic()).
  enum Counter {
    kConnectAttempts,
    kConnections,
    kRegistrations,
    kClosedByAgent,
    kClosedByError,
    kClosedAtOutgoingLimit,
    kClosedByStop,
    kWarningsQueued,
    kWarningsRefused,
    kWarningsDropped,
    kFramesSent,
    kFramesReceived,
    kCounterCount,
  };

  ConnCounters() = default;
  ConnCounters(const ConnCounters&) = delete;
  ConnCounters& operator=(const ConnCounters&) = delete;

  void Add(Counter counter, uint64_t amount = 1) {
    totals_[counter].fetch_add(amount, std::memory_order_relaxed);
  }
  uint64_t Get(Counter counter) const { return totals_[counter].load(std::memory_order_relaxed); }
  // A system error code of the connection; 0 leaves the last one.
  void SetLastError(uint32_t error) {
    if (error != 0) last_error_.store(error, std::memory_order_relaxed);
  }
  // The bytes the attached socket holds that the system has not taken yet, as the worker last
  // saw them.
  void SetUnsentBytes(uint64_t bytes) { unsent_bytes_.store(bytes, std::memory_order_relaxed); }
  // What the connection's sockets add their traffic to.
  TrafficTotals* traffic() { return &traffic_; }

  // VexilGetCounters: fills *out by its size rule (see vexilconn.h), counting queued_bytes (the
  // outgoing queue's) among the bytes queued. Returns VEXIL_COUNTERS_FILLED or
  // VEXIL_COUNTERS_REFUSED.
  int Fill(VexilConnCounters* out, uint64_t queued_bytes) const;

 private:
  std::atomic<uint64_t> totals_[kCounterCount] = {};
  std::atomic<uint64_t> unsent_bytes_{0};
  std::atomic<uint32_t> last_error_{0};
  TrafficTotals traffic_;
};

}  // namespace vexil

#endif  // VEXIL_HOST_CONN_COUNTERS_H_
