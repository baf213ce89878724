#include "sync/signal_event.h"

#include "sync/check.h"
#include "sync/win32.h"

namespace vexil {
namespace {
HANDLE Native(intptr_t native) { return reinterpret_cast<HANDLE>(native); }
}  // namespace

SignalEvent::SignalEvent()
    : native_(reinterpret_cast<intptr_t>(::CreateEventW(nullptr, TRUE, FALSE, nullptr))) {
  if (native_ == 0) CheckFailed();
}

SignalEvent::~SignalEvent() {
  if (native_ != 0) ::CloseHandle(Native(native_));
}

int SignalEvent::Set() { return native_ != 0 && ::SetEvent(Native(native_)) ? 1 : 0; }

int SignalEvent::Reset() { return native_ != 0 && ::ResetEvent(Native(native_)) ? 1 : 0; }

}  // namespace vexil
