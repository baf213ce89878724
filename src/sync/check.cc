#include "sync/check.h"

#ifdef _WIN32
#include "sync/win32.h"
#else
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#endif

namespace vexil {

#ifdef _WIN32

void CheckFailed() { ::RaiseException(kCheckFailureCode, 0, 0, nullptr); }

#else

const int kCheckSignal = SIGTRAP;

void CheckFailed() {
  struct sigaction current;
  if (::sigaction(kCheckSignal, nullptr, &current) == 0 && current.sa_handler == SIG_DFL) {
    // Unobserved: end here, saying why, rather than die of the signal's default action.
    static const char kMessage[] = "VexilConn: internal check 0xE0000001 failed\n";
    const ssize_t written = ::write(STDERR_FILENO, kMessage, sizeof(kMessage) - 1);
    static_cast<void>(written);
    std::abort();
  }
  sigval value;
  value.sival_int = static_cast<int>(kCheckFailureCode);
  // To this thread, as the exception is raised in the calling thread on Windows: the handler has
  // run when the call returns.
  ::pthread_sigqueue(::pthread_self(), kCheckSignal, value);
}

#endif

}  // namespace vexil
