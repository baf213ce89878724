#include "log/console.h"

#include "sync/win32.h"

// After <windows.h>.
#include <io.h>

#include <cstdarg>
#include <cstdio>
#include <cwchar>
#include <new>
#include <string>

#include "log/wide_format.h"
#include "sync/code_page.h"

namespace vexil {
namespace {

constexpr size_t kLineCharacters = 1024;

// Holds the C runtime's lock on stdout, so that a line is never split by the host's own output
// (a library built with the same runtime shares the stream and its lock).
class StdoutLock {
 public:
  StdoutLock() { ::_lock_file(stdout); }
  StdoutLock(const StdoutLock&) = delete;
  StdoutLock& operator=(const StdoutLock&) = delete;
  ~StdoutLock() { ::_unlock_file(stdout); }
};

}  // namespace

void PrintToConsole(const wchar_t* format, ...) {
  wchar_t line[kLineCharacters];
  va_list arguments;
  va_start(arguments, format);
  FormatWide(line, kLineCharacters, format, arguments);
  va_end(arguments);

  StdoutLock lock;
  // The descriptor's handle, not the process's standard handle: the host may have redirected
  // descriptor 1 on its own.
  const HANDLE output = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stdout)));
  DWORD mode = 0;
  if (::GetConsoleMode(output, &mode)) {
    // A console takes UTF-16 whatever its code page. What the host buffered goes first.
    std::fflush(stdout);
    DWORD written = 0;
    ::WriteConsoleW(output, line, static_cast<DWORD>(std::wcslen(line)), &written, nullptr);
    return;
  }
  // Redirected: the log's bytes, each line feed as CR LF in the stream's text mode. Printed from
  // catch handlers too, which must not throw: without memory for the copy the line is dropped.
  try {
    const std::string bytes = WideToUtf8(line);
    std::fwrite(bytes.data(), 1, bytes.size(), stdout);
  } catch (const std::bad_alloc&) {
  }
}

}  // namespace vexil
