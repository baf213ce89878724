// The host process as the connector reports it: its identifier and its executable's path (on
// POSIX read from /proc/self/exe).
#ifndef VEXIL_LOG_PROCESS_INFO_H_
#define VEXIL_LOG_PROCESS_INFO_H_

#include <cstdint>
#include <string>

namespace vexil {

uint32_t CurrentProcessId();
// The full path of the process's executable, however long; empty (with the system's last error
// standing) when it cannot be read.
std::wstring ExecutablePath();

}  // namespace vexil

#endif  // VEXIL_LOG_PROCESS_INFO_H_
