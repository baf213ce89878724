/* The C sample host: the same small game server as the C++ sample host, serving the HA agent
 * through the callback table of the C interface. */
#ifndef VEXIL_TOOLS_SAMPLE_HOST_C_SAMPLE_HOST_C_H_
#define VEXIL_TOOLS_SAMPLE_HOST_C_SAMPLE_HOST_C_H_

#include <stddef.h>

/* Runs the host with its own command line (argv[0] the program); returns the exit status. */
int RunSampleHost(int argc, const wchar_t* const* argv);

#endif /* VEXIL_TOOLS_SAMPLE_HOST_C_SAMPLE_HOST_C_H_ */
