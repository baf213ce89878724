#include "log/process_info.h"

#include "sync/win32.h"

namespace vexil {

uint32_t CurrentProcessId() { return ::GetCurrentProcessId(); }

std::wstring ExecutablePath() {
  // Long paths reach 32767 characters; the buffer doubles until the path fits.
  for (DWORD size = MAX_PATH; size <= 65536; size *= 2) {
    std::wstring path(size, L'\0');
    const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), size);
    if (length == 0) return std::wstring();
    if (length < size) {
      path.resize(length);
      return path;
    }
  }
  return std::wstring();
}

}  // namespace vexil
