#include "log/wide_format.h"

#include <cwchar>

namespace vexil {

void FormatWide(wchar_t* out, size_t capacity, const wchar_t* format, va_list arguments) {
  // Zeroed, so that a formatting failure part-way still leaves a terminated text.
  std::wmemset(out, L'\0', capacity);
  std::vswprintf(out, capacity, format, arguments);
  out[capacity - 1] = L'\0';
}

}  // namespace vexil
