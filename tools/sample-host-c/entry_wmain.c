/* The entry point of the C sample host built with MinGW: the C runtime passes the wide command
 * line, as VexilInitConn wants it. */
#include <stddef.h>

#include "sample_host_c.h"

int wmain(int argc, wchar_t** argv);

int wmain(int argc, wchar_t** argv) { return RunSampleHost(argc, (const wchar_t* const*)argv); }
