/* The entry point of the C sample host built in the MSVC ABI without a C runtime of its own
 * (clang --target=*-windows-msvc, lld-link /nodefaultlib /entry:HostEntry): the wide command line
 * comes from msvcrt.dll, and the process ends with ExitProcess. */
#include <stddef.h>

#include "sample_host_c.h"

__declspec(dllimport) int __cdecl __wgetmainargs(int* argc, wchar_t*** argv, wchar_t*** env,
                                                 int expand_wildcards, int* startup_info);
__declspec(dllimport) void __stdcall ExitProcess(unsigned exit_code);

void __cdecl HostEntry(void);

void __cdecl HostEntry(void) {
  int argc = 0;
  wchar_t** argv = NULL;
  wchar_t** env = NULL;
  int startup_info = 0;
  __wgetmainargs(&argc, &argv, &env, 0, &startup_info);
  ExitProcess((unsigned)RunSampleHost(argc, (const wchar_t* const*)argv));
}
