// Formatting of one wide line into a fixed buffer, for the log file and the console.
#ifndef VEXIL_LOG_WIDE_FORMAT_H_
#define VEXIL_LOG_WIDE_FORMAT_H_

#include <cstdarg>
#include <cstddef>

namespace vexil {

// Formats into out (capacity characters, at least 1). The text is always terminated: cut at
// capacity - 1 characters, and empty or partial, never unterminated, when formatting fails.
void FormatWide(wchar_t* out, size_t capacity, const wchar_t* format, va_list arguments);

}  // namespace vexil

#endif  // VEXIL_LOG_WIDE_FORMAT_H_
