// The process's handle count and private committed memory, taken at one moment. Windows build.
#ifndef VEXIL_TESTS_E2E_PROCESS_FIGURES_H_
#define VEXIL_TESTS_E2E_PROCESS_FIGURES_H_

#include <winsock2.h>  // before <windows.h>
#include <windows.h>

// After <windows.h>.
#include <psapi.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace vexil::testing {

struct ProcessFigures {
  DWORD handles = 0;  // GetProcessHandleCount; the Wine used here reports 0
  // The value a new handle gets: the handle table hands out the lowest free slot first, so this
  // grows when handles leak, under Wine as on Windows.
  uintptr_t next_handle = 0;
  size_t private_bytes = 0;
};

inline ProcessFigures MeasureProcess() {
  ProcessFigures figures;
  ::GetProcessHandleCount(::GetCurrentProcess(), &figures.handles);
  const HANDLE probe = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  figures.next_handle = reinterpret_cast<uintptr_t>(probe);
  ::CloseHandle(probe);
  // PagefileUsage is the process's private committed memory.
  PROCESS_MEMORY_COUNTERS counters = {};
  counters.cb = sizeof counters;
  ::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof counters);
  figures.private_bytes = counters.PagefileUsage;
  return figures;
}

// The probe's settled value over the first `count` samples. A handle that happens to be free at
// the moment of one sample (another thread between two handles) lowers the probe for that sample
// only, so the highest early value is the baseline to compare the last sample with.
inline uintptr_t SettledNextHandle(const std::vector<ProcessFigures>& figures, size_t count) {
  uintptr_t settled = 0;
  for (size_t i = 0; i < count && i < figures.size(); ++i) {
    settled = std::max(settled, figures[i].next_handle);
  }
  return settled;
}

}  // namespace vexil::testing

#endif  // VEXIL_TESTS_E2E_PROCESS_FIGURES_H_
