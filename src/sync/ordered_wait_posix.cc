#include "sync/ordered_wait.h"

#include <poll.h>

#include <cerrno>
#include <chrono>
#include <climits>

namespace vexil {
namespace {

using Clock = std::chrono::steady_clock;

// The poll timeout for what is left of the wait; -1 waits without a limit.
int RemainingMilliseconds(uint32_t timeout, Clock::time_point deadline) {
  if (timeout == kInfinite) return -1;
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  if (left <= 0) return 0;
  return left > INT_MAX ? INT_MAX : static_cast<int>(left);
}

}  // namespace

uint32_t WaitForFirst(const WaitSource* sources, uint32_t count, uint32_t timeout) {
  if (sources == nullptr || count == 0 || count > kMaxWaitObjects) {
    errno = EINVAL;
    return kWaitFailed;
  }
  pollfd descriptors[kMaxWaitObjects];
  for (uint32_t i = 0; i < count; ++i) {
    descriptors[i].fd = static_cast<int>(sources[i].native);
    descriptors[i].events = static_cast<short>(((sources[i].readiness & kReadable) ? POLLIN : 0) |
                                               ((sources[i].readiness & kWritable) ? POLLOUT : 0));
    descriptors[i].revents = 0;
  }
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout);
  for (;;) {
    const int ready = ::poll(descriptors, count, RemainingMilliseconds(timeout, deadline));
    if (ready < 0) {
      // A signal the host handles interrupts the wait, not the worker.
      if (errno == EINTR) continue;
      return kWaitFailed;
    }
    if (ready == 0) return kWaitTimeout;
    for (uint32_t i = 0; i < count; ++i) {
      if (descriptors[i].revents == 0) continue;
      if (descriptors[i].revents & POLLNVAL) {
        errno = EBADF;
        return kWaitFailed;
      }
      return kWaitObject0 + i;
    }
  }
}

}  // namespace vexil
