#include "log/console.h"

#include <cstdarg>
#include <cstdio>
#include <cwchar>
#include <string>

#include "log/wide_format.h"
#include "sync/code_page.h"

namespace vexil {
namespace {
constexpr size_t kLineCharacters = 1024;
}  // namespace

void PrintToConsole(const wchar_t* format, ...) {
  wchar_t line[kLineCharacters];
  va_list arguments;
  va_start(arguments, format);
  FormatWide(line, kLineCharacters, format, arguments);
  va_end(arguments);
  std::fputs(WideToUtf8(line).c_str(), stdout);
}

}  // namespace vexil
