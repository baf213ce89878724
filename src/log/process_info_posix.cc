#include "log/process_info.h"

#include <unistd.h>

#include <string>

#include "sync/code_page.h"

namespace vexil {

uint32_t CurrentProcessId() { return static_cast<uint32_t>(::getpid()); }

std::wstring ExecutablePath() {
  // readlink does not say how long the target is: the buffer doubles until the path fits.
  for (size_t size = 256; size <= 65536; size *= 2) {
    std::string path(size, '\0');
    const ssize_t length = ::readlink("/proc/self/exe", path.data(), size);
    if (length < 0) return std::wstring();
    if (static_cast<size_t>(length) < size) {
      path.resize(static_cast<size_t>(length));
      return NarrowToWide(path);
    }
  }
  return std::wstring();
}

}  // namespace vexil
