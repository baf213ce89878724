// How the worker names its agent and itself. Platform-free.
#ifndef VEXIL_HOST_CONNECT_RULES_H_
#define VEXIL_HOST_CONNECT_RULES_H_

#include <string>

namespace vexil {

// The agent's fixed port: a base port of 8989 plus one. The HAPORT option does not change it.
constexpr unsigned short kAgentPort = 8990;
constexpr wchar_t kDefaultAgentAddress[] = L"127.0.0.1";

// haip when it has at least 8 characters, else "127.0.0.1".
std::wstring AgentAddress(const std::wstring& haip);

// The file name of an executable path without directory and extension: the characters between
// the last "\" and the last "."; empty when there is no dot after the last backslash.
std::wstring ExecutableBaseName(const std::wstring& path);
// The file name of a POSIX executable path: the characters after the last "/", without the
// extension when the name has one (a dot after its first character); a name without one, the
// usual case on POSIX, is returned whole.
std::wstring PosixExecutableName(const std::wstring& path);
// The name Register carries for the executable at path: ExecutableBaseName on Windows,
// PosixExecutableName on POSIX.
std::wstring RegisteredExecutableName(const std::wstring& path);

}  // namespace vexil

#endif  // VEXIL_HOST_CONNECT_RULES_H_
