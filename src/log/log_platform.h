// What the log writer asks of the platform: the clock, the folder, the executable's path, the
// profile and the file. Implemented in log_platform_win.cc and log_platform_posix.cc; used by
// conn_log.cc only.
#ifndef VEXIL_LOG_LOG_PLATFORM_H_
#define VEXIL_LOG_LOG_PLATFORM_H_

#include <cstdint>
#include <cstdio>
#include <string>

#include "log/conn_log.h"

namespace vexil::log_platform {

// The separator between a folder and a file name in paths.
extern const wchar_t kPathSeparator;

LogTime SystemLocalTime();
// The profile a library load reads its level from.
std::wstring DefaultProfilePath();
// Creates the log folder where it is missing and returns it with a trailing separator, as the file
// path starts; empty when there is no folder to write to (then no line is ever written).
std::wstring PrepareLogDirectory();
// The executable's path as the log names its file; empty when it cannot be read.
std::wstring ModulePath();
// The value of key in [section] of the profile at path, and whether one was there and not empty.
bool ReadProfileValue(const wchar_t* path, const wchar_t* section, const wchar_t* key,
                      std::wstring* value);
// Why the profile at path may not be trusted with settings that protect the process: empty when
// only root or this process's user can change it (or it does not exist); otherwise who else can,
// for the log. Windows: always empty (the profile lives in the Windows directory).
std::wstring ProfileUntrustedWhy(const wchar_t* path);
// Opens path for appending one line, not inherited by child processes; null when it cannot be
// opened.
FILE* OpenForAppend(const std::wstring& path);

}  // namespace vexil::log_platform

#endif  // VEXIL_LOG_LOG_PLATFORM_H_
