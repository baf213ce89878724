#include "support/check_recorder.h"

#include <atomic>

#include "sync/check.h"
#ifdef _WIN32
#include "sync/win32.h"
#else
#include <signal.h>
#endif

namespace vexil::testing {
namespace {

std::atomic<int> g_count{0};
std::atomic<uint32_t> g_code{0};
std::atomic<uint32_t> g_flags{0};
std::atomic<uint32_t> g_arguments{0};

#ifdef _WIN32
LONG CALLBACK OnException(EXCEPTION_POINTERS* info) {
  const EXCEPTION_RECORD* record = info->ExceptionRecord;
  if (record->ExceptionCode != kCheckFailureCode) return EXCEPTION_CONTINUE_SEARCH;
  g_code = record->ExceptionCode;
  g_flags = record->ExceptionFlags;
  g_arguments = record->NumberParameters;
  ++g_count;
  return EXCEPTION_CONTINUE_EXECUTION;
}
#else
struct sigaction g_previous;

void OnCheckSignal(int, siginfo_t* info, void*) {
  if (info->si_code != SI_QUEUE) return;
  g_code = static_cast<uint32_t>(info->si_value.sival_int);
  g_flags = 0;
  g_arguments = 0;
  ++g_count;
}
#endif

}  // namespace

CheckRecorder::CheckRecorder() {
  g_count = 0;
#ifdef _WIN32
  handle_ = ::AddVectoredExceptionHandler(1, &OnException);
#else
  struct sigaction action = {};
  action.sa_sigaction = &OnCheckSignal;
  action.sa_flags = SA_SIGINFO;
  sigemptyset(&action.sa_mask);
  ::sigaction(kCheckSignal, &action, &g_previous);
#endif
}

CheckRecorder::~CheckRecorder() {
#ifdef _WIN32
  ::RemoveVectoredExceptionHandler(handle_);
#else
  ::sigaction(kCheckSignal, &g_previous, nullptr);
#endif
}

int CheckRecorder::count() const { return g_count; }

RecordedCheck CheckRecorder::last() const { return {g_code, g_flags, g_arguments}; }

}  // namespace vexil::testing
