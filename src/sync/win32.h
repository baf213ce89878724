// The only way a .cc file sees the Windows API. Never include this from a header that platform-free
// code includes.
#ifndef VEXIL_SYNC_WIN32_H_
#define VEXIL_SYNC_WIN32_H_

#ifndef _WIN32
#error "win32.h is for the Windows build only"
#endif

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <winsock2.h>  // before <windows.h>; pinned in .clang-format
#include <windows.h>

#endif  // VEXIL_SYNC_WIN32_H_
