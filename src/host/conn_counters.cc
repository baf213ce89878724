#include "host/conn_counters.h"

#include <cstddef>
#include <cstring>

namespace vexil {
namespace {

// One layout on x86, x64 and Linux: a header of two 32-bit words, then 8-byte fields only.
static_assert(offsetof(VexilConnCounters, size) == 0, "");
static_assert(offsetof(VexilConnCounters, reserved) == 4, "");
static_assert(offsetof(VexilConnCounters, connectAttempts) == VEXIL_COUNTERS_HEADER_SIZE, "");
static_assert(offsetof(VexilConnCounters, closedByAgent) == 32, "");
static_assert(offsetof(VexilConnCounters, warningsQueued) == 64, "");
static_assert(offsetof(VexilConnCounters, framesSent) == 88, "");
static_assert(offsetof(VexilConnCounters, bytesSent) == 104, "");
static_assert(offsetof(VexilConnCounters, bytesQueued) == 120, "");
static_assert(offsetof(VexilConnCounters, lastSystemError) == 128, "");
static_assert(sizeof(VexilConnCounters) == 136, "");
static_assert(offsetof(VexilConnCounters, framesReceived) ==
                  offsetof(VexilConnCounters, connectAttempts) + 8 * ConnCounters::kFramesReceived,
              "the totals lie in Counter order");
static_assert(offsetof(VexilConnCounters, bytesSent) ==
                  offsetof(VexilConnCounters, connectAttempts) + 8 * ConnCounters::kCounterCount,
              "the traffic follows the totals");

}  // namespace

int ConnCounters::Fill(VexilConnCounters* out, uint64_t queued_bytes) const {
  if (out == nullptr || out->size < VEXIL_COUNTERS_HEADER_SIZE) return VEXIL_COUNTERS_REFUSED;
  VexilConnCounters all{};
  // The totals lie in the struct in Counter order.
  uint64_t totals[kCounterCount];
  for (int counter = 0; counter < kCounterCount; ++counter) {
    totals[counter] = Get(static_cast<Counter>(counter));
  }
  std::memcpy(&all.connectAttempts, totals, sizeof totals);
  all.bytesSent = traffic_.sent.load(std::memory_order_relaxed);
  all.bytesReceived = traffic_.received.load(std::memory_order_relaxed);
  all.bytesQueued = queued_bytes + unsent_bytes_.load(std::memory_order_relaxed);
  all.lastSystemError = last_error_.load(std::memory_order_relaxed);
  // The fields both sides know: whole 8-byte fields within the host's size and ours.
  size_t known = out->size < sizeof(all) ? out->size : sizeof(all);
  known -= known % 8;
  all.size = static_cast<uint32_t>(known);
  std::memcpy(out, &all, known);
  return VEXIL_COUNTERS_FILLED;
}

}  // namespace vexil
