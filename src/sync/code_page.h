// Conversions between wide text and narrow text: on Windows UTF-16 and the system ANSI code page,
// on POSIX UTF-32 and UTF-8. Text stops at the first NUL; text that cannot be converted (on POSIX:
// a surrogate or a value above U+10FFFF, or malformed UTF-8) becomes empty.
#ifndef VEXIL_SYNC_CODE_PAGE_H_
#define VEXIL_SYNC_CODE_PAGE_H_

#include <string>

namespace vexil {

std::string WideToNarrow(const std::wstring& text);
std::wstring NarrowToWide(const std::string& text);
// Wide text as UTF-8 on both platforms, whatever the code page: the encoding of the log and of
// redirected console output, which must keep every character. On Windows an unpaired surrogate
// becomes U+FFFD rather than emptying the text.
std::string WideToUtf8(const std::wstring& text);

}  // namespace vexil

#endif  // VEXIL_SYNC_CODE_PAGE_H_
