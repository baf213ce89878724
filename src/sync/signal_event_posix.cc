#include "sync/signal_event.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "sync/check.h"

namespace vexil {

// Non-blocking: Reset reads the counter back to zero without waiting when the event is not set.
SignalEvent::SignalEvent() : native_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  if (native_ < 0) CheckFailed();
}

SignalEvent::~SignalEvent() {
  if (native_ >= 0) ::close(static_cast<int>(native_));
}

int SignalEvent::Set() {
  if (native_ < 0) return 0;
  const uint64_t one = 1;
  // The counter only needs to be above zero; it cannot reach its limit by ones in practice.
  return ::write(static_cast<int>(native_), &one, sizeof(one)) == sizeof(one) ? 1 : 0;
}

int SignalEvent::Reset() {
  if (native_ < 0) return 0;
  uint64_t counter = 0;
  if (::read(static_cast<int>(native_), &counter, sizeof(counter)) == sizeof(counter)) return 1;
  // Not set: nothing to read.
  return errno == EAGAIN ? 1 : 0;
}

}  // namespace vexil
