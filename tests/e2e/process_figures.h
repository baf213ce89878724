// The process's handle count and memory, taken at one moment. Windows: the handle count and
// private committed memory. Linux: the open descriptors (/proc/self/fd) and the resident set size
// (/proc/self/statm).
#ifndef VEXIL_TESTS_E2E_PROCESS_FIGURES_H_
#define VEXIL_TESTS_E2E_PROCESS_FIGURES_H_

#ifdef _WIN32
#include <winsock2.h>  // before <windows.h>
#include <windows.h>

// After <windows.h>.
#include <psapi.h>
#else
#include <dirent.h>
#include <unistd.h>

#include <cstdio>
#endif

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "support/test_platform.h"

namespace vexil::testing {

// ThreadSanitizer maps shadow memory for every address the program touches, so the memory figure
// grows by itself there and says nothing about leaks; the handle probes still hold.
#if defined(VEXIL_TESTS_THREAD_SANITIZER)
constexpr bool kMemoryIsLeakProbe = false;
#else
constexpr bool kMemoryIsLeakProbe = true;
#endif

struct ProcessFigures {
  unsigned long handles = 0;  // GetProcessHandleCount (the Wine used here reports 0); Linux: fds
  // The value a new handle gets: the handle table (and the descriptor table) hands out the lowest
  // free slot first, so this grows when handles leak, under Wine as on Windows and Linux.
  uintptr_t next_handle = 0;
  size_t private_bytes = 0;  // Linux: the resident set
};

#ifdef _WIN32
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
#else
inline ProcessFigures MeasureProcess() {
  ProcessFigures figures;
  if (DIR* descriptors = ::opendir("/proc/self/fd")) {
    while (const dirent* entry = ::readdir(descriptors)) {
      if (entry->d_name[0] != '.') ++figures.handles;
    }
    ::closedir(descriptors);
    --figures.handles;  // the listing's own
  }
  const int probe = ::dup(0);
  figures.next_handle = static_cast<uintptr_t>(probe);
  if (probe >= 0) ::close(probe);
  if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
    unsigned long pages = 0, resident = 0;
    if (std::fscanf(statm, "%lu %lu", &pages, &resident) == 2) {
      figures.private_bytes = resident * static_cast<size_t>(::sysconf(_SC_PAGESIZE));
    }
    std::fclose(statm);
  }
  return figures;
}
#endif

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

// The probe's floor over the last `count` samples. A leak raises every later sample; a handle that
// another thread holds for a moment raises one. Compared with the settled early value, the floor
// finds the first and ignores the second.
inline uintptr_t LateNextHandle(const std::vector<ProcessFigures>& figures, size_t count) {
  const size_t first = figures.size() > count ? figures.size() - count : 0;
  uintptr_t floor = UINTPTR_MAX;
  for (size_t i = first; i < figures.size(); ++i) floor = std::min(floor, figures[i].next_handle);
  return floor;
}

}  // namespace vexil::testing

#endif  // VEXIL_TESTS_E2E_PROCESS_FIGURES_H_
