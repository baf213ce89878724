#include "support/check_recorder.h"

#include <atomic>

#include "sync/check.h"
#ifdef _WIN32
#include "sync/win32.h"
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
void OnCheck() {
  g_code = kCheckFailureCode;
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
  SetCheckHandler(&OnCheck);
#endif
}

CheckRecorder::~CheckRecorder() {
#ifdef _WIN32
  ::RemoveVectoredExceptionHandler(handle_);
#else
  SetCheckHandler(nullptr);
#endif
}

int CheckRecorder::count() const { return g_count; }

RecordedCheck CheckRecorder::last() const { return {g_code, g_flags, g_arguments}; }

}  // namespace vexil::testing
