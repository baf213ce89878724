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

}  // namespace vexil
