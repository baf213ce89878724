#include "sync/critical_section.h"

#ifdef _WIN32
#include "sync/win32.h"
#else
#include <mutex>
#include <new>
#endif

namespace vexil {

#ifdef _WIN32

namespace {
CRITICAL_SECTION* Native(unsigned char* storage) {
  return reinterpret_cast<CRITICAL_SECTION*>(storage);
}
}  // namespace

static_assert(sizeof(CRITICAL_SECTION) <= 64, "critical section storage too small");

CriticalSection::CriticalSection() {
  ::InitializeCriticalSectionAndSpinCount(Native(storage_), kSpinCount);
}
CriticalSection::~CriticalSection() { ::DeleteCriticalSection(Native(storage_)); }
void CriticalSection::Enter() { ::EnterCriticalSection(Native(storage_)); }
void CriticalSection::Leave() { ::LeaveCriticalSection(Native(storage_)); }
int CriticalSection::TryEnter() { return ::TryEnterCriticalSection(Native(storage_)); }

#else

// The native build stands in a recursive mutex for the critical section, and spins on it before
// it sleeps as the system's critical section does: a lock held for a few hundred instructions at a
// time (the send queue's) would otherwise send every contended entry through the kernel.
namespace {
std::recursive_mutex* Native(unsigned char* storage) {
  return std::launder(reinterpret_cast<std::recursive_mutex*>(storage));
}

void CpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#endif
}
}  // namespace

static_assert(sizeof(std::recursive_mutex) <= 64, "critical section storage too small");

CriticalSection::CriticalSection() { new (storage_) std::recursive_mutex(); }
CriticalSection::~CriticalSection() { Native(storage_)->~recursive_mutex(); }
void CriticalSection::Enter() {
  std::recursive_mutex* mutex = Native(storage_);
  for (uint32_t spin = 0; spin < kSpinCount; ++spin) {
    if (mutex->try_lock()) return;
    CpuRelax();
  }
  mutex->lock();
}
void CriticalSection::Leave() { Native(storage_)->unlock(); }
int CriticalSection::TryEnter() { return Native(storage_)->try_lock() ? 1 : 0; }

#endif

int CriticalSection::Lock(uint32_t timeout) {
  if (timeout != kInfinite) return 0;
  Enter();
  return 1;
}

int CriticalSection::Unlock() {
  Leave();
  return 1;
}

}  // namespace vexil
