// Conversions between wide (UTF-16) text and narrow text in the system ANSI code page. Windows
// build only. Text stops at the first NUL; text the system cannot convert becomes empty.
#ifndef VEXIL_SYNC_CODE_PAGE_H_
#define VEXIL_SYNC_CODE_PAGE_H_

#include <string>

namespace vexil {

std::string WideToNarrow(const std::wstring& text);
std::wstring NarrowToWide(const std::string& text);

}  // namespace vexil

#endif  // VEXIL_SYNC_CODE_PAGE_H_
