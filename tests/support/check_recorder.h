// Records internal-check failures and resumes execution, so a test can see a check fire and then
// verify the fallback that runs after it. Windows: a vectored exception handler; POSIX: a handler
// of the check signal, as a host would install. One recorder at a time per process.
#ifndef VEXIL_TESTS_SUPPORT_CHECK_RECORDER_H_
#define VEXIL_TESTS_SUPPORT_CHECK_RECORDER_H_

#include <cstdint>

namespace vexil::testing {

struct RecordedCheck {
  uint32_t code = 0;
  uint32_t flags = 0;
  uint32_t argument_count = 0;
};

class CheckRecorder {
 public:
  CheckRecorder();
  CheckRecorder(const CheckRecorder&) = delete;
  CheckRecorder& operator=(const CheckRecorder&) = delete;
  ~CheckRecorder();

  // Number of checks that fired since construction (on any thread).
  int count() const;
  RecordedCheck last() const;

 private:
#ifdef _WIN32
  void* handle_ = nullptr;  // the vectored exception handler
#endif
};

}  // namespace vexil::testing

#endif  // VEXIL_TESTS_SUPPORT_CHECK_RECORDER_H_
