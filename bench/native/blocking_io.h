// Whole writes and reads on a blocking socket for the native benchmark programs: either all the
// bytes move or the process ends with the failed call's name.
#ifndef VEXIL_BENCH_NATIVE_BLOCKING_IO_H_
#define VEXIL_BENCH_NATIVE_BLOCKING_IO_H_

#include <cstddef>

namespace vexil::bench {

// Prints what failed with errno's text and ends the process at once.
[[noreturn]] void Fail(const char* what);
// Sends all size bytes (never raising SIGPIPE).
void WriteAll(int fd, const void* data, size_t size);
// Receives exactly size bytes.
void ReadAll(int fd, void* data, size_t size);

}  // namespace vexil::bench

#endif  // VEXIL_BENCH_NATIVE_BLOCKING_IO_H_
