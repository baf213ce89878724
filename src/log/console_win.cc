#include "log/console.h"

#include <cstdarg>
#include <cwchar>

namespace vexil {

void PrintToConsole(const wchar_t* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  std::vwprintf(format, arguments);
  va_end(arguments);
}

}  // namespace vexil
