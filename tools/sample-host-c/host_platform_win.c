/* The C sample host's platform on Windows. The few kernel32 functions are declared here rather
 * than taken from <windows.h>, so that the same file builds with MinGW GCC and with clang in the
 * MSVC ABI, which has no Windows headers of its own. */
#include "host_platform.h"

#define HOST_WINAPI __stdcall
#define HOST_IMPORT __declspec(dllimport)

typedef void* HostHandle;
typedef unsigned long(HOST_WINAPI* HostThreadStart)(void* argument);

HOST_IMPORT HostHandle HOST_WINAPI GetStdHandle(unsigned long which);
HOST_IMPORT int HOST_WINAPI WriteFile(HostHandle file, const void* data, unsigned long size,
                                      unsigned long* written, void* overlapped);
HOST_IMPORT int HOST_WINAPI ReadFile(HostHandle file, void* data, unsigned long size,
                                     unsigned long* read, void* overlapped);
HOST_IMPORT void HOST_WINAPI Sleep(unsigned long milliseconds);
HOST_IMPORT HostHandle HOST_WINAPI CreateThread(void* security, size_t stack_size,
                                                HostThreadStart start, void* argument,
                                                unsigned long flags, unsigned long* thread_id);
HOST_IMPORT int HOST_WINAPI CloseHandle(HostHandle handle);

#define HOST_STD_INPUT ((unsigned long)-10)
#define HOST_STD_OUTPUT ((unsigned long)-11)

/* Set once by the input thread, read by the main thread. */
static _Atomic int g_input_ended;

void PlatformWrite(const char* text, size_t size) {
  unsigned long written = 0;
  WriteFile(GetStdHandle(HOST_STD_OUTPUT), text, (unsigned long)size, &written, 0);
}

void PlatformSleep(unsigned milliseconds) { Sleep(milliseconds); }

static unsigned long HOST_WINAPI ReadInputToEnd(void* unused) {
  char chunk[256];
  unsigned long got = 0;
  (void)unused;
  while (ReadFile(GetStdHandle(HOST_STD_INPUT), chunk, sizeof chunk, &got, 0) && got != 0) {
  }
  g_input_ended = 1;
  return 0;
}

int PlatformWatchInput(void) {
  HostHandle thread = CreateThread(0, 0, ReadInputToEnd, 0, 0, 0);
  if (thread == 0) return 0;
  CloseHandle(thread);
  return 1;
}

int PlatformInputEnded(void) { return g_input_ended; }
