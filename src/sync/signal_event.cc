#include "sync/signal_event.h"

namespace vexil {

bool SignalEvent::Wait(uint32_t timeout) {
  const WaitSource source = Source();
  return WaitForFirst(&source, 1, timeout) == kWaitObject0;
}

}  // namespace vexil
