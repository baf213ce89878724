// The wait on several sources at once in which the lowest-numbered ready source wins, as the
// Windows multi-object wait reports it: the connector's worker relies on that order (its stop event
// first, then the connection, then the send event).
#ifndef VEXIL_SYNC_ORDERED_WAIT_H_
#define VEXIL_SYNC_ORDERED_WAIT_H_

#include <cstdint>

#include "sync/wait_result.h"

namespace vexil {

// What the wait asks of one source.
enum WaitReadiness : uint32_t {
  kReadable = 1,  // POSIX: input (or an error or hang-up) on the descriptor
  kWritable = 2,  // POSIX: room to write on the descriptor
};

// One source of a wait, borrowed for the wait only.
// Windows: native is a waitable handle (an event); readiness is not used.
// POSIX: native is a descriptor waited on with poll for readiness; a negative descriptor is never
// ready, so a slot with nothing behind it keeps its place in the order.
struct WaitSource {
  intptr_t native = -1;
  uint32_t readiness = kReadable;
};

// Waits until one of count sources is ready or timeout milliseconds (kInfinite: no limit) have
// passed. Returns kWaitObject0 + the index of the lowest ready source, kWaitTimeout, or kWaitFailed
// with the cause in the last error (also for a count of 0 or above kMaxWaitObjects).
uint32_t WaitForFirst(const WaitSource* sources, uint32_t count, uint32_t timeout);

}  // namespace vexil

#endif  // VEXIL_SYNC_ORDERED_WAIT_H_
