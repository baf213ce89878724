// Not called by the connector: kept because the system's design defines it among the kernel
// synchronisation classes, and kept working by tests/uncalled.
// A kernel event. Windows build only.
#ifndef VEXIL_UNCALLED_SYNC_EVENT_H_
#define VEXIL_UNCALLED_SYNC_EVENT_H_

#include <cstdint>

#include "uncalled/sync/waitable_object.h"

struct _SECURITY_ATTRIBUTES;

namespace vexil {

class Event : public WaitableObject {
 public:
  // Nothing open.
  Event() = default;
  // Mind the order: the initial state comes before the reset mode, the reverse of CreateEventW.
  // A failure is a check failure.
  Event(int initialState, int manualReset, const wchar_t* name, _SECURITY_ATTRIBUTES* attributes);
  // OpenEventW; a null name, or a failure, is a check failure.
  Event(const wchar_t* name, uint32_t desiredAccess, int inheritHandle);

  // Two-phase forms, as Semaphore's; Open also makes a null name a check failure.
  int Create(int initialState, int manualReset, const wchar_t* name,
             _SECURITY_ATTRIBUTES* attributes);
  int Open(const wchar_t* name, uint32_t desiredAccess, int inheritHandle);

  // Waiting consumed nothing that needs giving back: TRUE, the event's state unchanged, and no
  // check even when closed.
  int Unlock() override { return 1; }

  // SetEvent, PulseEvent, ResetEvent; a closed event is a check failure (if resumed, FALSE).
  int Set();
  int Pulse();
  int Reset();
};

}  // namespace vexil

#endif  // VEXIL_UNCALLED_SYNC_EVENT_H_
