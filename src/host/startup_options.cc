#include "host/startup_options.h"

#include <algorithm>
#include <cwchar>
#include <limits>
#include <utility>

#include "host/connect_rules.h"
#include "sync/check.h"

namespace vexil {
namespace {

// The element of argv[first] to argv[argc - 1] that is at least min_extra characters longer than
// name and contains it, with the position just past name in it; null when there is none.
const wchar_t* FindAfterName(int argc, const wchar_t* const* argv, int first, const wchar_t* name,
                             size_t min_extra, int* element = nullptr) {
  const size_t name_length = std::wcslen(name);
  for (int i = first; i < argc; ++i) {
    if (std::wcslen(argv[i]) < name_length + min_extra) continue;
    const wchar_t* found = std::wcsstr(argv[i], name);
    if (found == nullptr) continue;
    if (element != nullptr) *element = i;
    return found + name_length;
  }
  return nullptr;
}

// Like the runtime's wide decimal conversion with a 32-bit long: leading white space, an optional
// sign, the digits up to the first non-digit (none gives 0), saturated at the 32-bit range.
int32_t DecimalToInt32(const wchar_t* text) {
  const long long value = std::wcstoll(text, nullptr, 10);
  return static_cast<int32_t>(std::clamp<long long>(value, std::numeric_limits<int32_t>::min(),
                                                    std::numeric_limits<int32_t>::max()));
}

// "GSID is missing (...)" or "GSID \"abc\" is not a non-zero number (...)"; empty when the
// option holds a non-zero number.
std::wstring NumberProblem(int argc, const wchar_t* const* argv, const wchar_t* name,
                           const wchar_t* valid_form) {
  const std::optional<std::wstring> value = FindOptionValue(argc, argv, name);
  std::wstring problem = name;
  if (!value) {
    problem += L" is missing";
  } else if (DecimalToInt32(value->c_str()) == 0) {
    problem += L" \"" + *value + L"\" is not a non-zero number";
  } else {
    return std::wstring();
  }
  return problem + L" (give " + valid_form + L")";
}

}  // namespace

std::optional<std::wstring> FindOptionValue(int argc, const wchar_t* const* argv,
                                            const wchar_t* name) {
  if (name == nullptr) {
    CheckFailed();
    return std::nullopt;
  }
  // From argv[1], like the flag lookup: argv[0] is the program path, and a path such as
  // C:\GSIDsrv\game.exe must not hide a later -GSID:12. The length rule leaves room for the
  // name, the separator and at least one character of value.
  const wchar_t* after = FindAfterName(argc, argv, 1, name, 3);
  if (after == nullptr) return std::nullopt;
  return std::wstring(after + 1);
}

int32_t FindOptionNumber(int argc, const wchar_t* const* argv, const wchar_t* name) {
  const std::optional<std::wstring> value = FindOptionValue(argc, argv, name);
  return value ? DecimalToInt32(value->c_str()) : 0;
}

bool HasOptionFlag(int argc, const wchar_t* const* argv, const wchar_t* name) {
  return FindFlagElement(argc, argv, name) != 0;
}

StartupOutcome ReadStartupOptions(int argc, const wchar_t* const* argv, ConnSettings* settings) {
  if (argc == 1) return StartupOutcome::kUnchanged;
  if (HasOptionFlag(argc, argv, L"NOUSEVEXIL")) return StartupOutcome::kDisabled;
  if (argc < 5) return StartupOutcome::kRejected;
  settings->gsid = FindOptionNumber(argc, argv, L"GSID");
  settings->haport = FindOptionNumber(argc, argv, L"HAPORT");
  if (settings->gsid == 0 || settings->haport == 0) return StartupOutcome::kRejected;
  std::optional<std::wstring> haip = FindOptionValue(argc, argv, L"HAIP");
  if (!haip) return StartupOutcome::kRejected;
  settings->haip = std::move(*haip);
  std::optional<std::wstring> cnfgfile = FindOptionValue(argc, argv, L"CNFGFILE");
  if (cnfgfile) settings->cnfgfile = std::move(*cnfgfile);
  return StartupOutcome::kAccepted;
}

std::wstring DescribeRefusal(int argc, const wchar_t* const* argv) {
  std::wstring line = L"VexilInitConn refused the options: ";
  if (argc < 5) {
    return line + std::to_wstring(argc) +
           L" command-line elements given, at least 5 are needed (the program, -GSID:N, "
           L"-HAPORT:8990, -HAIP:ADDRESS and one more of any kind)";
  }
  std::wstring problems;
  const auto add = [&problems](const std::wstring& problem) {
    if (problem.empty()) return;
    if (!problems.empty()) problems += L"; ";
    problems += problem;
  };
  add(NumberProblem(argc, argv, L"GSID", L"a non-zero number, for example -GSID:12"));
  add(NumberProblem(argc, argv, L"HAPORT", L"-HAPORT:8990"));
  if (!FindOptionValue(argc, argv, L"HAIP")) {
    add(L"HAIP is missing (give the HA agent's IPv4 address, for example -HAIP:127.0.0.1)");
  }
  return line + problems;
}

int FindFlagElement(int argc, const wchar_t* const* argv, const wchar_t* name) {
  if (name == nullptr) {
    CheckFailed();
    return 0;
  }
  int element = 0;
  FindAfterName(argc, argv, 1, name, 1, &element);
  return element;
}

std::wstring DescribeDisabling(int argc, const wchar_t* const* argv) {
  const int element = FindFlagElement(argc, argv, L"NOUSEVEXIL");
  if (element == 0) return std::wstring();
  return L"NOUSEVEXIL found in command-line element " + std::to_wstring(element) + L" \"" +
         argv[element] + L"\": the connector is switched off for this process";
}

std::wstring DescribeAgentSource(int argc, const wchar_t* const* argv,
                                 const ConnSettings& settings) {
  if (AgentAddress(settings.haip) != settings.haip) return std::wstring();
  int element = 0;
  if (FindAfterName(argc, argv, 1, L"HAIP", 3, &element) == nullptr) return std::wstring();
  return L"HAIP found in command-line element " + std::to_wstring(element) + L" \"" +
         argv[element] + L"\": the HA agent is reached at " + settings.haip;
}

std::vector<std::wstring> DescribeSubstitutions(const ConnSettings& settings) {
  std::vector<std::wstring> lines;
  if (settings.haport != kAgentPort) {
    lines.push_back(L"HAPORT " + std::to_wstring(settings.haport) +
                    L" is not used: the HA agent is always reached on port " +
                    std::to_wstring(kAgentPort));
  }
  const std::wstring address = AgentAddress(settings.haip);
  if (address != settings.haip) {
    lines.push_back(L"HAIP \"" + settings.haip +
                    L"\" is shorter than 8 characters: the HA agent is reached at " + address +
                    L" instead");
  }
  return lines;
}

}  // namespace vexil
