#include "host/connect_rules.h"

namespace vexil {

std::wstring AgentAddress(const std::wstring& haip) {
  return haip.size() >= 8 ? haip : std::wstring(kDefaultAgentAddress);
}

std::wstring ExecutableBaseName(const std::wstring& path) {
  const size_t dot = path.rfind(L'.');
  const size_t slash = path.rfind(L'\\');
  if (dot == std::wstring::npos) return std::wstring();
  const size_t start = slash == std::wstring::npos ? 0 : slash + 1;
  if (dot < start) return std::wstring();
  return path.substr(start, dot - start);
}

std::wstring PosixExecutableName(const std::wstring& path) {
  const size_t slash = path.rfind(L'/');
  const std::wstring name = slash == std::wstring::npos ? path : path.substr(slash + 1);
  const size_t dot = name.rfind(L'.');
  // A leading dot names a hidden file, not an extension.
  if (dot == std::wstring::npos || dot == 0) return name;
  return name.substr(0, dot);
}

std::wstring RegisteredExecutableName(const std::wstring& path) {
#ifdef _WIN32
  return ExecutableBaseName(path);
#else
  return PosixExecutableName(path);
#endif
}

}  // namespace vexil
