#include "host/startup_options.h"

#include <algorithm>
#include <cwchar>
#include <limits>
#include <utility>

#include "sync/check.h"

namespace vexil {
namespace {

// The element of argv[first] to argv[argc - 1] that is at least min_extra characters longer than
// name and contains it, with the position just past name in it; null when there is none.
const wchar_t* FindAfterName(int argc, const wchar_t* const* argv, int first, const wchar_t* name,
                             size_t min_extra) {
  const size_t name_length = std::wcslen(name);
  for (int i = first; i < argc; ++i) {
    if (std::wcslen(argv[i]) < name_length + min_extra) continue;
    const wchar_t* found = std::wcsstr(argv[i], name);
    if (found != nullptr) return found + name_length;
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
  if (name == nullptr) {
    CheckFailed();
    return false;
  }
  return FindAfterName(argc, argv, 1, name, 1) != nullptr;
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

}  // namespace vexil
