/* What the C sample host needs from its platform: console output, sleeping, and a watch on
 * standard input. Kept to these few functions so that the host also builds without a C library's
 * headers (the MSVC-ABI build declares the Win32 functions it calls itself). */
#ifndef VEXIL_TOOLS_SAMPLE_HOST_C_HOST_PLATFORM_H_
#define VEXIL_TOOLS_SAMPLE_HOST_C_HOST_PLATFORM_H_

#include <stddef.h>

/* Writes size bytes to standard output at once (unbuffered). */
void PlatformWrite(const char* text, size_t size);
void PlatformSleep(unsigned milliseconds);
/* Starts a thread that reads standard input to its end and then sets the flag that
 * PlatformInputEnded reads; 0 if the thread cannot start. */
int PlatformWatchInput(void);
int PlatformInputEnded(void);

#endif /* VEXIL_TOOLS_SAMPLE_HOST_C_HOST_PLATFORM_H_ */
