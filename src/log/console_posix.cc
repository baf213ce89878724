#include "log/console.h"

#include <cstdarg>
#include <cstdio>
#include <cwchar>
#include <string>

#include "sync/code_page.h"

namespace vexil {
namespace {
constexpr size_t kLineCharacters = 1024;
}  // namespace

void PrintToConsole(const wchar_t* format, ...) {
  // Zeroed, so that a formatting failure part-way still leaves a terminated text.
  wchar_t line[kLineCharacters] = {};
  va_list arguments;
  va_start(arguments, format);
  std::vswprintf(line, kLineCharacters, format, arguments);
  va_end(arguments);
  line[kLineCharacters - 1] = L'\0';
  std::fputs(WideToNarrow(line).c_str(), stdout);
}

}  // namespace vexil
