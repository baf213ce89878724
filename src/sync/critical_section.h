// A process-local, re-entrant lock over the system's critical section (spin count 4000).
// Not a capability to the thread-safety analysis: the Lockable objects that hold one are, so that
// one lock has one name there (and the analysis knows no re-entrant lock).
#ifndef VEXIL_SYNC_CRITICAL_SECTION_H_
#define VEXIL_SYNC_CRITICAL_SECTION_H_

#include <cstdint>

namespace vexil {

class CriticalSection {
 public:
  static constexpr uint32_t kSpinCount = 4000;
  // The one timeout Lock honours: wait as long as it takes.
  static constexpr uint32_t kInfinite = 0xFFFFFFFFu;

  CriticalSection();
  CriticalSection(const CriticalSection&) = delete;
  CriticalSection& operator=(const CriticalSection&) = delete;
  ~CriticalSection();

  void Enter();
  void Leave();
  // Non-zero (TRUE) when entered.
  int TryEnter();
  // Only kInfinite enters (TRUE); any other timeout returns FALSE at once without entering.
  int Lock(uint32_t timeout);
  // Leaves; always TRUE.
  int Unlock();

 private:
  // The system object lives here so that <windows.h> stays out of this header.
  alignas(8) unsigned char storage_[64];
};

}  // namespace vexil

#endif  // VEXIL_SYNC_CRITICAL_SECTION_H_
