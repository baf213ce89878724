// A manual-reset event that a wait can watch together with a socket: set, it stays set and wakes
// every wait until it is reset. Windows: an unnamed kernel event. POSIX: an eventfd, readable while
// set. Any thread may set, reset or wait.
#ifndef VEXIL_SYNC_SIGNAL_EVENT_H_
#define VEXIL_SYNC_SIGNAL_EVENT_H_

#include <cstdint>

#include "sync/ordered_wait.h"

namespace vexil {

class SignalEvent {
 public:
  // Not set. A failure to create the system object is a check failure; the event then never
  // becomes set and Set and Reset return 0.
  SignalEvent();
  SignalEvent(const SignalEvent&) = delete;
  SignalEvent& operator=(const SignalEvent&) = delete;
  ~SignalEvent();

  // 1 on success, 0 with the cause in the last error.
  int Set();
  int Reset();
  // True when set before timeout milliseconds (kInfinite: no limit) have passed.
  bool Wait(uint32_t timeout);
  // The event as one source of WaitForFirst; valid while the event lives.
  WaitSource Source() const { return WaitSource{native_, kReadable}; }

 private:
  intptr_t native_;  // The event handle (Windows) or eventfd descriptor (POSIX); owned.
};

}  // namespace vexil

#endif  // VEXIL_SYNC_SIGNAL_EVENT_H_
