#include "sync/check.h"

#ifdef _WIN32
#include "sync/win32.h"
#else
#include <atomic>
#endif

namespace vexil {

#ifdef _WIN32

void CheckFailed() { ::RaiseException(kCheckFailureCode, 0, 0, nullptr); }

#else

namespace {
void ThrowCheckFailure() { throw CheckFailure{}; }
std::atomic<CheckHandler> g_check_handler{&ThrowCheckFailure};
}  // namespace

void CheckFailed() { g_check_handler.load()(); }

CheckHandler SetCheckHandler(CheckHandler handler) {
  return g_check_handler.exchange(handler != nullptr ? handler : &ThrowCheckFailure);
}

#endif

}  // namespace vexil
